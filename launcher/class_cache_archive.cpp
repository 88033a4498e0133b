// SPDX-License-Identifier: Apache-2.0
// The cache file: when one is whole, opening the one to map, whether the VM
// mapped it, and keeping the dynamic archive the VM wrote into memory.
#include "launcher/class_cache.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// HotSpot's dynamic archives begin with this number, in the machine's byte
// order, followed by a checksum and the header's version. HotSpot writes the
// header last, after every region.
constexpr uint32_t dynamic_archive_magic = 0xf00baba8;

// An AOT cache is a static archive, and its record (an AOT configuration)
// one too, with a number of its own; HotSpot writes their headers last too.
// A later JDK checks a cache's length and its version itself.
constexpr uint32_t static_archive_magic = 0xf00baba2;
constexpr uint32_t aot_configuration_magic = 0xcafea07c;

// JDK 17 (header version 11) maps an archive without comparing its length
// with its header, and dies of SIGBUS on one cut short. Its header holds 7
// regions of 72 bytes from byte 16 on, each with its offset in the file at
// byte 24 and its length at byte 40. Later JDKs check the length themselves.
constexpr uint32_t jdk17_header_version = 11;
constexpr size_t jdk17_region_count = 7;
constexpr size_t jdk17_regions_start = 16;
constexpr size_t jdk17_region_size = 72;
constexpr size_t jdk17_region_offset = 24;
constexpr size_t jdk17_region_length = 40;

// 64 bits that no other launch, in any PID namespace, is likely to draw; a
// name made of them is still created with O_EXCL. Never 0, which names the
// cache itself (see write_class_cache_name).
uint64_t draw_random()
{
    uint64_t value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof value)) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        value = static_cast<uint64_t>(now.tv_nsec) * 0x9e3779b97f4a7c15u ^ static_cast<uint64_t>(now.tv_sec) << 20
              ^ static_cast<uint64_t>(getpid());
    }
    return value != 0 ? value : 1;
}

// Copies `length` bytes of `from`, from its start, to `to`. Returns 0, or -1
// with errno set.
int copy_file(int from, int to, off_t length)
{
    off_t offset = 0;
    while (offset < length) {
        const ssize_t sent = sendfile(to, from, &offset, static_cast<size_t>(length - offset));
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0) {
            if (sent == 0)
                errno = EIO;
            return -1;
        }
    }
    return 0;
}

// A cache, DIGEST.jsa or DIGEST.aot, comes with DIGEST.sum, which holds the
// sum of its bytes, so that a cache whose bytes changed after it was kept is
// never handed to the VM, which would crash on it or load broken classes
// from it.

// Whether the sum file of the plan's archive, a regular file of this user's
// that only they may write, holds `sum`.
bool holds_sum(const class_cache_plan* plan, uint64_t sum)
{
    char name[NAME_MAX + 1];
    write_class_cache_name(plan->digest, 0, "sum", name);
    const int file = openat(plan->folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file < 0)
        return false;
    struct stat info;
    char text[17] = {};
    const bool readable = fstat(file, &info) == 0 && S_ISREG(info.st_mode) && is_owned_by_this_user_or_root(info)
        && !is_writable_by_others(info) && pread(file, text, 16, 0) == 16;
    close(file);
    char expected[17];
    write_class_cache_sum(sum, expected);
    return readable && std::memcmp(text, expected, 16) == 0;
}

// Writes the sum file of the plan's archive anew, holding `sum`, under a
// temporary name that reaches the disk before it takes its own. Returns 0,
// or -1 with errno set, leaving nothing behind.
int keep_sum(const class_cache_plan* plan, uint64_t sum)
{
    char temp_name[NAME_MAX + 1];
    char name[NAME_MAX + 1];
    write_class_cache_name(plan->digest, 0, "sum", name);
    const int temp = create_class_cache_file(plan, "tmp", temp_name);
    if (temp < 0)
        return -1;
    char text[17];
    write_class_cache_sum(sum, text);
    const int result = pwrite(temp, text, 17, 0) == 17 && fsync(temp) == 0
            && renameat(plan->folder, temp_name, plan->folder, name) == 0
        ? 0
        : -1;
    const int error = errno;
    if (result != 0)
        unlinkat(plan->folder, temp_name, 0);
    close(temp);
    errno = error;
    return result;
}

} // namespace

// Read through the descriptor, never mapped, so that a file cut short
// meanwhile reads short instead of killing the process. Four lanes of 64
// bits, each word mixed in by a multiplication with an odd constant and a
// rotation, both of which lose nothing: a changed word always changes its
// lane.
int sum_class_cache_file(int file, uint64_t* sum)
{
    constexpr uint64_t odd = 0x9e3779b97f4a7c15u;
    uint64_t lanes[4] = {1, 2, 3, 4};
    uint64_t words[8192];
    uint64_t length = 0;
    for (;;) {
        const ssize_t got = pread(file, words, sizeof words, static_cast<off_t>(length));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        // A last piece shorter than a word is padded with zero bytes; the
        // length, summed last, tells the paddings apart.
        const size_t count = (static_cast<size_t>(got) + 7) / 8;
        std::memset(reinterpret_cast<char*>(words) + got, 0, count * 8 - static_cast<size_t>(got));
        for (size_t i = 0; i < count; ++i) {
            uint64_t& lane = lanes[i % 4];
            lane = (lane ^ words[i]) * odd;
            lane = lane << 31 | lane >> 33;
        }
        length += static_cast<uint64_t>(got);
    }
    *sum = ((lanes[0] * odd ^ lanes[1]) * odd ^ lanes[2]) * odd ^ lanes[3] ^ length * odd;
    return 0;
}

void write_class_cache_sum(uint64_t sum, char (&text)[17])
{
    for (int i = 15; i >= 0; --i, sum >>= 4)
        text[i] = "0123456789abcdef"[sum & 15];
    text[16] = '\n';
}

void write_class_cache_name(uint64_t digest, uint64_t middle, const char* suffix, char (&name)[NAME_MAX + 1])
{
    if (middle == 0)
        std::snprintf(name, sizeof name, "%016llx.%s", static_cast<unsigned long long>(digest), suffix);
    else
        std::snprintf(name, sizeof name, "%016llx.%016llx.%s", static_cast<unsigned long long>(digest),
                      static_cast<unsigned long long>(middle), suffix);
}

int create_class_cache_file(const class_cache_plan* plan, const char* suffix, char (&name)[NAME_MAX + 1])
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        write_class_cache_name(plan->digest, draw_random(), suffix, name);
        const int file = openat(plan->folder, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file >= 0) {
            if (flock(file, LOCK_EX | LOCK_NB) == 0)
                return file;
            unlinkat(plan->folder, name, 0);
            close(file);
            return -1;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

bool is_whole_class_cache_archive(int file, class_cache_kind kind)
{
    uint32_t start[3];
    if (pread(file, start, sizeof start, 0) != static_cast<ssize_t>(sizeof start)
        || start[0] != (kind == class_cache_aot_cache ? static_archive_magic : dynamic_archive_magic))
        return false;
    if (kind == class_cache_aot_cache || start[2] != jdk17_header_version)
        return true;
    unsigned char regions[jdk17_region_count * jdk17_region_size];
    struct stat info;
    if (pread(file, regions, sizeof regions, jdk17_regions_start) != static_cast<ssize_t>(sizeof regions)
        || fstat(file, &info) != 0)
        return false;
    const auto size = static_cast<uint64_t>(info.st_size);
    for (size_t i = 0; i < jdk17_region_count; ++i) {
        uint64_t offset;
        uint64_t length;
        std::memcpy(&offset, regions + i * jdk17_region_size + jdk17_region_offset, sizeof offset);
        std::memcpy(&length, regions + i * jdk17_region_size + jdk17_region_length, sizeof length);
        if (length > 0 && (offset > size || length > size - offset))
            return false;
    }
    return true;
}

bool is_whole_class_cache_record(int file)
{
    uint32_t magic = 0;
    return pread(file, &magic, sizeof magic, 0) == static_cast<ssize_t>(sizeof magic) && magic == aot_configuration_magic;
}

int open_class_cache_archive(class_cache_plan* plan)
{
    char name[NAME_MAX + 1];
    write_class_cache_name(plan->digest, 0, class_cache_suffixes[plan->kind], name);
    struct stat info;
    if (fstatat(plan->folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : refuse_class_cache(plan, "%s: %s", name, std::strerror(errno));
    // A FIFO would block an open, a device could act on one.
    if (!S_ISREG(info.st_mode))
        return refuse_class_cache(plan, "%s is not a regular file", name);
    const int file = openat(plan->folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file < 0 || fstat(file, &info) != 0) {
        const int error = errno;
        if (file >= 0)
            close(file);
        return error == ENOENT ? 0 : refuse_class_cache(plan, "%s: %s", name, std::strerror(error));
    }
    if (!S_ISREG(info.st_mode) || !is_owned_by_this_user_or_root(info) || is_writable_by_others(info)) {
        close(file);
        return refuse_class_cache(plan, "%s is not a regular file of this user's that only they may write", name);
    }
    uint64_t sum = 0;
    if (!is_whole_class_cache_archive(file, plan->kind) || sum_class_cache_file(file, &sum) != 0
        || !holds_sum(plan, sum)) {
        close(file);
        return 0;
    }
    plan->archive = file;
    return 0;
}

int check_class_cache_mapped(class_cache_plan* plan)
{
    struct stat archive;
    if (!plan->used || plan->archive < 0 || fstat(plan->archive, &archive) != 0)
        return 0;
    // Lines of /proc/self/maps: ADDRESSES PERMISSIONS OFFSET MAJOR:MINOR INODE PATH.
    const int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0)
        return 0;
    char text[8192];
    size_t held = 0;
    bool mapped = false;
    for (;;) {
        const ssize_t got = read(maps, text + held, sizeof text - 1 - held);
        if (got <= 0)
            break;
        held += static_cast<size_t>(got);
        text[held] = '\0';
        char* line = text;
        for (char* end; !mapped && (end = std::strchr(line, '\n')) != nullptr; line = end + 1) {
            *end = '\0';
            unsigned major_number = 0;
            unsigned minor_number = 0;
            unsigned long long inode = 0;
            mapped = std::sscanf(line, "%*s %*s %*s %x:%x %llu", &major_number, &minor_number, &inode) == 3
                  && inode == archive.st_ino && major_number == major(archive.st_dev)
                  && minor_number == minor(archive.st_dev);
        }
        if (mapped)
            break;
        // A line longer than the buffer holds no file: it is skipped.
        held = line == text ? 0 : held - static_cast<size_t>(line - text);
        std::memmove(text, line, held);
    }
    close(maps);
    if (mapped)
        return 0;
    // Rejected by the VM: the next launch writes it anew, unless another
    // launch already has.
    char name[NAME_MAX + 1];
    write_class_cache_name(plan->digest, 0, class_cache_suffixes[plan->kind], name);
    struct stat named;
    close(plan->archive);
    plan->archive = -1;
    return fstatat(plan->folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_ino == archive.st_ino
                && named.st_dev == archive.st_dev && unlinkat(plan->folder, name, 0) == 0
             ? 1
             : 0;
}

int keep_class_cache_archive(class_cache_plan* plan)
{
    struct stat written;
    if (plan->memory_file < 0 || fstat(plan->memory_file, &written) != 0
        || !is_whole_class_cache_archive(plan->memory_file, class_cache_dynamic_archive))
        return 0;
    char temp_name[NAME_MAX + 1];
    char name[NAME_MAX + 1];
    write_class_cache_name(plan->digest, 0, "jsa", name);
    // The folder may have been removed since: the descriptor then leads to
    // a folder in which nothing can be made.
    const int temp = create_class_cache_file(plan, "tmp", temp_name);
    if (temp < 0)
        return refuse_class_cache(plan, "%s", std::strerror(errno));
    int result = 1;
    uint64_t sum = 0;
    if (sum_class_cache_file(plan->memory_file, &sum) != 0 || keep_sum(plan, sum) != 0
        || copy_file(plan->memory_file, temp, written.st_size) != 0 || fsync(temp) != 0
        || renameat(plan->folder, temp_name, plan->folder, name) != 0) {
        const int error = errno;
        unlinkat(plan->folder, temp_name, 0);
        result = refuse_class_cache(plan, "%s", std::strerror(error));
    }
    close(temp);
    return result;
}
