// SPDX-License-Identifier: Apache-2.0
// Parses arbitrary bytes as configuration text and walks the result with
// every lookup, so that a malformed record or a stray pointer is touched.
#include "config/config.h"
#include "tests/support/config_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The text format ends at the first NUL; a copy with a terminator lets
    // the input hold NULs and lack a final newline.
    char* text = static_cast<char*>(std::malloc(size + 1));
    if (text == nullptr)
        return 0;
    std::memcpy(text, data, size);
    text[size] = '\0';

    config_section* root = parse_config_text(text);
    // Parsed in pieces, the way the file reader does, wherever they are cut,
    // the text must give the same records.
    const std::size_t piece_size = size > 0 ? 1 + data[0] % 64 : 1;
    bool out_of_memory = false;
    const config_ptr pieced = parse_in_pieces(text, size, piece_size, &out_of_memory);
    if (out_of_memory || dump_config(pieced.get()) != dump_config(root))
        std::abort();
    std::free(text);
    for (const config_section* section = root; section != nullptr; section = section->next) {
        const char* section_name = section->name != nullptr ? section->name : "";
        if (find_config_section(root, section_name) == nullptr && section->name != nullptr)
            std::abort();
        int32_t counted = 0;
        for (const config_property* property = section->properties; property != nullptr;
             property = property->next, ++counted) {
            if (property->name != nullptr && find_config_value(section, property->name) == nullptr)
                std::abort();
            if (property->value != nullptr && std::strlen(property->value) > size)
                std::abort();
            // A value follows a separator: "=" or ":".
            if (property->separator != '=' && property->separator != ':'
                && (property->separator != '\0' || property->value != nullptr))
                std::abort();
            get_config_value(root, section_name, property->name != nullptr ? property->name : "", "");
        }
        if (counted != count_config_properties(section))
            std::abort();
    }
    // The launcher never frees a configuration; a fuzzer must not pile them up.
    free_config(root);
    return 0;
}
