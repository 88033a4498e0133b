// SPDX-License-Identifier: Apache-2.0
// Splits arbitrary bytes and checks that the counting and the filling pass
// agree and that every argument is a piece of the text.
#include "args/args.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* text = static_cast<char*>(std::malloc(size + 1));
    if (text == nullptr)
        return 0;
    std::memcpy(text, data, size);
    text[size] = '\0';

    const int32_t count = split_arguments(text, nullptr);
    char** vector = count > 0 ? static_cast<char**>(std::calloc(static_cast<size_t>(count), sizeof(char*))) : nullptr;
    const int32_t filled = vector != nullptr ? split_arguments(text, vector) : 0;
    if (vector != nullptr && filled != count)
        std::abort();
    // Arguments are disjoint pieces of the text: each occurs in it, and
    // together they are no longer than it.
    size_t total = 0;
    for (int32_t i = 0; i < filled; ++i) {
        if (std::strstr(text, vector[i]) == nullptr)
            std::abort();
        total += std::strlen(vector[i]);
    }
    if (total > size)
        std::abort();
    free_arguments(filled, vector);
    std::free(text);
    return 0;
}
