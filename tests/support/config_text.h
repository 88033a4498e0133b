// SPDX-License-Identifier: Apache-2.0
// Configurations as tests read them: a readable rendering of the records, an
// owner that frees them, and the parse in pieces that the file reader does.
#pragma once

#include "config/config.h"

#include <cstddef>
#include <memory>
#include <string>

// A null string reads "(null)"; a byte outside printable ASCII reads "\xNN",
// so a line end or an escaped control byte stays visible.
std::string dump_string(const char* s);

// One "[name]" line per section, then one line per property: its name, its
// separator and its value, as in "k=v", "k:(null)"; a line that had no
// separator reads as its name alone.
std::string dump_config(const config_section* root);

// The launcher never frees its configuration; tests do, so that
// LeakSanitizer sees only real leaks.
struct config_deleter {
    void operator()(config_section* root) const { free_config(root); }
};
using config_ptr = std::unique_ptr<config_section, config_deleter>;

// Parses the `size` bytes of `text` as the file reader does: in pieces of
// `piece_size` bytes, each appended to what the parser left of the one
// before. Sets *out_of_memory when the parser ran out of memory (the result
// is then null).
config_ptr parse_in_pieces(const char* text, std::size_t size, std::size_t piece_size, bool* out_of_memory);
