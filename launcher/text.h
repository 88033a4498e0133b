// SPDX-License-Identifier: Apache-2.0
// Small string helpers of the launcher's files. Every string the launcher
// builds is measured first and then written, in one allocation: a pass with
// a null `out` only measures.
#pragma once

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
