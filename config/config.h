// SPDX-License-Identifier: Apache-2.0
// Configuration: an ordered list of named sections, each an ordered list of
// name/value properties, and the reader for its text format.
//
// The parser below makes every record, the system's own configuration
// included (read from its file by read_config_file), so the layout is this
// program's own. Nothing here changes a configuration once it has been returned; the
// launcher keeps its one configuration until the process ends, and only a
// caller that gives one up (a test, a tool) frees it with free_config.
#pragma once

#include <cstdint>

struct config_property {
    char* name;  // null when the name part of the line was empty
    char* value; // null when the line had no separator or only blanks after it
    config_property* next;
    char separator; // the "=" or ":" that ended the name; '\0' for a line
                    // without one (whose value is then null)
};

struct config_section {
    char* name; // null when the bracketed name was empty or all blanks
    config_section* next;
    config_property* properties;
};

// Lookups. Names are compared bytewise and case-sensitively; every lookup
// takes the first match in list order. A null name in a record matches
// nothing. None of them allocates.

// Returns the first section of the list starting at `root` named `name`,
// or null (also for a null root).
config_section* find_config_section(const config_section* root, const char* name);

// Returns the value of the first property of `section` named `key`; a
// property without value gives "", one shared constant. Returns null when
// `section` is null or has no such property.
const char* find_config_value(const config_section* section, const char* key);

// Returns the first property of `section` named `key`, or null when
// `section` is null or has no such property.
config_property* find_config_property(const config_section* section, const char* key);

// Returns the value of `key` in the first section named `section_name`, or
// `default_value` when there is no such section or key. The result is never
// a copy: it points into the configuration, is the shared "", or is
// `default_value` itself.
const char* get_config_value(const config_section* root, const char* section_name,
                             const char* key, const char* default_value);

// Returns the number of properties of `section`, named or not; 0 for null.
int32_t count_config_properties(const config_section* section);

// Text format. Returns the root (the first section) of the configuration
// that the NUL-terminated `text` describes, or null when the text has no
// section header or memory runs out; nothing of a failed parse is returned
// or left allocated. The result shares no memory with `text`. A UTF-8
// byte-order mark (EF BB BF) as the text's first three bytes is skipped;
// anywhere else those bytes are text.
config_section* parse_config_text(const char* text);

// Incremental parsing, for a text that arrives in pieces: the file reader
// parses through a small buffer instead of holding the whole file. Feeding a
// text piece by piece gives the same configuration as parse_config_text on
// the whole of it, wherever the pieces are cut.
struct config_parser {
    config_section* root;           // the first section, null before any header
    config_section* section;        // the section that takes the next property
    config_property* last_property; // the last property of `section`, if any
    bool started;                   // the text's first bytes, where a byte-order
                                    // mark may stand, have been read
    bool ended;                     // the text's terminating NUL has been reached
};

// Parses the piece [text, end) of a text, where *end is a NUL that only
// marks the end of this piece unless `last` says that the text ends there. A
// NUL before `end` ends the text, as in parse_config_text. `parser` starts
// zero-initialised and carries the state from piece to piece.
//
// Returns the first byte not parsed: a line, or a header, that may go on in
// the next piece (or the first bytes of the text while they may still be the
// start of a byte-order mark). The caller passes it again, with what follows appended, as
// the start of the next piece. When the text has ended (`last`, or a NUL
// before `end`) everything is parsed, parser->ended is set, and the result
// points at the NUL that ended it; a later call parses nothing and returns
// `text`.
//
// Returns null when memory runs out, after freeing everything `parser` has
// built and zeroing it.
const char* parse_config_piece(config_parser* parser, const char* text, const char* end, bool last);

// Frees everything `parser` has built and zeroes it, for a caller that gives
// up on a text half parsed.
void discard_config_parser(config_parser* parser);

// Frees the configuration whose first section is `root` (null is allowed):
// every section and property with its strings, as parse_config_text and
// read_config_file made them.
void free_config(config_section* root);

// Returns a new copy of the token [start, end) with trailing blanks removed
// and "^" escapes decoded, owned by the caller (free). Returns null when
// nothing remains after trimming, and also when memory runs out.
char* copy_config_token(const char* start, const char* end);

// Reads the regular file at `path` to its end, parsing it piece by piece
// through a small buffer (see parse_config_piece). Returns the root, or
// null when the file cannot be opened, is not a regular file, does not fit a
// 32-bit size, changes size while it is read, or yields no section.
config_section* read_config_file(const char* path);
