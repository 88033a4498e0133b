// SPDX-License-Identifier: Apache-2.0
package velta.example;

import java.nio.file.Path;

/**
 * An application that travels with its own Java runtime: it says which
 * runtime and which jar it runs from, and what it was given.
 */
public final class Bundle {
    private Bundle() {
    }

    public static void main(String[] args) throws Exception {
        System.out.println("runtime: " + System.getProperty("java.home"));
        System.out.println("jar: " + Path.of(Bundle.class.getProtectionDomain().getCodeSource().getLocation().toURI()));
        for (String argument : args) {
            System.out.println("argument: [" + argument + "]");
        }
    }
}
