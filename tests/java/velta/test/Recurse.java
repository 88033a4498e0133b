// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** A main that overflows its stack. */
public class Recurse {
    static int depth(int n) {
        return depth(n + 1) + 1;
    }

    public static void main(String[] args) {
        depth(0);
    }
}
