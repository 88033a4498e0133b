// SPDX-License-Identifier: Apache-2.0
package velta.test;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;

/** Returns from main at once, leaving a non-daemon thread that writes velta.out later. */
public class Linger {
    public static void main(String[] args) {
        Thread worker = new Thread(() -> {
            try {
                Thread.sleep(500);
                Files.write(Paths.get(System.getProperty("velta.out")), "lingered\n".getBytes());
            } catch (InterruptedException | IOException e) {
                throw new RuntimeException(e);
            }
        });
        worker.setDaemon(false);
        worker.start();
    }
}
