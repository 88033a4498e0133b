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
// environment plus `environment`, and waits for it.
process_result run_process(const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment);
