// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** A protected instance main(). */
public class InstanceMainWithoutArguments {
    protected void main() {
        System.out.println("main() of " + getClass().getName());
    }
}
