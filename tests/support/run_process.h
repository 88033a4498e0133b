// SPDX-License-Identifier: Apache-2.0
// Runs a program to its end with its output captured, for end-to-end tests.
#pragma once

#include <map>
#include <string>
#include <vector>

struct process_result {
    int status;         // exit status, or 128 + signal number
    std::string output; // standard output
    std::string errors; // standard error
};

// Runs `arguments` (element 0 is the program's path) with this process's
// environment plus `environment`, in `working_folder` unless it is empty,
// and waits for it. Its standard input is /dev/null; each of descriptors 0, 1
// and 2 in `closed` is closed instead.
process_result run_process(const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment,
                           const std::string& working_folder = "", const std::vector<int>& closed = {});

struct launch_result {
    process_result process;
    std::string logged; // what the program logged, "<priority> <message>" lines
};

// run_process with the syslog stand-in preloaded, so that what the program
// logs is captured rather than sent to the system log. The capture folder is
// writable by anyone, for a program run under another user.
launch_result launch(const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment = {},
                     const std::string& working_folder = "", const std::vector<int>& closed = {});
