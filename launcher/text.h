// SPDX-License-Identifier: Apache-2.0
// Small string helpers of the launcher's files. Every string the launcher
// builds is measured first and then written, in one allocation: a pass with
// a null `out` only measures.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>

// Copies `length` bytes of `text` to out + at unless `out` is null, and
// returns the position after them.
inline size_t put_text(char* out, size_t at, const char* text, size_t length)
{
    if (out != nullptr)
        std::memcpy(out + at, text, length);
    return at + length;
}

// Returns a new copy of `text`, owned by the caller (free); null when memory
// runs out.
inline char* copy_text(const char* text)
{
    const size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr)
        std::memcpy(copy, text, size);
    return copy;
}

// Writes `dotted` with every "." turned into "/" to `slashed`, which has room
// for strlen(dotted) + 1 bytes: the form FindClass takes.
inline void convert_dots_to_slashes(const char* dotted, char* slashed)
{
    for (; *dotted != '\0'; ++dotted, ++slashed)
        *slashed = *dotted == '.' ? '/' : *dotted;
    *slashed = '\0';
}

// Takes the next option from *text, the value of a variable the VM reads
// options from (JAVA_TOOL_OPTIONS, _JAVA_OPTIONS), as the VM splits it: at
// white space, where a part in single or double quotes may hold white space,
// the quotes themselves dropped. Writes the option to `option`, which has
// room for `size` bytes (at least 1), cut short to fit, and moves *text past
// it. Returns 1 with an option, 0 when none is left, -1 at a quote that is
// not closed, for which the VM refuses to start.
inline int take_vm_option(const char** text, char* option, size_t size)
{
    const char* at = *text;
    while (std::isspace(static_cast<unsigned char>(*at)))
        ++at;
    size_t length = 0;
    const bool found = *at != '\0';
    while (*at != '\0' && !std::isspace(static_cast<unsigned char>(*at))) {
        if (*at != '\'' && *at != '"') {
            if (length + 1 < size)
                option[length++] = *at;
            ++at;
            continue;
        }
        const char* close = std::strchr(at + 1, *at);
        if (close == nullptr) {
            *text = at;
            return -1;
        }
        for (++at; at < close; ++at) {
            if (length + 1 < size)
                option[length++] = *at;
        }
        at = close + 1;
    }
    option[length] = '\0';
    *text = at;
    return found ? 1 : 0;
}
