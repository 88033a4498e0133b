// SPDX-License-Identifier: Apache-2.0
package velta.test;

/** A class without a main method the launcher may run: its own are private, take an int or return a value. */
public class NoMain {
    private void main() {
    }

    void main(int status) {
    }

    int main(String[] args) {
        return args.length;
    }
}
