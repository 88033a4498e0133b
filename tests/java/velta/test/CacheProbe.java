// SPDX-License-Identifier: Apache-2.0
package velta.test;

import java.lang.management.ManagementFactory;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/** Writes to the file velta.out names its process number, its class-data options, and what their folder holds. */
public class CacheProbe {
    public static void main(String[] args) throws Exception {
        StringBuilder out = new StringBuilder("pid " + ProcessHandle.current().pid() + "\n");
        Path archive = null;
        for (String option : ManagementFactory.getRuntimeMXBean().getInputArguments()) {
            if (option.startsWith("-Xlog:cds") || option.contains("Archive")) {
                out.append(option).append('\n');
                archive = Paths.get(option.substring(option.indexOf('=') + 1));
            }
        }
        try (Stream<Path> files = Files.list(archive.getParent())) {
            out.append("holds ").append(files.map(file -> file.getFileName().toString()).sorted()
                    .collect(Collectors.joining(" "))).append('\n');
        }
        Files.writeString(Paths.get(System.getProperty("velta.out")), out);
    }
}
