// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** A static main(), which runs because the main(String[]) beside it is private. */
public class StaticMainWithoutArguments {
    private void main(String[] args) {
        System.out.println("private main(String[])");
    }

    static void main() {
        System.out.println("static main()");
    }
}
