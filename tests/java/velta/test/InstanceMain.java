// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** An instance main(String[]), which the launcher prefers to a static main(). */
public class InstanceMain {
    void main(String[] args) {
        System.out.println("main(String[]) of " + getClass().getName() + " with " + args.length + " arguments");
    }

    static void main() {
        System.out.println("static main()");
    }
}
