// SPDX-License-Identifier: Apache-2.0
package velta.test;

import java.io.File;
import java.io.RandomAccessFile;
import java.lang.management.ManagementFactory;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.stream.Stream;

/**
 * Writes to velta.out its class cache options, with this process's id as PID and descriptors as N,
 * and the caches it maps, then does "exit N", "remove FOLDER", "terminate", "classes NAME...",
 * which adds to velta.out whether each class can be loaded, or "relaunch FILE", which starts java
 * with its own input arguments, as programs that restart the VM do, to run "hold FILE", and
 * prints the child's status and output. "hold FILE" holds FILE open for writing on 64
 * descriptors, prints "held" and ends.
 */
public class CacheProbe {
    public static void main(String[] args) throws Exception {
        String action = args.length > 0 ? args[0] : "";
        if (action.equals("hold")) {
            List<RandomAccessFile> held = new ArrayList<>();
            for (int i = 0; i < 64; ++i) {
                held.add(new RandomAccessFile(args[1], "rw"));
            }
            System.out.println("held");
            return;
        }
        StringBuilder out = new StringBuilder();
        String pid = Long.toString(ProcessHandle.current().pid());
        List<String> inputArguments = ManagementFactory.getRuntimeMXBean().getInputArguments();
        for (String option : inputArguments) {
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
        for (int i = 1; action.equals("classes") && i < args.length; ++i) {
            try {
                Class.forName(args[i]);
                out.append(args[i]).append(" found\n");
            } catch (ClassNotFoundException e) {
                out.append(args[i]).append(" missing\n");
            }
        }
        Files.writeString(Paths.get(System.getProperty("velta.out")), out);
        if (action.equals("exit")) {
            System.exit(Integer.parseInt(args[1]));
        } else if (action.equals("remove")) {
            try (Stream<Path> files = Files.walk(Paths.get(args[1]))) {
                files.sorted(Comparator.reverseOrder()).map(Path::toFile).forEach(File::delete);
            }
        } else if (action.equals("terminate")) {
            new ProcessBuilder("kill", "-TERM", pid).start().waitFor();
            Thread.sleep(60000);
        } else if (action.equals("relaunch")) {
            List<String> command = new ArrayList<>(List.of(Paths.get(home, "bin", "java").toString()));
            command.addAll(inputArguments);
            command.addAll(List.of("-cp", System.getProperty("java.class.path"), CacheProbe.class.getName(), "hold", args[1]));
            Process child = new ProcessBuilder(command).redirectErrorStream(true).start();
            String output = new String(child.getInputStream().readAllBytes());
            System.out.print("child " + child.waitFor() + "\n" + output);
        }
    }
}
