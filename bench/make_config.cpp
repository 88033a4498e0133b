// SPDX-License-Identifier: Apache-2.0
// Writes a generated benchmark configuration (bench/texts.h) to a file.
//
//   velta-bench-config SIZE-IN-BYTES JVM-LIBRARY OUTPUT-FILE
#include "bench/texts.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    char* size_end = nullptr;
    const unsigned long long size = argc == 4 ? std::strtoull(argv[1], &size_end, 10) : 0;
    if (argc != 4 || size_end == argv[1] || *size_end != '\0') {
        std::fprintf(stderr, "usage: %s SIZE-IN-BYTES JVM-LIBRARY OUTPUT-FILE\n", argv[0]);
        return 2;
    }
    const std::string text = make_benchmark_config(static_cast<std::size_t>(size), argv[2]);
    FILE* file = std::fopen(argv[3], "wb");
    bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file != nullptr)
        written = std::fclose(file) == 0 && written;
    if (!written)
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
    return written ? 0 : 1;
}
