package velta.test;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

/** An instance main(String[]), which the launcher prefers to a static main(); writes which ran to velta.out. */
public class InstanceMain {
    void main(String[] args) throws IOException {
        write("main(String[]) of " + getClass().getName() + " with " + args.length + " arguments\n");
    }

    static void main() throws IOException {
        write("static main()\n");
    }

    static void write(String text) throws IOException {
        Files.write(Paths.get(System.getProperty("velta.out")), text.getBytes(StandardCharsets.UTF_8));
    }
}
