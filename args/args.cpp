// SPDX-License-Identifier: Apache-2.0
#include "args/args.h"

#include <cstdlib>
#include <cstring>

int32_t split_arguments(const char* text, char** vector)
{
    int32_t count = 0;
    const char* p = text;
    for (;;) {
        while (*p == ' ')
            ++p;
        if (*p == '\0')
            return count;

        const char* start = p;
        const char* end = nullptr;
        if (*p == '"' || *p == '\'') {
            const char quote = *p;
            start = p + 1;
            const char* close = std::strchr(start, quote);
            end = close != nullptr ? close : start + std::strlen(start);
            p = close != nullptr ? close + 1 : end;
        } else {
            end = p + std::strcspn(p, " ");
            p = end;
        }

        if (vector != nullptr) {
            const auto length = static_cast<size_t>(end - start);
            char* argument = static_cast<char*>(std::malloc(length + 1));
            if (argument == nullptr)
                return count;
            std::memcpy(argument, start, length);
            argument[length] = '\0';
            vector[count] = argument;
        }
        ++count;
    }
}

void free_arguments(int32_t count, char** vector)
{
    for (int32_t i = 0; i < count; ++i)
        std::free(vector[i]);
    std::free(vector);
}
