// SPDX-License-Identifier: Apache-2.0
// Splitting one string into separate arguments.
//
// Arguments are separated by spaces (0x20) only. An argument that starts with
// a double or a single quote runs to the next quote of the same kind (which
// belongs to no argument) or to the end of the text; anything right after the
// closing quote starts the next argument. Elsewhere quotes are ordinary
// characters. There is no escape character.
#pragma once

#include <cstdint>

// Returns the number of arguments in the NUL-terminated `text`. With a null
// `vector` it only counts. Otherwise `vector` must have room for the count of
// a counting pass over the same text, and each argument is stored there, in
// order from slot 0, as a new string owned by the caller (free_arguments).
// When an allocation fails the filling pass stops and returns how many
// arguments it stored.
int32_t split_arguments(const char* text, char** vector);

// Frees the first `count` strings of `vector`, then `vector` itself unless it
// is null.
void free_arguments(int32_t count, char** vector);
