// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** An instance main() whose constructor throws, so that main never runs. */
public class ThrowingConstructor {
    ThrowingConstructor() {
        throw new IllegalStateException("thrown by the constructor of velta.test.ThrowingConstructor");
    }

    void main() {
        System.out.println("main()");
    }
}
