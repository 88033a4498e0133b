// SPDX-License-Identifier: Apache-2.0
package velta.bench;

/** The program every launcher in the time-to-main benchmark runs: one line out, then done. */
public class Hello {
    public static void main(String[] args) {
        System.out.println("Hello from " + System.getProperty("java.vm.name") + " " + args.length);
    }
}
