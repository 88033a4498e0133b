// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** Runs the instance main(String[]) it inherits, on an instance of itself. */
public class InheritedMain extends InstanceMain {
}
