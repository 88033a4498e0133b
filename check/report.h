// SPDX-License-Identifier: Apache-2.0
// velta-java-check's report: what a launch made, printed from `launcher`
// (launcher/launcher.h) on standard output. Each value is one line whatever
// it holds: control bytes, DEL, bytes that are not UTF-8 and "^" itself are
// printed as the configuration writes them, ^ and two hexadecimal digits.
#pragma once

// Prints what the launch made up to the class cache's acting step, in the
// launch's order: the configuration, the launcher section's keys, the VM
// library, the VM options, the class path, the main class, main's arguments,
// the class cache's plan and when the service manager is told the program is
// ready, with a "warning:" line for each thing a launch would not report.
// Returns 0, or -1 when memory ran out.
int print_launch_report();

// Prints what the launch's later steps made, once the VM has been created:
// the main method found and main's String[].
void print_start_report();
