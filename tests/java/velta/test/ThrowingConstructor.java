package velta.test;

import java.io.IOException;

/** An instance main() whose constructor throws, so that main never runs. */
public class ThrowingConstructor {
    ThrowingConstructor() {
        throw new IllegalStateException("thrown by the constructor of velta.test.ThrowingConstructor");
    }

    void main() throws IOException {
        InstanceMain.write("main()\n");
    }
}
