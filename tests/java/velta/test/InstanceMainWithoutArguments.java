package velta.test;

import java.io.IOException;

/** A protected instance main(). */
public class InstanceMainWithoutArguments {
    protected void main() throws IOException {
        InstanceMain.write("main() of " + getClass().getName() + "\n");
    }
}
