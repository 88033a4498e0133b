// SPDX-License-Identifier: Apache-2.0
// The tests' own zip writer, another than the JDK's, for jars laid out as a
// test needs them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct zip_member {
    std::string name;
    std::string data;
    uint64_t method = 8; // 0 stored, 8 deflated
    uint64_t flags = 0;
};

struct zip_layout {
    std::string prefix; // bytes in front, the archive's offsets not counting them
    bool zip64 = false; // zip64 end record and locator (which counts the prefix, as the JDK wants)
    bool zip64_extra = false;
    std::string comment;
};

// Appends `value` as `size` little-endian bytes.
void put(std::string& out, uint64_t value, int size);

// The bytes of a zip archive of `members`, in order, laid out as `layout` says.
std::string zip(const std::vector<zip_member>& members, const zip_layout& layout = {});
