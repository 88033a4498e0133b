// SPDX-License-Identifier: Apache-2.0
package velta.test;

import java.net.InetSocketAddress;
import java.net.ServerSocket;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;

/**
 * After 300 ms writes "started" to the file args[1], listens on TCP port
 * args[0] of every address (IPv4 only with java.net.preferIPv4Stack=true,
 * else IPv6 and IPv4) and returns, leaving a non-daemon thread that adds
 * "ended" 700 ms later.
 */
public class Serve {
    public static void main(String[] args) throws Exception {
        Path out = Paths.get(args[1]);
        Thread.sleep(300);
        Files.write(out, "started\n".getBytes());
        ServerSocket server = new ServerSocket();
        server.bind(new InetSocketAddress(Integer.parseInt(args[0])));
        new Thread(() -> {
            try (server) {
                Thread.sleep(700);
                Files.write(out, "ended\n".getBytes(), StandardOpenOption.APPEND);
            } catch (Exception e) {
                throw new RuntimeException(e);
            }
        }).start();
    }
}
