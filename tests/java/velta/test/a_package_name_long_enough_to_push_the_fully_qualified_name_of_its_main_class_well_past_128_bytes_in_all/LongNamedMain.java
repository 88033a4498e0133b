// SPDX-License-Identifier: Apache-2.0
package velta.test.a_package_name_long_enough_to_push_the_fully_qualified_name_of_its_main_class_well_past_128_bytes_in_all;

/** A main class whose fully qualified name is longer than 128 bytes. */
public class LongNamedMain {
    public static void main(String[] args) throws java.io.IOException {
        velta.test.Echo.main(args);
    }
}
