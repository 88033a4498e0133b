// Helpers for the configuration tests: a readable rendering of a parsed
// configuration, and an owner that frees it so LeakSanitizer sees no leak.
#pragma once

#include "config/config.h"

#include <cstdio>
#include <memory>
#include <string>

// A null string reads "(null)"; a byte outside printable ASCII reads "\xNN",
// so a line end or an escaped control byte stays visible.
inline std::string dump_string(const char* s)
{
    if (s == nullptr)
        return "(null)";
    std::string out;
    for (; *s != '\0'; ++s) {
        const auto byte = static_cast<unsigned char>(*s);
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(byte));
        out += byte >= 0x20 && byte < 0x7f ? std::string(1, *s) : std::string(hex);
    }
    return out;
}

// One "[name]" line per section, then one "name=value" line per property.
inline std::string dump_config(const config_section* root)
{
    std::string out;
    for (const config_section* section = root; section != nullptr; section = section->next) {
        out += "[" + dump_string(section->name) + "]\n";
        for (const config_property* p = section->properties; p != nullptr; p = p->next)
            out += dump_string(p->name) + "=" + dump_string(p->value) + "\n";
    }
    return out;
}

// The library never frees a configuration: it lives as long as the process.
// Tests free theirs, through the parser's own cleanup, so that LeakSanitizer
// sees only real leaks.
struct config_deleter {
    void operator()(config_section* root) const
    {
        config_parser parser{root, nullptr, nullptr, false};
        discard_config_parser(&parser);
    }
};
using config_ptr = std::unique_ptr<config_section, config_deleter>;
