package velta.test;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * Installs a default uncaught-exception handler, then throws from main. The handler writes what it caught to the
 * file named by velta.out and, given an argument, ends the process with that status.
 */
public class Handled {
    public static void main(String[] args) {
        Thread.setDefaultUncaughtExceptionHandler((thread, thrown) -> {
            String caught = "handled in " + thread.getName() + ": " + thrown + "\n";
            try {
                Files.write(Paths.get(System.getProperty("velta.out")), caught.getBytes(StandardCharsets.UTF_8));
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            }
            if (args.length > 0) {
                System.exit(Integer.parseInt(args[0]));
            }
        });
        throw new IllegalStateException("thrown by velta.test.Handled");
    }
}
