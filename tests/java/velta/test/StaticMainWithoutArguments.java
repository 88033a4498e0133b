package velta.test;

import java.io.IOException;

/** A static main(), which runs because the main(String[]) beside it is private. */
public class StaticMainWithoutArguments {
    private void main(String[] args) throws IOException {
        InstanceMain.write("private main(String[])\n");
    }

    static void main() throws IOException {
        InstanceMain.write("static main()\n");
    }
}
