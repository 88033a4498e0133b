// SPDX-License-Identifier: Apache-2.0
// The JDKs the end-to-end tests run on.
#pragma once

#include <ostream>
#include <string>
#include <vector>

struct jdk {
    std::string name; // the folder's name with every other character than a letter or digit as "_"
    std::string libjvm;
    std::string java; // its java command
    int major;
};

// Every JDK under /usr/lib/jvm with a server VM, each once however many
// links lead to it, sorted by name.
std::vector<jdk> installed_jdks();

void PrintTo(const jdk& installed, std::ostream* out);
