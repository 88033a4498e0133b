// SPDX-License-Identifier: Apache-2.0
#include "tests/support/jdks.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

std::vector<jdk> installed_jdks()
{
    std::vector<jdk> found;
    std::set<std::string> seen;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/jvm", error)) {
        // A link such as default-java names a JDK that its own folder names
        // too: the tests are named after the folder, whatever links exist.
        const std::filesystem::path libjvm = entry.path() / "lib/server/libjvm.so";
        if (entry.is_symlink() || !std::filesystem::exists(libjvm)
            || !seen.insert(std::filesystem::canonical(libjvm).string()).second)
            continue;
        std::ifstream release(entry.path() / "release");
        std::string line;
        int major = 0;
        const std::regex version("^JAVA_VERSION=\"(1\\.)?([0-9]+)");
        std::smatch match;
        while (std::getline(release, line)) {
            if (std::regex_search(line, match, version))
                major = std::stoi(match[2]);
        }
        std::string name = entry.path().filename().string();
        std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        found.push_back({name, libjvm.string(), (entry.path() / "bin/java").string(), major});
    }
    std::sort(found.begin(), found.end(), [](const jdk& a, const jdk& b) { return a.name < b.name; });
    return found;
}

void PrintTo(const jdk& installed, std::ostream* out)
{
    *out << installed.name << " (" << installed.major << ")";
}
