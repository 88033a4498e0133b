// SPDX-License-Identifier: Apache-2.0
#include "config/config.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

const char* skip_blanks(const char* p)
{
    while (is_blank(*p))
        ++p;
    return p;
}

const char* trim_trailing_blanks(const char* start, const char* end)
{
    while (end > start && is_blank(end[-1]))
        --end;
    return end;
}

// The first CR, LF or the terminating NUL at or after `p`.
const char* find_line_end(const char* p)
{
    return p + std::strcspn(p, "\r\n");
}

// Steps over the line end at `p`: CR LF is one line end, LF CR two. At the
// end of the text there is nothing to step over.
const char* skip_line_end(const char* p)
{
    if (*p == '\r')
        return p[1] == '\n' ? p + 2 : p + 1;
    if (*p == '\n')
        return p + 1;
    return p;
}

int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Converts [start, end) into *token. Returns false only when memory ran
// out; a token that is blank after trimming legitimately gives null.
bool convert_token(const char* start, const char* end, char** token)
{
    *token = copy_config_token(start, end);
    return *token != nullptr || trim_trailing_blanks(start, end) == start;
}

// Whether an item that runs to `q` may go on in the next piece: it reached
// the NUL that ends the piece, and the text goes on after it. (A CR there may
// be the first half of a CR LF: it needs no waiting, since the LF that
// follows in the next piece reads as an empty line, which adds nothing.)
bool runs_past_piece(const char* q, const char* end, bool last)
{
    return q == end && !last;
}

// Editors on some systems start a UTF-8 text with this mark.
constexpr char utf8_byte_order_mark[] = "\xEF\xBB\xBF";
constexpr size_t byte_order_mark_size = sizeof utf8_byte_order_mark - 1;

} // namespace

char* copy_config_token(const char* start, const char* end)
{
    end = trim_trailing_blanks(start, end);
    if (end == start)
        return nullptr;
    char* copy = static_cast<char*>(std::malloc(static_cast<size_t>(end - start) + 1));
    if (copy == nullptr)
        return nullptr;

    char* out = copy;
    const char* p = start;
    while (p < end) {
        const char* escape = static_cast<const char*>(std::memchr(p, '^', static_cast<size_t>(end - p)));
        const char* plain_end = escape != nullptr ? escape : end;
        std::memcpy(out, p, static_cast<size_t>(plain_end - p));
        out += plain_end - p;
        p = plain_end;
        if (escape == nullptr)
            break;

        // An escape reads at most two hexadecimal digits of this token; with
        // none it stands for the byte 0.
        ++p;
        unsigned value = 0;
        for (int digits = 0; digits < 2 && p < end && hex_digit_value(*p) >= 0; ++digits, ++p)
            value = value * 16 + static_cast<unsigned>(hex_digit_value(*p));
        *out++ = static_cast<char>(value);
    }
    *out = '\0';
    return copy;
}

void free_config(config_section* root)
{
    while (root != nullptr) {
        config_property* property = root->properties;
        while (property != nullptr) {
            config_property* next = property->next;
            std::free(property->name);
            std::free(property->value);
            std::free(property);
            property = next;
        }
        config_section* next = root->next;
        std::free(root->name);
        std::free(root);
        root = next;
    }
}

void discard_config_parser(config_parser* parser)
{
    free_config(parser->root);
    *parser = config_parser{};
}

const char* parse_config_piece(config_parser* parser, const char* text, const char* end, bool last)
{
    if (parser->ended)
        return text;
    const char* p = text;
    if (!parser->started) {
        // A piece that may hold only the start of the mark waits for the rest.
        const size_t available = std::min(static_cast<size_t>(end - text), byte_order_mark_size);
        if (std::memcmp(text, utf8_byte_order_mark, available) == 0) {
            if (available < byte_order_mark_size && !last)
                return text;
            if (available == byte_order_mark_size)
                p += byte_order_mark_size;
        }
        parser->started = true;
    }
    // Each pass of the loop reads one item: a line, or a header with what
    // follows it on its line read as the next item. An item that the piece
    // may not hold whole is left, untouched, for the next piece.
    for (;;) {
        const char* item = p;
        p = skip_blanks(p);
        const char c = *p;
        if (c == '\0') {
            if (runs_past_piece(p, end, last))
                return item;
            parser->ended = true;
            return p;
        }
        if (c == '\r' || c == '\n') {
            p = skip_line_end(p);
            continue;
        }
        if (c == '#' || c == ';') {
            const char* line_end = find_line_end(p);
            if (runs_past_piece(line_end, end, last))
                return item;
            p = skip_line_end(line_end);
            continue;
        }

        if (c == '[') {
            // The name runs to the next "]" anywhere in the text, across
            // line ends, or to the end of the text.
            const char* name_start = p + 1;
            const char* close = std::strchr(name_start, ']');
            const char* name_end = close != nullptr ? close : name_start + std::strlen(name_start);
            if (close == nullptr && runs_past_piece(name_end, end, last))
                return item;

            auto* added = static_cast<config_section*>(std::calloc(1, sizeof(config_section)));
            if (added == nullptr)
                goto out_of_memory;
            if (parser->section != nullptr)
                parser->section->next = added;
            else
                parser->root = added;
            parser->section = added;
            parser->last_property = nullptr;
            if (!convert_token(name_start, name_end, &added->name))
                goto out_of_memory;

            // What follows the "]" on the same line is read as a new line.
            p = close != nullptr ? close + 1 : name_end;
            continue;
        }

        // A property line. "=" or ":" first in the line separates; later ones
        // belong to the value.
        const char* separator = p + std::strcspn(p, "=:\r\n");
        const bool has_separator = *separator == '=' || *separator == ':';
        const char* line_end = has_separator ? find_line_end(separator + 1) : separator;
        if (runs_past_piece(line_end, end, last))
            return item;

        if (parser->section != nullptr) {
            auto* added = static_cast<config_property*>(std::calloc(1, sizeof(config_property)));
            if (added == nullptr)
                goto out_of_memory;
            if (parser->last_property != nullptr)
                parser->last_property->next = added;
            else
                parser->section->properties = added;
            parser->last_property = added;
            added->separator = has_separator ? *separator : '\0';

            if (!has_separator) {
                if (!convert_token(p, line_end, &added->name))
                    goto out_of_memory;
            } else if (!convert_token(p, separator, &added->name)
                       || !convert_token(skip_blanks(separator + 1), line_end, &added->value)) {
                goto out_of_memory;
            }
        }
        p = skip_line_end(line_end);
    }

out_of_memory:
    // Every record made so far is reachable from the root, so one walk frees
    // the half-built configuration; none of it is returned.
    discard_config_parser(parser);
    return nullptr;
}

config_section* parse_config_text(const char* text)
{
    config_parser parser{};
    if (parse_config_piece(&parser, text, text + std::strlen(text), true) == nullptr)
        return nullptr;
    return parser.root;
}
