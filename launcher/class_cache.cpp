// SPDX-License-Identifier: Apache-2.0
#include "launcher/class_cache.h"
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// HotSpot's dynamic archives begin with this number, in the machine's byte
// order, followed by a checksum and the header's version. HotSpot writes the
// header last, after every region.
constexpr uint32_t dynamic_archive_magic = 0xf00baba8;

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

// The oldest JDK whose dynamic archives this cache has been tried with.
constexpr int oldest_java_major = 17;

constexpr char class_path_prefix[] = "-Djava.class.path=";

// Options through which a configuration sets class-data sharing itself. An
// option that starts with one of these leaves the cache out of the launch.
constexpr const char* sharing_option_prefixes[] = {
    "-Xshare:", "-XX:SharedArchiveFile", "-XX:ArchiveClassesAtExit", "-XX:+AutoCreateSharedArchive",
    "-XX:-UseSharedSpaces", "-XX:SharedClassListFile", "-XX:+RecordDynamicDumpInfo", "-XX:AOT",
};

// FNV-1a, 64 bits: small, and enough to tell one launch configuration from
// another; the VM itself checks the archive it maps against the class path.
constexpr uint64_t fnv_offset_basis = 0xcbf29ce484222325u;
constexpr uint64_t fnv_prime = 0x100000001b3u;

void add_bytes(uint64_t* digest, const void* bytes, size_t length)
{
    const auto* byte = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length; ++i)
        *digest = (*digest ^ byte[i]) * fnv_prime;
}

// Adds `text` with its terminating NUL, so that no two lists of texts give
// the same bytes.
void add_text(uint64_t* digest, const char* text)
{
    add_bytes(digest, text, std::strlen(text) + 1);
}

void add_number(uint64_t* digest, int64_t number)
{
    add_bytes(digest, &number, sizeof number);
}

void add_modification(uint64_t* digest, const struct stat& info)
{
    add_number(digest, info.st_mtim.tv_sec);
    add_number(digest, info.st_mtim.tv_nsec);
}

// Adds whether `path` exists and, when it does, its size and modification
// time.
void add_file_state(uint64_t* digest, const char* path)
{
    struct stat info;
    const bool exists = stat(path, &info) == 0;
    add_number(digest, exists ? 1 : 0);
    if (exists) {
        add_number(digest, info.st_size);
        add_modification(digest, info);
    }
}

void add_variable(uint64_t* digest, const char* name)
{
    const char* value = std::getenv(name);
    add_number(digest, value != nullptr ? 1 : 0);
    if (value != nullptr)
        add_text(digest, value);
}

// Returns a new copy of `first` followed by `second`, or null when memory
// runs out.
char* concatenate(const char* first, const char* second)
{
    const size_t first_length = std::strlen(first);
    const size_t second_length = std::strlen(second);
    char* result = static_cast<char*>(std::malloc(first_length + second_length + 1));
    if (result != nullptr) {
        std::memcpy(result, first, first_length);
        std::memcpy(result + first_length, second, second_length + 1);
    }
    return result;
}

// Returns a new "FOLDER/DIGEST" followed by `suffix`, or null when memory
// runs out.
char* make_archive_path(const char* folder, uint64_t digest, const char* suffix)
{
    static const char format[] = "%s/%016llx%s";
    const auto number = static_cast<unsigned long long>(digest);
    const int length = std::snprintf(nullptr, 0, format, folder, number, suffix);
    if (length < 0)
        return nullptr;
    char* path = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (path != nullptr)
        std::snprintf(path, static_cast<size_t>(length) + 1, format, folder, number, suffix);
    return path;
}

// Copies into `ancestor` the folder `levels` folders up from the file
// `path`: 1 gives the folder that holds it. Returns false when `path` has
// fewer folders or the result is longer than a path can be.
bool copy_ancestor(const char* path, int levels, char (&ancestor)[PATH_MAX])
{
    size_t end = std::strlen(path);
    for (int level = 0; level < levels; ++level) {
        while (end > 0 && path[end - 1] != '/')
            --end;
        if (end == 0)
            return false;
        --end;
    }
    if (end >= sizeof ancestor)
        return false;
    std::memcpy(ancestor, path, end);
    ancestor[end] = '\0';
    return true;
}

// Copies the class-path entry that starts at `entry` into `path` and
// returns where the next entry starts, or null after the last one. An empty
// entry (the current folder, which the VM never archives from) and one too
// long to be a path are copied as "".
const char* take_class_path_entry(const char* entry, char (&path)[PATH_MAX])
{
    const char* end = std::strchr(entry, class_path_separator);
    const size_t length = end != nullptr ? static_cast<size_t>(end - entry) : std::strlen(entry);
    if (length >= sizeof path)
        path[0] = '\0';
    else {
        std::memcpy(path, entry, length);
        path[length] = '\0';
    }
    return end != nullptr ? end + 1 : nullptr;
}

// A folder the VM would refuse to archive from. The VM judges a folder it
// cannot open to be empty, and so does this.
bool is_non_empty_folder(const char* path)
{
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    DIR* folder = opendir(path);
    if (folder == nullptr)
        return false;
    bool empty = true;
    while (const dirent* entry = readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    closedir(folder);
    return !empty;
}

const char* find_sharing_option(const JavaVMOption* options, int32_t option_count)
{
    for (int32_t i = 0; i < option_count; ++i) {
        const char* option = options[i].optionString;
        if (std::strcmp(option, "-Xshare:auto") == 0)
            continue;
        for (const char* prefix : sharing_option_prefixes) {
            if (std::strncmp(option, prefix, std::strlen(prefix)) == 0)
                return option;
        }
    }
    return nullptr;
}

// True when `file` begins with an archive's header and, for JDK 17, holds
// every region its header lists.
bool is_whole_archive(int file)
{
    uint32_t start[3];
    if (pread(file, start, sizeof start, 0) != static_cast<ssize_t>(sizeof start)
        || start[0] != dynamic_archive_magic)
        return false;
    if (start[2] != jdk17_header_version)
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

// Returns 1 when `archive` is a whole archive, 0 when it does not exist or
// is no whole archive, -1 with errno set when it cannot be examined.
int find_whole_archive(const char* archive)
{
    const int file = open(archive, O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return errno == ENOENT ? 0 : -1;
    const bool whole = is_whole_archive(file);
    close(file);
    return whole ? 1 : 0;
}

// Creates and removes `path`, where the VM is to write the archive. A file
// of that name was left only by a process of the same number that is gone,
// as every name holds its process's number.
bool can_create(const char* path)
{
    const int file = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0)
        return false;
    close(file);
    return unlink(path) == 0;
}

// Returns the first class-path entry that is a folder with something in it,
// copied into `path`; null when there is none.
const char* find_non_empty_folder(const char* class_path, char (&path)[PATH_MAX])
{
    for (const char* entry = class_path; entry != nullptr;) {
        entry = take_class_path_entry(entry, path);
        if (path[0] != '\0' && is_non_empty_folder(path))
            return path;
    }
    return nullptr;
}

// Copies into `holder` the folder that holds `folder`, as named: "a/b/"
// gives "a", "b" gives ".", "/b" gives "/". Returns false when that is
// longer than a path can be.
bool copy_holding_folder(const char* folder, char (&holder)[PATH_MAX])
{
    size_t end = std::strlen(folder);
    while (end > 1 && folder[end - 1] == '/')
        --end;
    while (end > 0 && folder[end - 1] != '/')
        --end;
    while (end > 1 && folder[end - 1] == '/')
        --end;
    if (end == 0) {
        std::strcpy(holder, ".");
        return true;
    }
    if (end >= sizeof holder)
        return false;
    std::memcpy(holder, folder, end);
    holder[end] = '\0';
    return true;
}

bool is_owned_by_this_user_or_root(const struct stat& info)
{
    return info.st_uid == geteuid() || info.st_uid == 0;
}

bool is_writable_by_others(const struct stat& info)
{
    return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// Empties *plan and leaves in its refusal the cause, made from `format` as
// printf makes it. Returns -1.
__attribute__((format(printf, 2, 3))) int refuse(class_cache_plan* plan, const char* format, ...)
{
    free_class_cache_plan(plan);
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(plan->refusal, sizeof plan->refusal, format, arguments);
    va_end(arguments);
    return -1;
}

// Returns a new copy of `text`, or null when memory runs out.
char* copy_text(const char* text)
{
    return concatenate(text, "");
}

// Returns the major version of the JDK whose `release` file holds `text`
// (from its JAVA_VERSION line: "17.0.15" gives 17, "1.8.0_392" gives 8), or
// -1 when there is no such line or it starts with no number.
int parse_java_major_version(const char* text)
{
    static const char key[] = "JAVA_VERSION=";
    const char* line = text;
    while (std::strncmp(line, key, sizeof key - 1) != 0) {
        line = std::strchr(line, '\n');
        if (line == nullptr)
            return -1;
        ++line;
    }
    const char* value = line + sizeof key - 1;
    if (*value == '"')
        ++value;
    // Versions before 9 were written 1.MAJOR.
    if (value[0] == '1' && value[1] == '.')
        value += 2;
    if (*value < '0' || *value > '9')
        return -1;
    int major = 0;
    for (; *value >= '0' && *value <= '9'; ++value) {
        if (major > 9999)
            return -1;
        major = major * 10 + (*value - '0');
    }
    return major;
}

// Returns the major version of the JDK that the VM library file
// `vm_library` belongs to (JDK/lib/server/libjvm.so: JDK/release is read),
// or -1 when that file cannot be read or names no version.
int read_java_major_version(const char* vm_library)
{
    // JDK/lib/server/libjvm.so
    char release_path[PATH_MAX];
    if (!copy_ancestor(vm_library, 3, release_path)
        || std::strlen(release_path) + sizeof "/release" > sizeof release_path)
        return -1;
    std::strcat(release_path, "/release");

    // A release file is a few dozen short lines; what lies past this much
    // is no version line of a JDK.
    char text[16384];
    const int file = open(release_path, O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return -1;
    const ssize_t got = read(file, text, sizeof text - 1);
    close(file);
    if (got < 0)
        return -1;
    text[got] = '\0';
    return parse_java_major_version(text);
}

} // namespace

char* find_library_file(void* handle, char* path)
{
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr
        || map->l_name[0] == '\0')
        return nullptr;
    return realpath(map->l_name, path);
}

const char* check_class_cache_folder(const char* folder)
{
    // Whoever may rename the entries of the holding folder may put another
    // folder in this one's place; in a sticky folder only its owner may.
    char holder[PATH_MAX];
    struct stat info;
    if (!copy_holding_folder(folder, holder))
        return std::strerror(ENAMETOOLONG);
    if (stat(holder, &info) != 0)
        return std::strerror(errno);
    if (!is_owned_by_this_user_or_root(info))
        return "the folder that holds it is owned by another user";
    if (is_writable_by_others(info) && (info.st_mode & S_ISVTX) == 0)
        return "the folder that holds it is writable by group or others";
    if (stat(folder, &info) != 0)
        return errno == ENOENT ? nullptr : std::strerror(errno);
    if (!S_ISDIR(info.st_mode))
        return "not a folder";
    if (!is_owned_by_this_user_or_root(info))
        return "owned by another user";
    if (is_writable_by_others(info))
        return "writable by group or others";
    return nullptr;
}

const char* find_class_path(const JavaVMOption* options, int32_t option_count)
{
    const char* class_path = nullptr;
    for (int32_t i = 0; i < option_count; ++i) {
        if (std::strncmp(options[i].optionString, class_path_prefix, sizeof class_path_prefix - 1) == 0)
            class_path = options[i].optionString + sizeof class_path_prefix - 1;
    }
    return class_path;
}

int make_class_cache_digest(const char* vm_library, const char* main_class, const JavaVMOption* options,
                            int32_t option_count, uint64_t* digest)
{
    char path[PATH_MAX];
    struct stat library;
    struct stat library_folder;
    if (stat(vm_library, &library) != 0 || !copy_ancestor(vm_library, 1, path) || stat(path, &library_folder) != 0)
        return -1;

    uint64_t result = fnv_offset_basis;
    add_text(&result, vm_library);
    add_number(&result, library.st_size);
    add_modification(&result, library);
    add_modification(&result, library_folder);
    add_text(&result, main_class);
    add_number(&result, option_count);
    for (int32_t i = 0; i < option_count; ++i)
        add_text(&result, options[i].optionString);
    add_variable(&result, "JAVA_TOOL_OPTIONS");
    add_variable(&result, "_JAVA_OPTIONS");
    for (const char* entry = find_class_path(options, option_count); entry != nullptr;) {
        entry = take_class_path_entry(entry, path);
        add_file_state(&result, path);
    }
    *digest = result;
    return 0;
}

int plan_class_cache(const char* folder, const char* vm_library, const char* main_class,
                     const JavaVMOption* options, int32_t option_count, class_cache_plan* plan)
{
    *plan = class_cache_plan{};
    if (vm_library == nullptr)
        return refuse(plan, "the VM library's file cannot be found");
    if (const char* option = find_sharing_option(options, option_count))
        return refuse(plan, "the option %s sets class-data sharing itself", option);
    char path[PATH_MAX];
    if (find_non_empty_folder(find_class_path(options, option_count), path) != nullptr)
        return refuse(plan, "the class path holds the folder %s, which is not empty", path);
    const int major = read_java_major_version(vm_library);
    if (major < 0)
        return refuse(plan, "no JDK version found for %s", vm_library);
    if (major < oldest_java_major)
        return refuse(plan, "JDK %d is older than %d", major, oldest_java_major);
    if (const char* cause = check_class_cache_folder(folder))
        return refuse(plan, "%s", cause);
    uint64_t digest = 0;
    if (make_class_cache_digest(vm_library, main_class, options, option_count, &digest) != 0)
        return refuse(plan, "%s", std::strerror(errno));

    plan->archive = make_archive_path(folder, digest, ".jsa");
    if (plan->archive == nullptr)
        return refuse(plan, "out of memory");
    const int found = find_whole_archive(plan->archive);
    if (found < 0)
        return refuse(plan, "%s", std::strerror(errno));
    if (found == 0) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%ld.tmp", static_cast<long>(getpid()));
        plan->temp_archive = make_archive_path(folder, digest, suffix);
        if (plan->temp_archive == nullptr)
            return refuse(plan, "out of memory");
    }
    plan->option = found == 1 ? concatenate("-XX:SharedArchiveFile=", plan->archive)
                              : concatenate("-XX:ArchiveClassesAtExit=", plan->temp_archive);
    return plan->option == nullptr ? refuse(plan, "out of memory") : 0;
}

int ready_class_cache(const char* folder, class_cache_plan* plan, JavaVMInitArgs* args)
{
    if (mkdir(folder, 0700) != 0 && errno != EEXIST)
        return refuse(plan, "%s", std::strerror(errno));
    if (const char* cause = check_class_cache_folder(folder))
        return refuse(plan, "%s", cause);
    if (plan->temp_archive != nullptr && !can_create(plan->temp_archive))
        return refuse(plan, "%s", std::strerror(errno));

    const int32_t count = args->nOptions;
    if (count > INT32_MAX - 2)
        return refuse(plan, "out of memory");
    auto* options = static_cast<JavaVMOption*>(std::calloc(static_cast<size_t>(count) + 2, sizeof(JavaVMOption)));
    char* first = copy_text(class_cache_quiet_option);
    char* last = copy_text(plan->option);
    if (options == nullptr || first == nullptr || last == nullptr) {
        std::free(options);
        std::free(first);
        std::free(last);
        return refuse(plan, "out of memory");
    }
    options[0].optionString = first;
    if (count > 0)
        std::memcpy(options + 1, args->options, static_cast<size_t>(count) * sizeof(JavaVMOption));
    options[count + 1].optionString = last;
    std::free(args->options);
    args->options = options;
    args->nOptions = count + 2;
    return 0;
}

int finish_class_cache(class_cache_plan* plan, bool keep)
{
    char* temp_archive = plan->temp_archive;
    if (temp_archive == nullptr)
        return 0;
    plan->temp_archive = nullptr;
    int result = 0;
    const int file = keep ? open(temp_archive, O_RDONLY | O_CLOEXEC) : -1;
    if (file >= 0) {
        const bool complete = is_whole_archive(file) && fsync(file) == 0;
        close(file);
        if (complete)
            result = rename(temp_archive, plan->archive) == 0 ? 1 : -1;
    }
    if (result != 1)
        unlink(temp_archive);
    std::free(temp_archive);
    return result;
}

void free_class_cache_plan(class_cache_plan* plan)
{
    std::free(plan->archive);
    std::free(plan->temp_archive);
    std::free(plan->option);
    *plan = class_cache_plan{};
}
