// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** Prints to standard output how many calls deep main's thread recursed before its stack overflowed. */
public class Depth {
    static int depth;

    static void descend() {
        ++depth;
        descend();
    }

    public static void main(String[] args) {
        try {
            descend();
        } catch (StackOverflowError expected) {
            System.out.println(depth);
        }
    }
}
