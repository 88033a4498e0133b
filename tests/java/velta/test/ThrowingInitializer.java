// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** Cannot be loaded as the main class: its static initializer throws. */
public class ThrowingInitializer {
    static final int VALUE = Integer.parseInt("not a number");
}
