// SPDX-License-Identifier: Apache-2.0
package velta.test;

import java.io.IOException;
import java.net.ServerSocket;
import java.nio.file.Files;
import java.nio.file.Paths;

/** Writes "started" to velta.out and returns from main at once, leaving a non-daemon thread that writes "lingered"
 *  there later; until then it listens on the TCP port args[0] (default: any free one) of every address. */
public class Linger {
    public static void main(String[] args) throws IOException {
        Files.write(Paths.get(System.getProperty("velta.out")), "started\n".getBytes());
        ServerSocket server = new ServerSocket(args.length > 0 ? Integer.parseInt(args[0]) : 0);
        Thread worker = new Thread(() -> {
            try (server) {
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
