// SPDX-License-Identifier: Apache-2.0
#include "config/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The file is parsed through a buffer of this many bytes, not held whole:
// the buffer stays in the processor's cache and the configuration is the
// only memory that grows with the file. It grows only for a line or header
// that does not fit.
constexpr size_t piece_capacity = 64 * 1024;

} // namespace

config_section* read_config_file(const char* path)
{
    // Non-blocking so that opening a FIFO without a writer returns at once;
    // it is then refused below like every other file that is not regular.
    const int file = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (file < 0)
        return nullptr;

    config_parser parser{};
    char* buffer = nullptr;
    size_t capacity = 0; // bytes the buffer takes before its terminating NUL
    size_t kept = 0;     // bytes at the start of the buffer not parsed yet
    int64_t expected = 0;
    int64_t total = 0;
    bool complete = false;
    struct stat64 info;
    // The size is a 32-bit count, so the largest file taken is INT32_MAX - 1
    // bytes, as when the file was read whole with a terminating NUL.
    if (fstat64(file, &info) == 0 && S_ISREG(info.st_mode) && info.st_size < INT32_MAX) {
        expected = info.st_size;
        // Room for one byte more than measured: reading it shows a file that
        // grew after it was measured.
        capacity = static_cast<size_t>(expected) + 1 < piece_capacity ? static_cast<size_t>(expected) + 1
                                                                       : piece_capacity;
        buffer = static_cast<char*>(std::malloc(capacity + 1));
    }
    while (buffer != nullptr && !complete) {
        if (kept == capacity) {
            char* grown = static_cast<char*>(std::malloc(2 * capacity + 1));
            if (grown != nullptr)
                std::memcpy(grown, buffer, kept);
            std::free(buffer);
            buffer = grown;
            capacity *= 2;
            if (buffer == nullptr)
                break;
        }
        const ssize_t got = read(file, buffer + kept, capacity - kept);
        // A read error, or a file longer than measured, ends the reading;
        // one that shrank shows as a short total below.
        if (got < 0 || total + got > expected)
            break;
        total += got;
        const bool last = got == 0;
        char* end = buffer + kept + got;
        *end = '\0';
        // Once the text has ended (at a NUL in the file) the rest is read,
        // to check its size, but neither parsed nor kept.
        if (!parser.ended) {
            const char* rest = parse_config_piece(&parser, buffer, end, last);
            if (rest == nullptr)
                break;
            kept = parser.ended ? 0 : static_cast<size_t>(end - rest);
            std::memmove(buffer, rest, kept);
        }
        complete = last;
    }
    close(file);
    std::free(buffer);

    if (!complete || total != expected)
        discard_config_parser(&parser);
    return parser.root;
}
