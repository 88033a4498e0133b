// Parses arbitrary bytes as configuration text and walks the result with
// every lookup, so that a malformed record or a stray pointer is touched.
#include "config/config.h"
#include "tests/config_test_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Feeds the `size` bytes of `text` to the parser `piece_size` bytes at a
// time, each piece appended to what the parser left of the one before.
config_ptr parsed_in_pieces(const char* text, std::size_t size, std::size_t piece_size)
{
    config_parser parser{};
    std::string buffer;
    for (std::size_t fed = 0; !parser.ended;) {
        const std::size_t piece = std::min(piece_size, size - fed);
        buffer.append(text + fed, piece);
        fed += piece;
        const char* rest = parse_config_piece(&parser, buffer.c_str(), buffer.c_str() + buffer.size(), fed == size);
        if (rest == nullptr)
            std::abort();
        buffer.erase(0, static_cast<std::size_t>(rest - buffer.c_str()));
    }
    return config_ptr(parser.root);
}

} // namespace

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
    if (dump_config(parsed_in_pieces(text, size, piece_size).get()) != dump_config(root))
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
            get_config_value(root, section_name, property->name != nullptr ? property->name : "", "");
        }
        if (counted != count_config_properties(section))
            std::abort();
    }
    // The launcher never frees a configuration; a fuzzer must not pile them up.
    config_deleter()(root);
    return 0;
}
