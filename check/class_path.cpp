// SPDX-License-Identifier: Apache-2.0
#include "check/class_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Zip records, as PKWARE's application note lays them out (little-endian).
constexpr uint32_t end_of_central_directory = 0x06054b50;
constexpr uint32_t zip64_end_locator = 0x07064b50;
constexpr uint32_t zip64_end_of_central_directory = 0x06064b50;
constexpr uint32_t central_directory_header = 0x02014b50;
constexpr size_t end_record_size = 22;
constexpr size_t largest_comment = 0xffff;
constexpr size_t central_header_size = 46;

uint64_t little_endian(const unsigned char* bytes, int size)
{
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

bool read_at(int file, void* buffer, size_t size, uint64_t offset)
{
    return pread(file, buffer, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

// Finds the central directory of the archive `file` of `file_size` bytes.
// Returns false when the file is no zip archive.
bool find_central_directory(int file, uint64_t file_size, uint64_t* offset, uint64_t* size)
{
    if (file_size < end_record_size)
        return false;
    const size_t tail_size = static_cast<size_t>(
        file_size < end_record_size + largest_comment ? file_size : end_record_size + largest_comment);
    auto* tail = static_cast<unsigned char*>(std::malloc(tail_size));
    if (tail == nullptr || !read_at(file, tail, tail_size, file_size - tail_size)) {
        std::free(tail);
        return false;
    }
    // The end record is the last one whose comment reaches the end of the file.
    bool found = false;
    uint64_t end_at = 0;
    for (size_t at = tail_size - end_record_size + 1; at-- > 0;) {
        if (little_endian(tail + at, 4) == end_of_central_directory
            && at + end_record_size + little_endian(tail + at + 20, 2) == tail_size) {
            *size = little_endian(tail + at + 12, 4);
            *offset = little_endian(tail + at + 16, 4);
            end_at = file_size - tail_size + at;
            found = true;
            break;
        }
    }
    std::free(tail);
    if (found && (*size == 0xffffffff || *offset == 0xffffffff) && end_at >= 20) {
        // A zip64 archive: the locator just before the end record points at
        // the zip64 end record, which holds the real figures.
        unsigned char locator[20];
        unsigned char end64[56];
        found = read_at(file, locator, sizeof locator, end_at - 20)
            && little_endian(locator, 4) == zip64_end_locator
            && read_at(file, end64, sizeof end64, little_endian(locator + 8, 8))
            && little_endian(end64, 4) == zip64_end_of_central_directory;
        if (found) {
            *size = little_endian(end64 + 40, 8);
            *offset = little_endian(end64 + 48, 8);
        }
    }
    return found && *offset <= file_size && *size <= file_size - *offset;
}

bool archive_lists(const char* path, const char* name)
{
    const int file = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file < 0)
        return false;
    struct stat info;
    uint64_t offset = 0;
    uint64_t size = 0;
    unsigned char* directory = nullptr;
    if (fstat(file, &info) == 0 && S_ISREG(info.st_mode)
        && find_central_directory(file, static_cast<uint64_t>(info.st_size), &offset, &size)) {
        directory = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size) + 1));
        if (directory != nullptr && !read_at(file, directory, static_cast<size_t>(size), offset)) {
            std::free(directory);
            directory = nullptr;
        }
    }
    close(file);

    bool listed = false;
    const size_t name_length = std::strlen(name);
    for (size_t at = 0; directory != nullptr && !listed && size - at >= central_header_size;) {
        const unsigned char* header = directory + at;
        if (little_endian(header, 4) != central_directory_header)
            break;
        const size_t length = static_cast<size_t>(little_endian(header + 28, 2));
        const size_t record = central_header_size + length + static_cast<size_t>(little_endian(header + 30, 2))
            + static_cast<size_t>(little_endian(header + 32, 2));
        if (record > size - at)
            break;
        listed = length == name_length && std::memcmp(header + central_header_size, name, length) == 0;
        at += record;
    }
    std::free(directory);
    return listed;
}

} // namespace

class_path_entry_kind class_path_entry_kind_of(const char* path)
{
    // The VM reads an empty entry as the current folder.
    struct stat info;
    if (stat(path[0] != '\0' ? path : ".", &info) != 0)
        return entry_missing;
    return S_ISDIR(info.st_mode) ? entry_folder : entry_archive;
}

bool class_path_entry_holds(const char* path, const char* class_file)
{
    switch (class_path_entry_kind_of(path)) {
    case entry_missing:
        return false;
    case entry_folder: {
        const std::string file = std::string(path[0] != '\0' ? path : ".") + "/" + class_file;
        struct stat info;
        return stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    }
    case entry_archive:
        return archive_lists(path, class_file);
    }
    return false;
}
