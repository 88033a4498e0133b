// SPDX-License-Identifier: Apache-2.0
#include "tests/support/config_text.h"

#include <algorithm>
#include <cstdio>

std::string dump_string(const char* s)
{
    if (s == nullptr)
        return "(null)";
    std::string out;
    for (; *s != '\0'; ++s) {
        const auto byte = static_cast<unsigned char>(*s);
        if (byte >= 0x20 && byte < 0x7f) {
            out += *s;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(byte));
            out += hex;
        }
    }
    return out;
}

std::string dump_config(const config_section* root)
{
    std::string out;
    for (const config_section* section = root; section != nullptr; section = section->next) {
        out += "[" + dump_string(section->name) + "]\n";
        for (const config_property* p = section->properties; p != nullptr; p = p->next) {
            out += dump_string(p->name);
            if (p->separator != '\0' || p->value != nullptr) {
                const char separator[] = {p->separator, '\0'};
                out += dump_string(separator) + dump_string(p->value);
            }
            out += "\n";
        }
    }
    return out;
}

config_ptr parse_in_pieces(const char* text, std::size_t size, std::size_t piece_size, bool* out_of_memory)
{
    *out_of_memory = false;
    config_parser parser{};
    std::string buffer;
    for (std::size_t fed = 0; !parser.ended;) {
        const std::size_t piece = std::min(piece_size, size - fed);
        buffer.append(text + fed, piece);
        fed += piece;
        const char* rest = parse_config_piece(&parser, buffer.c_str(), buffer.c_str() + buffer.size(), fed == size);
        if (rest == nullptr) {
            *out_of_memory = true;
            return nullptr;
        }
        buffer.erase(0, static_cast<std::size_t>(rest - buffer.c_str()));
    }
    return config_ptr(parser.root);
}
