// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** An instance main() that cannot run: the only constructor is private. */
public class PrivateConstructor {
    private PrivateConstructor() {
    }

    void main() {
        System.out.println("main()");
    }
}
