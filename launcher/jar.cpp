// SPDX-License-Identifier: Apache-2.0
#include "launcher/jar.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

// Zip records, as PKWARE's application note lays them out (little-endian).
constexpr uint32_t local_header_signature = 0x04034b50;
constexpr uint32_t central_header_signature = 0x02014b50;
constexpr uint32_t end_signature = 0x06054b50;
constexpr uint32_t zip64_locator_signature = 0x07064b50;
constexpr uint32_t zip64_end_signature = 0x06064b50;
constexpr size_t local_header_size = 30;
constexpr size_t central_header_size = 46;
constexpr size_t end_size = 22;
constexpr size_t zip64_locator_size = 20;
constexpr size_t zip64_end_size = 56;
constexpr size_t largest_comment = 0xffff;
constexpr uint64_t zip64_magic = 0xffffffff;
constexpr uint64_t zip64_magic_count = 0xffff;
constexpr uint64_t zip64_extra_tag = 1;
constexpr uint64_t method_stored = 0;
constexpr uint64_t method_deflated = 8;
constexpr uint64_t flag_encrypted = 1;
// The JDK's limits: one central header with its name, extra field and
// comment; the central directory as one Java array.
constexpr uint64_t largest_central_header = 0xffff;
constexpr uint64_t largest_central_directory = INT32_MAX - 8;

// The window through which the central directory is read holds any one
// central header and the end record with the largest comment; once the
// directory has been read, its halves take the manifest's compressed and
// inflated bytes.
constexpr size_t window_size = 128 * 1024;
constexpr size_t half_window = window_size / 2;
static_assert(largest_central_header < window_size && end_size + largest_comment <= window_size);

constexpr char manifest_name[] = "META-INF/MANIFEST.MF";
constexpr size_t manifest_name_length = sizeof manifest_name - 1;

// java reads a manifest through a 512-byte line buffer that must hold each
// line with its line end, and through an 8 KiB buffer whose edges decide
// whether a CR that fills the line buffer takes the LF after it.
constexpr size_t manifest_line_size = 512;
constexpr uint64_t manifest_read_block = 8192;
constexpr size_t longest_attribute_name = 70;

uint64_t little_endian(const unsigned char* bytes, int size)
{
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

bool read_fully(int file, unsigned char* buffer, size_t size, uint64_t offset)
{
    while (size > 0) {
        if (offset > static_cast<uint64_t>(INT64_MAX) - size)
            return false;
        const ssize_t got = pread(file, buffer, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        buffer += got;
        size -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

unsigned char ascii_lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Whether [bytes, bytes + length) equals the lower-case ASCII `lower` in any
// ASCII case.
bool equals_ignoring_case(const unsigned char* bytes, size_t length, const char* lower)
{
    if (length != std::strlen(lower))
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (ascii_lower(bytes[i]) != static_cast<unsigned char>(lower[i]))
            return false;
    }
    return true;
}

// Whether the bytes are UTF-8 as Java's decoder takes it: no overlong form,
// no surrogate, nothing above U+10FFFF.
bool is_utf8(const unsigned char* bytes, size_t length)
{
    for (size_t i = 0; i < length;) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t trail = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xbf;
        if (lead >= 0xc2 && lead <= 0xdf) {
            trail = 1;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            trail = 2;
            low = lead == 0xe0 ? 0xa0 : 0x80;
            high = lead == 0xed ? 0x9f : 0xbf;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            trail = 3;
            low = lead == 0xf0 ? 0x90 : 0x80;
            high = lead == 0xf4 ? 0x8f : 0xbf;
        } else {
            return false;
        }
        if (length - i <= trail || bytes[i + 1] < low || bytes[i + 1] > high)
            return false;
        for (size_t k = 2; k <= trail; ++k) {
            if (bytes[i + k] < 0x80 || bytes[i + k] > 0xbf)
                return false;
        }
        i += trail + 1;
    }
    return true;
}

// An open jar: its descriptor, size, where its central directory lies, and
// the window it is read through (window_size bytes, owned).
struct zip_file {
    int descriptor;
    uint64_t size;
    uint64_t directory_start;
    uint64_t directory_size;
    uint64_t shift; // added to a local header's offset: where the archive starts in the file
    unsigned char* window;
};

// What the central directory says of one entry.
struct zip_entry {
    uint64_t method;
    uint64_t compressed_size;
    uint64_t size;
    uint64_t local_header; // offset in the file, the shift added
};

// What a walk of the central directory looks for, and what it found.
struct directory_search {
    const char* name; // an entry named exactly this, or null
    size_t name_length;
    bool name_found;
    bool exact_manifest_found; // an entry named exactly META-INF/MANIFEST.MF
    bool manifest_found;       // the last one named so in any ASCII case
    zip_entry manifest;
};

void close_zip(zip_file* zip)
{
    if (zip->descriptor >= 0)
        close(zip->descriptor);
    std::free(zip->window);
    zip->descriptor = -1;
    zip->window = nullptr;
}

// Finds the end record, and the zip64 end record that stands for it, as the
// JDK does, and from them the central directory and the shift.
int find_central_directory(zip_file* zip)
{
    if (zip->size < end_size)
        return jar_unreadable;
    const size_t tail_size = static_cast<size_t>(
        zip->size < end_size + largest_comment ? zip->size : end_size + largest_comment);
    const uint64_t tail_start = zip->size - tail_size;
    unsigned char* tail = zip->window;
    if (!read_fully(zip->descriptor, tail, tail_size, tail_start))
        return jar_unreadable;
    size_t at = tail_size - end_size + 1;
    while (at-- > 0) {
        if (little_endian(tail + at, 4) == end_signature
            && at + end_size + little_endian(tail + at + 20, 2) == tail_size)
            break;
    }
    if (at == SIZE_MAX)
        return jar_unreadable;
    uint64_t count = little_endian(tail + at + 10, 2);
    uint64_t directory_size = little_endian(tail + at + 12, 4);
    uint64_t directory_offset = little_endian(tail + at + 16, 4);
    uint64_t end_at = tail_start + at;

    // A zip64 locator just before the end record points at the zip64 end
    // record, at an offset the JDK reads as one in the file, unshifted. It
    // stands for the end record only where the two agree on every figure
    // the end record does not leave to it.
    unsigned char locator[zip64_locator_size];
    unsigned char end64[zip64_end_size];
    if (end_at >= zip64_locator_size
        && read_fully(zip->descriptor, locator, sizeof locator, end_at - zip64_locator_size)
        && little_endian(locator, 4) == zip64_locator_signature) {
        const uint64_t end64_at = little_endian(locator + 8, 8);
        if (end64_at <= zip->size && zip->size - end64_at >= zip64_end_size
            && read_fully(zip->descriptor, end64, sizeof end64, end64_at)
            && little_endian(end64, 4) == zip64_end_signature) {
            const uint64_t count64 = little_endian(end64 + 32, 8);
            const uint64_t size64 = little_endian(end64 + 40, 8);
            const uint64_t offset64 = little_endian(end64 + 48, 8);
            if ((size64 == directory_size || directory_size == zip64_magic)
                && (offset64 == directory_offset || directory_offset == zip64_magic)
                && (count64 == count || count == zip64_magic_count)) {
                count = count64;
                directory_size = size64;
                directory_offset = offset64;
                end_at = end64_at;
            }
        }
    }
    if (end_at == 0) {
        // Only an end record: an archive without entries.
        zip->directory_start = 0;
        zip->directory_size = 0;
        zip->shift = 0;
        return 0;
    }
    if (directory_size > end_at || directory_size > largest_central_directory
        || directory_offset > end_at - directory_size || count > directory_size / central_header_size)
        return jar_unreadable;
    zip->directory_start = end_at - directory_size;
    zip->directory_size = directory_size;
    zip->shift = zip->directory_start - directory_offset;
    return 0;
}

// Opens the jar at `path` and finds its central directory. On any result
// but 0 nothing is left open or allocated.
int open_zip(const char* path, zip_file* zip)
{
    *zip = zip_file{-1, 0, 0, 0, 0, nullptr};
    zip->descriptor = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat info;
    int result = jar_unreadable;
    if (zip->descriptor >= 0 && fstat(zip->descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0) {
        zip->size = static_cast<uint64_t>(info.st_size);
        zip->window = static_cast<unsigned char*>(std::malloc(window_size));
        result = zip->window == nullptr ? jar_out_of_memory : find_central_directory(zip);
    }
    if (result != 0)
        close_zip(zip);
    return result;
}

// Checks the extra field of the central header `header` as the JDK does,
// and takes from its first zip64 block the figures the header leaves to it.
bool read_extra_field(const unsigned char* header, zip_entry* entry, uint64_t disk)
{
    const size_t name_length = static_cast<size_t>(little_endian(header + 28, 2));
    const size_t extra_length = static_cast<size_t>(little_endian(header + 30, 2));
    // The figures the header marks as too large: a zip64 block holds exactly
    // these, in this order, none of them negative.
    uint64_t* figures[] = {&entry->size, &entry->compressed_size, &entry->local_header};
    bool marked[3];
    size_t expected = disk == zip64_magic_count ? 4 : 0;
    for (int i = 0; i < 3; ++i) {
        marked[i] = *figures[i] == zip64_magic;
        expected += marked[i] ? 8 : 0;
    }
    if (extra_length == 0)
        return expected == 0;
    const unsigned char* extra = header + central_header_size + name_length;
    bool taken = false;
    for (size_t at = 0; extra_length - at >= 4;) {
        const uint64_t tag = little_endian(extra + at, 2);
        const size_t block_size = static_cast<size_t>(little_endian(extra + at + 2, 2));
        at += 4;
        if (block_size > extra_length - at)
            return false;
        if (tag == zip64_extra_tag && (block_size > 0 || expected > 0)) {
            if (block_size != expected)
                return false;
            const unsigned char* value = extra + at;
            for (int i = 0; i < 3; ++i) {
                if (!marked[i])
                    continue;
                const uint64_t figure = little_endian(value, 8);
                if (figure > static_cast<uint64_t>(INT64_MAX))
                    return false;
                if (!taken)
                    *figures[i] = figure;
                value += 8;
            }
            taken = true;
        }
        at += block_size;
    }
    return true;
}

// Walks the whole central directory, checking each entry as the JDK does,
// and fills the search. Returns 0, or jar_unreadable.
int search_directory(zip_file* zip, directory_search* search)
{
    uint64_t at = 0;           // in the directory
    uint64_t window_start = 0; // the directory's bytes the window holds
    uint64_t window_filled = 0;
    while (zip->directory_size - at >= central_header_size) {
        uint64_t needed = central_header_size;
        for (int pass = 0; pass < 2; ++pass) {
            if (at + needed > window_start + window_filled) {
                const uint64_t left = zip->directory_size - at;
                window_filled = left < window_size ? left : window_size;
                window_start = at;
                if (window_filled < needed
                    || !read_fully(zip->descriptor, zip->window, static_cast<size_t>(window_filled),
                                   zip->directory_start + at))
                    return jar_unreadable;
            }
            const unsigned char* header = zip->window + (at - window_start);
            needed = central_header_size + little_endian(header + 28, 2) + little_endian(header + 30, 2)
                + little_endian(header + 32, 2);
            if (needed > largest_central_header)
                return jar_unreadable;
        }
        const unsigned char* header = zip->window + (at - window_start);
        const uint64_t flags = little_endian(header + 8, 2);
        zip_entry entry{little_endian(header + 10, 2), little_endian(header + 20, 4), little_endian(header + 24, 4),
                        little_endian(header + 42, 4)};
        const uint64_t disk = little_endian(header + 34, 2);
        const size_t name_length = static_cast<size_t>(little_endian(header + 28, 2));
        const size_t comment_length = static_cast<size_t>(little_endian(header + 32, 2));
        const unsigned char* name = header + central_header_size;
        const unsigned char* comment = header + (needed - comment_length);
        if (little_endian(header, 4) != central_header_signature || (flags & flag_encrypted) != 0
            || (entry.method != method_stored && entry.method != method_deflated)
            || !read_extra_field(header, &entry, disk) || !is_utf8(name, name_length)
            || !is_utf8(comment, comment_length))
            return jar_unreadable;

        if (search->name != nullptr && name_length == search->name_length
            && std::memcmp(name, search->name, name_length) == 0)
            search->name_found = true;
        if (equals_ignoring_case(name, name_length, "meta-inf/manifest.mf")) {
            search->exact_manifest_found |= std::memcmp(name, manifest_name, manifest_name_length) == 0;
            search->manifest_found = true;
            search->manifest = entry;
        }
        at += needed;
    }
    return at == zip->directory_size ? 0 : jar_unreadable;
}

// The manifest's attributes that are kept, by their index.
enum kept_attribute {
    main_class_attribute,
    class_path_attribute,
    add_opens_attribute,
    add_exports_attribute,
    enable_native_access_attribute,
    launcher_agent_class_attribute,
    kept_attribute_count,
};
constexpr const char* kept_attribute_names[kept_attribute_count] = {
    "main-class", "class-path", "add-opens", "add-exports", "enable-native-access", "launcher-agent-class",
};

struct byte_buffer {
    unsigned char* bytes;
    size_t length;
    size_t capacity;
};

bool append(byte_buffer* buffer, const unsigned char* bytes, size_t length)
{
    if (buffer->capacity - buffer->length < length) {
        size_t capacity = buffer->capacity > 0 ? buffer->capacity : 64;
        while (capacity - buffer->length < length)
            capacity *= 2;
        auto* grown = static_cast<unsigned char*>(std::malloc(capacity));
        if (grown == nullptr)
            return false;
        if (buffer->length > 0)
            std::memcpy(grown, buffer->bytes, buffer->length);
        std::free(buffer->bytes);
        buffer->bytes = grown;
        buffer->capacity = capacity;
    }
    if (length > 0)
        std::memcpy(buffer->bytes + buffer->length, bytes, length);
    buffer->length += length;
    return true;
}

// Where the manifest's reader stands: in the main section's attributes, in
// the empty lines before a named section, in a section name that goes on in
// continuation lines, or in a named section's attributes.
enum manifest_part { main_attributes, between_sections, section_name, section_attributes };

// The manifest read byte by byte as java reads it (java.util.jar.Manifest
// and Attributes). A line is held until the byte after it is known, which
// says whether a continuation line follows.
struct manifest_reader {
    manifest_part part;
    uint64_t offset; // bytes of the manifest read
    unsigned char line[manifest_line_size];
    size_t line_length; // the line's bytes, its line end not counted
    bool line_ended;    // the line has its line end and waits for the byte after it
    bool cr_takes_lf;   // the line ended in a CR that an LF right after it joins
    bool have_name;     // the section has had a "NAME: VALUE" line
    bool name_valid;    // that line's NAME is a valid attribute name
    int attribute;      // the kept attribute whose value is being read, or -1
    byte_buffer value;  // its value so far
    byte_buffer values[kept_attribute_count];
    bool present[kept_attribute_count];
};

void free_manifest_reader(manifest_reader* reader)
{
    std::free(reader->value.bytes);
    for (byte_buffer& value : reader->values)
        std::free(value.bytes);
}

bool is_attribute_name(const unsigned char* name, size_t length)
{
    if (length == 0 || length > longest_attribute_name)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            return false;
    }
    return true;
}

// Stores the value just read under its name, a later one replacing an
// earlier one. java checks the name only now.
int put_value(manifest_reader* reader)
{
    if (!reader->name_valid)
        return jar_unreadable;
    if (reader->attribute >= 0) {
        const byte_buffer replaced = reader->values[reader->attribute];
        reader->values[reader->attribute] = reader->value;
        reader->present[reader->attribute] = true;
        reader->value = byte_buffer{replaced.bytes, 0, replaced.capacity};
    }
    return 0;
}

// One line of a section's attributes, `next` the byte after it (-1 at the
// end of the manifest).
int read_attribute_line(manifest_reader* reader, int next)
{
    const unsigned char* line = reader->line;
    const size_t length = reader->line_length;
    if (length == 0) {
        reader->part = between_sections;
        return 0;
    }
    if (line[0] == ' ') {
        if (!reader->have_name)
            return jar_unreadable;
        if (reader->attribute >= 0 && !append(&reader->value, line + 1, length - 1))
            return jar_out_of_memory;
        return next == ' ' ? 0 : put_value(reader);
    }
    const auto* colon = static_cast<const unsigned char*>(std::memchr(line, ':', length));
    if (colon == nullptr || static_cast<size_t>(colon - line) + 1 >= length || colon[1] != ' ')
        return jar_unreadable;
    const size_t name_length = static_cast<size_t>(colon - line);
    reader->have_name = true;
    reader->name_valid = is_attribute_name(line, name_length);
    reader->attribute = -1;
    for (int i = 0; reader->part == main_attributes && i < kept_attribute_count; ++i) {
        if (equals_ignoring_case(line, name_length, kept_attribute_names[i]))
            reader->attribute = i;
    }
    reader->value.length = 0;
    if (reader->attribute >= 0 && !append(&reader->value, colon + 2, length - name_length - 2))
        return jar_out_of_memory;
    return next == ' ' ? 0 : put_value(reader);
}

// One whole line, `next` the byte after it (-1 at the end of the manifest).
int read_manifest_line(manifest_reader* reader, int next)
{
    switch (reader->part) {
    case main_attributes:
    case section_attributes:
        return read_attribute_line(reader, next);
    case between_sections:
        if (reader->line_length == 0)
            return 0;
        if (reader->line_length < 6 || !equals_ignoring_case(reader->line, 6, "name: "))
            return jar_unreadable;
        break;
    case section_name:
        break;
    }
    // A section's name may go on in continuation lines; its attributes follow.
    if (next == ' ') {
        reader->part = section_name;
    } else {
        reader->part = section_attributes;
        reader->have_name = false;
    }
    return 0;
}

int read_manifest_byte(manifest_reader* reader, unsigned char byte)
{
    if (reader->line_ended) {
        if (reader->cr_takes_lf && byte == '\n') {
            reader->cr_takes_lf = false;
            ++reader->offset;
            return 0;
        }
        const int result = read_manifest_line(reader, byte);
        if (result != 0)
            return result;
        reader->line_ended = false;
        reader->line_length = 0;
    }
    if (byte == '\n' || byte == '\r') {
        // java's line buffer takes an LF after a CR while it has room for
        // it, and when the CR ends one of its 8 KiB reads.
        reader->line_ended = true;
        reader->cr_takes_lf = byte == '\r'
            && (reader->line_length + 1 < manifest_line_size || (reader->offset + 1) % manifest_read_block == 0);
    } else {
        if (reader->line_length + 1 == manifest_line_size)
            return jar_unreadable; // no line end within the line buffer
        reader->line[reader->line_length++] = byte;
    }
    ++reader->offset;
    return 0;
}

int read_manifest_bytes(manifest_reader* reader, const unsigned char* bytes, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        const int result = read_manifest_byte(reader, bytes[i]);
        if (result != 0)
            return result;
    }
    return 0;
}

// The end of the manifest: a last line without its line end is left out.
int finish_manifest(manifest_reader* reader)
{
    return reader->line_ended ? read_manifest_line(reader, -1) : 0;
}

void* zlib_allocate(void* /*opaque*/, unsigned count, unsigned size)
{
    return std::calloc(count, size);
}

void zlib_free(void* /*opaque*/, void* block)
{
    std::free(block);
}

// Inflates the deflated manifest, `entry.compressed_size` bytes from `data`
// on, into the reader. It must give exactly `entry.size` bytes.
int inflate_manifest(zip_file* zip, const zip_entry& entry, uint64_t data, manifest_reader* reader)
{
    unsigned char* in = zip->window;
    unsigned char* out = zip->window + half_window;
    z_stream stream{};
    stream.zalloc = zlib_allocate;
    stream.zfree = zlib_free;
    const int started = inflateInit2(&stream, -MAX_WBITS);
    if (started != Z_OK)
        return started == Z_MEM_ERROR ? jar_out_of_memory : jar_unreadable;
    uint64_t left = entry.compressed_size;
    uint64_t made = 0;
    int status = Z_OK;
    int result = 0;
    while (result == 0 && status != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            const size_t piece = static_cast<size_t>(left < half_window ? left : half_window);
            if (piece == 0 || !read_fully(zip->descriptor, in, piece, data)) {
                result = jar_unreadable;
                break;
            }
            data += piece;
            left -= piece;
            stream.next_in = in;
            stream.avail_in = static_cast<unsigned>(piece);
        }
        stream.next_out = out;
        stream.avail_out = static_cast<unsigned>(half_window);
        status = inflate(&stream, Z_NO_FLUSH);
        const size_t got = half_window - stream.avail_out;
        made += got;
        if (status == Z_MEM_ERROR)
            result = jar_out_of_memory;
        else if ((status != Z_OK && status != Z_STREAM_END) || made > entry.size)
            result = jar_unreadable;
        else
            result = read_manifest_bytes(reader, out, got);
    }
    inflateEnd(&stream);
    return result == 0 && made != entry.size ? jar_unreadable : result;
}

// Reads the manifest entry, checking its local header and sizes against the
// file, into the reader.
int read_manifest_entry(zip_file* zip, const zip_entry& entry, manifest_reader* reader)
{
    unsigned char header[local_header_size];
    if (entry.size > jar_manifest_size_limit || entry.local_header > zip->size - zip->shift
        || zip->size - zip->shift - entry.local_header < local_header_size
        || !read_fully(zip->descriptor, header, sizeof header, zip->shift + entry.local_header)
        || little_endian(header, 4) != local_header_signature)
        return jar_unreadable;
    const uint64_t data = zip->shift + entry.local_header + local_header_size + little_endian(header + 26, 2)
        + little_endian(header + 28, 2);
    if (data > zip->size || zip->size - data < entry.compressed_size)
        return jar_unreadable;
    if (entry.method == method_deflated)
        return inflate_manifest(zip, entry, data, reader);
    if (entry.compressed_size != entry.size)
        return jar_unreadable;
    for (uint64_t at = 0; at < entry.size;) {
        const uint64_t left = entry.size - at;
        const size_t piece = static_cast<size_t>(left < window_size ? left : window_size);
        if (!read_fully(zip->descriptor, zip->window, piece, data + at))
            return jar_unreadable;
        const int result = read_manifest_bytes(reader, zip->window, piece);
        if (result != 0)
            return result;
        at += piece;
    }
    return 0;
}

// A new string of the value's bytes, Main-Class trimmed, each NUL written
// as C0 80; null when memory ran out.
char* copy_value(const byte_buffer& value, bool trim)
{
    size_t start = 0;
    size_t end = value.length;
    while (trim && start < end && value.bytes[start] <= 0x20)
        ++start;
    while (trim && end > start && value.bytes[end - 1] <= 0x20)
        --end;
    size_t length = end - start;
    for (size_t i = start; i < end; ++i)
        length += value.bytes[i] == 0;
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr)
        return nullptr;
    size_t at = 0;
    for (size_t i = start; i < end; ++i) {
        if (value.bytes[i] == 0) {
            copy[at++] = static_cast<char>(0xc0);
            copy[at++] = static_cast<char>(0x80);
        } else {
            copy[at++] = static_cast<char>(value.bytes[i]);
        }
    }
    copy[at] = '\0';
    return copy;
}

// A new record of the attributes the reader kept, or null when memory ran out.
jar_manifest* make_manifest(const manifest_reader& reader)
{
    auto* manifest = static_cast<jar_manifest*>(std::calloc(1, sizeof(jar_manifest)));
    if (manifest == nullptr)
        return nullptr;
    char** fields[kept_attribute_count] = {
        &manifest->main_class, &manifest->class_path, &manifest->add_opens, &manifest->add_exports,
        &manifest->enable_native_access, &manifest->launcher_agent_class,
    };
    for (int i = 0; i < kept_attribute_count; ++i) {
        if (!reader.present[i])
            continue;
        *fields[i] = copy_value(reader.values[i], i == main_class_attribute);
        if (*fields[i] == nullptr) {
            free_jar_manifest(manifest);
            return nullptr;
        }
    }
    return manifest;
}

// Schemes java.net.URL has a handler for, besides file.
constexpr const char* known_schemes[] = {"jar", "jrt", "jmod", "http", "https", "ftp", "mailto"};

bool is_scheme(const unsigned char* text, size_t length)
{
    if (length == 0 || !((text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z')))
        return false;
    for (size_t i = 1; i < length; ++i) {
        const unsigned char c = text[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '+'
              || c == '-'))
            return false;
    }
    return true;
}

int hex_digit(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Where `needle` first occurs in [text, text + length) at or after `from`,
// or -1.
ptrdiff_t find(const char* text, size_t length, const char* needle, size_t from)
{
    const size_t needle_length = std::strlen(needle);
    for (size_t i = from; i + needle_length <= length; ++i) {
        if (std::memcmp(text + i, needle, needle_length) == 0)
            return static_cast<ptrdiff_t>(i);
    }
    return -1;
}

// Where `c` last occurs in text[0, through], or -1.
ptrdiff_t find_last(const char* text, char c, ptrdiff_t through)
{
    for (ptrdiff_t i = through; i >= 0; --i) {
        if (text[i] == c)
            return i;
    }
    return -1;
}

// Removes "." and ".." segments from the relative URL path [path, path +
// *length) as java.net.URLStreamHandler does (which leaves a ".." that would
// climb above the first segment, and has quirks of its own).
void normalize_url_path(char* path, size_t* length)
{
    size_t n = *length;
    for (ptrdiff_t i; (i = find(path, n, "/./", 0)) >= 0;) {
        std::memmove(path + i, path + i + 2, n - static_cast<size_t>(i) - 2);
        n -= 2;
    }
    for (ptrdiff_t i = 0; (i = find(path, n, "/../", static_cast<size_t>(i))) >= 0;) {
        const ptrdiff_t start = i > 0 ? find_last(path, '/', i - 1) : -1;
        if (start >= 0 && find(path, n, "/../", static_cast<size_t>(start)) != 0) {
            std::memmove(path + start, path + i + 3, n - static_cast<size_t>(i) - 3);
            n -= static_cast<size_t>(i + 3 - start);
            i = 0;
        } else {
            i += 3;
        }
    }
    while (n >= 3 && std::memcmp(path + n - 3, "/..", 3) == 0) {
        const ptrdiff_t i = find(path, n, "/..", 0);
        const ptrdiff_t start = i > 0 ? find_last(path, '/', i - 1) : -1;
        if (start < 0)
            break;
        n = static_cast<size_t>(start) + 1;
    }
    if (n > 2 && path[0] == '.' && path[1] == '/') {
        std::memmove(path, path + 2, n - 2);
        n -= 2;
    }
    if (n >= 2 && path[n - 2] == '/' && path[n - 1] == '.')
        --n;
    *length = n;
}

// Decodes the "%XX" escapes of [text, text + *length) in place, as
// sun.net.www.ParseUtil.decode does: each run of escapes must make UTF-8.
// Returns false for a malformed escape or run.
bool decode_escapes(char* text, size_t* length)
{
    size_t out = 0;
    for (size_t i = 0; i < *length;) {
        if (text[i] != '%') {
            text[out++] = text[i++];
            continue;
        }
        const size_t run_start = out;
        while (i < *length && text[i] == '%') {
            if (*length - i < 3)
                return false;
            const int high = hex_digit(static_cast<unsigned char>(text[i + 1]));
            const int low = hex_digit(static_cast<unsigned char>(text[i + 2]));
            if (high < 0 || low < 0)
                return false;
            text[out++] = static_cast<char>(high << 4 | low);
            i += 3;
        }
        if (!is_utf8(reinterpret_cast<const unsigned char*>(text + run_start), out - run_start))
            return false;
    }
    *length = out;
    return true;
}

// What one Class-Path piece resolves to.
enum piece_outcome { piece_path, piece_ignored, piece_drops_jar };

// Resolves the piece [piece, piece + length) against `folder` (the jar's
// real folder with its "/", "%" escaped as the URL of the jar escapes it)
// as java.net.URL(URL, String) does, and then to a path as the class loader
// does; writes it to `out`, which has room for the folder and the piece,
// and its length to *out_length.
piece_outcome resolve_piece(const char* folder, const char* piece, size_t length, char* out, size_t* out_length)
{
    const auto* text = reinterpret_cast<const unsigned char*>(piece);
    size_t start = 0;
    size_t limit = length;
    while (limit > start && text[limit - 1] <= 0x20)
        --limit;
    while (start < limit && text[start] <= 0x20)
        ++start;
    if (limit - start >= 4 && equals_ignoring_case(text + start, 4, "url:"))
        start += 4;
    // "#..." alone is the jar itself, which the class loader has opened already.
    if (start < limit && text[start] == '#')
        return piece_ignored;
    for (size_t i = start; i < limit && text[i] != '/'; ++i) {
        if (text[i] != ':')
            continue;
        if (is_scheme(text + start, i - start)) {
            if (!equals_ignoring_case(text + start, i - start, "file")) {
                for (const char* scheme : known_schemes) {
                    if (equals_ignoring_case(text + start, i - start, scheme))
                        return piece_ignored;
                }
                return piece_drops_jar;
            }
            start = i + 1;
        }
        break;
    }
    const auto* fragment = static_cast<const unsigned char*>(std::memchr(text + start, '#', limit - start));
    if (fragment != nullptr)
        limit = static_cast<size_t>(fragment - text);
    const auto* question = static_cast<const unsigned char*>(std::memchr(text + start, '?', limit - start));
    const size_t path_end = question != nullptr ? static_cast<size_t>(question - text) : limit;
    const bool query_only = question != nullptr && path_end == start;

    size_t n = 0;
    bool relative = false;
    const bool unc = path_end - start >= 4 && std::memcmp(text + start, "////", 4) == 0;
    if (!unc && path_end - start >= 2 && text[start] == '/' && text[start + 1] == '/') {
        size_t host_end = start + 2;
        while (host_end < path_end && text[host_end] != '/')
            ++host_end;
        const size_t host_length = host_end - start - 2;
        if (host_length > 0 && !equals_ignoring_case(text + start + 2, host_length, "localhost"))
            return piece_ignored;
        start = host_end;
        if (host_length > 0 && start == path_end)
            return piece_ignored; // an empty path
    }
    if (start < path_end && text[start] == '/') {
        std::memcpy(out, text + start, path_end - start);
        n = path_end - start;
    } else if (start < path_end || query_only) {
        relative = start < path_end;
        n = std::strlen(folder);
        std::memcpy(out, folder, n);
        std::memcpy(out + n, text + start, path_end - start);
        n += path_end - start;
    } else {
        return piece_ignored; // the jar itself
    }
    if (relative)
        normalize_url_path(out, &n);
    if (question != nullptr) {
        std::memcpy(out + n, question, limit - path_end);
        n += limit - path_end;
    }
    // The class loader reads a URL whose file part ends in "/" as a folder.
    const bool is_folder = n > 0 && out[n - 1] == '/';
    if (!decode_escapes(out, &n) || std::memchr(out, '\0', n) != nullptr)
        return piece_ignored;
    // A jar's path is a file's: java.io.File drops a trailing "/".
    while (!is_folder && n > 1 && out[n - 1] == '/')
        --n;
    if (n == 0)
        return piece_ignored;
    *out_length = n;
    return piece_path;
}

constexpr char class_path_separators[] = " \t\n\r\f";

// Reads into the reader the manifest of the jar at `path`: the last entry
// named META-INF/MANIFEST.MF in any ASCII case, which the class library
// reads; `launching` asks also for one of exactly that name, without which
// java's own launcher finds none. Returns 0, jar_no_main_class when there is
// no manifest, jar_unreadable or jar_out_of_memory.
int read_manifest(const char* path, bool launching, manifest_reader* reader)
{
    zip_file zip;
    int result = open_zip(path, &zip);
    if (result != 0)
        return result;
    directory_search search{};
    result = search_directory(&zip, &search);
    if (result == 0 && (!search.manifest_found || (launching && !search.exact_manifest_found)))
        result = jar_no_main_class;
    if (result == 0)
        result = read_manifest_entry(&zip, search.manifest, reader);
    if (result == 0)
        result = finish_manifest(reader);
    close_zip(&zip);
    return result;
}

} // namespace

int read_jar_manifest(const char* path, jar_manifest** manifest)
{
    *manifest = nullptr;
    manifest_reader reader{};
    int result = read_manifest(path, true, &reader);
    if (result == 0 && !reader.present[main_class_attribute])
        result = jar_no_main_class;
    if (result == 0) {
        *manifest = make_manifest(reader);
        if (*manifest == nullptr)
            result = jar_out_of_memory;
    }
    free_manifest_reader(&reader);
    return result;
}

int read_jar_class_path(const char* path, char** class_path)
{
    *class_path = nullptr;
    manifest_reader reader{};
    int result = read_manifest(path, false, &reader);
    if (result == 0 && reader.present[class_path_attribute]) {
        *class_path = copy_value(reader.values[class_path_attribute], false);
        if (*class_path == nullptr)
            result = jar_out_of_memory;
    }
    free_manifest_reader(&reader);
    return result == jar_no_main_class ? 0 : result;
}

void free_jar_manifest(jar_manifest* manifest)
{
    if (manifest == nullptr)
        return;
    std::free(manifest->main_class);
    std::free(manifest->class_path);
    std::free(manifest->add_opens);
    std::free(manifest->add_exports);
    std::free(manifest->enable_native_access);
    std::free(manifest->launcher_agent_class);
    std::free(manifest);
}

int jar_lists_entry(const char* path, const char* name)
{
    zip_file zip;
    int result = open_zip(path, &zip);
    if (result != 0)
        return result;
    directory_search search{};
    search.name = name;
    search.name_length = std::strlen(name);
    result = search_directory(&zip, &search);
    close_zip(&zip);
    return result != 0 ? result : search.name_found ? 1 : 0;
}

int resolve_jar_class_path(const char* jar_path, const char* class_path, int32_t* count, char*** paths)
{
    *count = 0;
    *paths = nullptr;
    char real[PATH_MAX];
    if (realpath(jar_path, real) == nullptr)
        return jar_unreadable;
    // The jar's folder as its URL writes it: only "%" matters, since only
    // escapes are decoded later.
    const size_t folder_end = static_cast<size_t>(std::strrchr(real, '/') - real) + 1;
    size_t escapes = 0;
    for (size_t i = 0; i < folder_end; ++i)
        escapes += real[i] == '%';
    const size_t folder_length = folder_end + 2 * escapes;

    size_t pieces = 0;
    size_t longest = 0;
    for (const char* at = class_path; *at != '\0';) {
        at += std::strspn(at, class_path_separators);
        const size_t length = std::strcspn(at, class_path_separators);
        if (length > 0)
            ++pieces;
        longest = length > longest ? length : longest;
        at += length;
    }
    if (pieces == 0)
        return 0;
    if (pieces > INT32_MAX)
        return jar_out_of_memory;
    char* folder = static_cast<char*>(std::malloc(folder_length + 1));
    char* scratch = static_cast<char*>(std::malloc(folder_length + longest + 1));
    char** list = static_cast<char**>(std::calloc(pieces, sizeof(char*)));
    int32_t listed = 0;
    int result = folder != nullptr && scratch != nullptr && list != nullptr ? 0 : jar_out_of_memory;
    if (result == 0) {
        size_t at = 0;
        for (size_t i = 0; i < folder_end; ++i) {
            if (real[i] == '%') {
                std::memcpy(folder + at, "%25", 3);
                at += 3;
            } else {
                folder[at++] = real[i];
            }
        }
        folder[at] = '\0';
    }
    for (const char* at = class_path; result == 0 && *at != '\0';) {
        at += std::strspn(at, class_path_separators);
        const size_t length = std::strcspn(at, class_path_separators);
        size_t path_length = 0;
        const piece_outcome outcome = length > 0 ? resolve_piece(folder, at, length, scratch, &path_length)
                                                 : piece_ignored;
        at += length;
        if (outcome == piece_drops_jar) {
            result = jar_left_out;
        } else if (outcome == piece_path) {
            list[listed] = static_cast<char*>(std::malloc(path_length + 1));
            if (list[listed] == nullptr) {
                result = jar_out_of_memory;
            } else {
                std::memcpy(list[listed], scratch, path_length);
                list[listed++][path_length] = '\0';
            }
        }
    }
    std::free(folder);
    std::free(scratch);
    if (result != 0 || listed == 0) {
        free_jar_class_path(listed, list);
        return result;
    }
    *count = listed;
    *paths = list;
    return 0;
}

void free_jar_class_path(int32_t count, char** paths)
{
    for (int32_t i = 0; i < count; ++i)
        std::free(paths[i]);
    std::free(paths);
}
