package velta.test;

import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/**
 * Writes to the file named by the property velta.out its process number, the VM options that concern class-data
 * archives, and what the folder of the last archive they name holds while main runs, sorted.
 */
public class CacheProbe {
    public static void main(String[] args) throws IOException {
        StringBuilder out = new StringBuilder("pid " + ProcessHandle.current().pid() + "\n");
        Path folder = null;
        for (String option : ManagementFactory.getRuntimeMXBean().getInputArguments()) {
            if (option.startsWith("-Xlog:cds") || option.contains("Archive")) {
                out.append(option).append('\n');
                folder = Paths.get(option.substring(option.indexOf('=') + 1)).getParent();
            }
        }
        if (folder != null) {
            try (Stream<Path> files = Files.list(folder)) {
                out.append("holds ").append(files.map(file -> file.getFileName().toString()).sorted()
                        .collect(Collectors.joining(" "))).append('\n');
            }
        }
        Files.write(Paths.get(System.getProperty("velta.out")), out.toString().getBytes(StandardCharsets.UTF_8));
    }
}
