// SPDX-License-Identifier: Apache-2.0
package velta.test;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

/** Writes its arguments, one per line in brackets, to the file named by the property velta.out, in UTF-8. */
public class Echo {
    public static void main(String[] args) throws IOException {
        StringBuilder out = new StringBuilder();
        out.append("count ").append(args.length).append('\n');
        for (String arg : args) {
            out.append('[').append(arg).append("]\n");
        }
        for (String name : new String[] {"java.class.path", "velta.flag", "velta.value"}) {
            out.append(name).append(' ').append(System.getProperty(name)).append('\n');
        }
        Files.write(Paths.get(System.getProperty("velta.out")), out.toString().getBytes(StandardCharsets.UTF_8));
    }
}
