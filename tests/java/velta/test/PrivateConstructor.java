package velta.test;

import java.io.IOException;

/** An instance main() that cannot run: the only constructor is private. */
public class PrivateConstructor {
    private PrivateConstructor() {
    }

    void main() throws IOException {
        InstanceMain.write("main()\n");
    }
}
