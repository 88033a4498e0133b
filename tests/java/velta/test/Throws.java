// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** A main that leaves an exception for the launcher to have described. */
public class Throws {
    public static void main(String[] args) {
        throw new IllegalStateException("thrown by velta.test.Throws");
    }
}
