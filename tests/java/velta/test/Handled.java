// SPDX-License-Identifier: Apache-2.0
package velta.test;

/**
 * Installs a default uncaught-exception handler, then throws from main. The handler prints what it caught and,
 * given an argument, ends the process with that status.
 */
public class Handled {
    public static void main(String[] args) {
        Thread.setDefaultUncaughtExceptionHandler((thread, thrown) -> {
            System.out.println("handled in " + thread.getName() + ": " + thrown);
            if (args.length > 0) {
                System.exit(Integer.parseInt(args[0]));
            }
        });
        throw new IllegalStateException("thrown by velta.test.Handled");
    }
}
