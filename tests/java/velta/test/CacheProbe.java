// SPDX-License-Identifier: Apache-2.0
package velta.test;

import java.io.File;
import java.lang.management.ManagementFactory;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Comparator;
import java.util.stream.Stream;

/**
 * Writes to velta.out its class cache options, with this process's id as PID and descriptors as N,
 * and the caches it maps, then does "exit N", "remove FOLDER" or "terminate".
 */
public class CacheProbe {
    public static void main(String[] args) throws Exception {
        StringBuilder out = new StringBuilder();
        String pid = Long.toString(ProcessHandle.current().pid());
        for (String option : ManagementFactory.getRuntimeMXBean().getInputArguments()) {
            if (option.startsWith("-Xlog:cds") || option.startsWith("-Xlog:aot") || option.contains("Archive")
                    || option.contains("AOT")) {
                out.append(option.replace("/proc/self/task/" + pid + "/", "/proc/self/task/PID/")
                        .replace("/proc/" + pid + "/", "/proc/PID/").replaceAll("/fd/[0-9]+", "/fd/N")).append('\n');
            }
        }
        String home = System.getProperty("java.home");
        try (Stream<String> maps = Files.lines(Paths.get("/proc/self/maps"))) {
            for (String path : maps.map(line -> line.trim().split("\\s+", 6))
                    .filter(field -> field.length == 6 && (field[5].endsWith(".jsa") || field[5].endsWith(".aot"))
                            && !field[5].startsWith(home))
                    .map(field -> field[5]).distinct().sorted().toList()) {
                out.append("maps ").append(path).append(" of ").append(Files.getOwner(Paths.get(path)).getName())
                        .append('\n');
            }
        }
        Files.writeString(Paths.get(System.getProperty("velta.out")), out);
        String action = args.length > 0 ? args[0] : "";
        if (action.equals("exit")) {
            System.exit(Integer.parseInt(args[1]));
        } else if (action.equals("remove")) {
            try (Stream<Path> files = Files.walk(Paths.get(args[1]))) {
                files.sorted(Comparator.reverseOrder()).map(Path::toFile).forEach(File::delete);
            }
        } else if (action.equals("terminate")) {
            new ProcessBuilder("kill", "-TERM", Long.toString(ProcessHandle.current().pid())).start().waitFor();
            Thread.sleep(60000);
        }
    }
}
