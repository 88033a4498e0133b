// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** Ends the process with the status given as its first argument. */
public class Exit {
    public static void main(String[] args) {
        System.exit(Integer.parseInt(args[0]));
    }
}
