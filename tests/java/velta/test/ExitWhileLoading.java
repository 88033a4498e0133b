// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** Ends the process with status 7 while the class is being initialized, before main could be called. */
public class ExitWhileLoading {
    static {
        System.exit(7);
    }

    public static void main(String[] args) {
    }
}
