// SPDX-License-Identifier: Apache-2.0
package velta.test;

import java.io.RandomAccessFile;
import java.lang.management.ManagementFactory;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;

/**
 * Starts the java command with its own input arguments, as programs that restart the VM do,
 * and writes to velta.out the child's status and output. The child ("child FILE") holds FILE
 * open for writing on 64 descriptors and ends.
 */
public class Relaunch {
    public static void main(String[] args) throws Exception {
        if (args[0].equals("child")) {
            List<RandomAccessFile> held = new ArrayList<>();
            for (int i = 0; i < 64; ++i) {
                held.add(new RandomAccessFile(args[1], "rw"));
            }
            System.out.println("child ran");
            return;
        }
        List<String> command = new ArrayList<>();
        command.add(Paths.get(System.getProperty("java.home"), "bin", "java").toString());
        command.addAll(ManagementFactory.getRuntimeMXBean().getInputArguments());
        command.addAll(List.of("-cp", System.getProperty("java.class.path"), Relaunch.class.getName(), "child", args[0]));
        Process child = new ProcessBuilder(command).redirectErrorStream(true).start();
        String output = new String(child.getInputStream().readAllBytes());
        Files.writeString(Paths.get(System.getProperty("velta.out")), "child " + child.waitFor() + "\n" + output);
    }
}
