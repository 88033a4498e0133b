// SPDX-License-Identifier: Apache-2.0
package velta.test;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

/** Writes the first byte System.in reads and what descriptors 0, 1 and 2 lead to, to the file named by velta.out. */
public class Descriptors {
    public static void main(String[] args) throws IOException {
        StringBuilder out = new StringBuilder();
        out.append("in ").append(System.in.read()).append('\n');
        for (int descriptor = 0; descriptor <= 2; ++descriptor) {
            out.append("fd ").append(descriptor).append(' ')
                .append(Files.readSymbolicLink(Paths.get("/proc/self/fd/" + descriptor))).append('\n');
        }
        Files.write(Paths.get(System.getProperty("velta.out")), out.toString().getBytes(StandardCharsets.UTF_8));
    }
}
