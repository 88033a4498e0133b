// SPDX-License-Identifier: Apache-2.0
// The class cache's plan and its steps; the folder, the cache file and the
// making of an AOT cache have files of their own.
#include "launcher/class_cache.h"
#include "launcher/jar.h"
#include "launcher/text.h"
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The oldest JDK whose dynamic archives this cache has been tried with, and
// the first whose AOT caches it keeps instead.
constexpr int oldest_java_major = 17;
constexpr int first_aot_cache_major = 25;

constexpr char class_path_prefix[] = "-Djava.class.path=";

// Options through which class-data sharing is set other than by the cache,
// and those that name files of further options, which the cache cannot see
// into. An option that starts with one of these, wherever the VM takes it
// from, leaves the cache out of the launch: with two archive options the VM
// refuses to start, or writes and maps what the cache did not plan.
constexpr const char* sharing_option_prefixes[] = {
    "-Xshare:", "-XX:SharedArchiveFile", "-XX:ArchiveClassesAtExit", "-XX:+AutoCreateSharedArchive",
    "-XX:-UseSharedSpaces", "-XX:SharedClassListFile", "-XX:+RecordDynamicDumpInfo", "-XX:AOT",
    "-XX:+DynamicDumpSharedSpaces", "-XX:+DumpSharedSpaces",
};
constexpr const char* options_file_prefixes[] = {"-XX:Flags=", "-XX:VMOptionsFile="};
// Options with which a VM that is to write an archive or record does not
// start ("Cannot use the following option when dumping the shared archive").
constexpr const char* unarchivable_option_prefixes[] = {"--patch-module", "--limit-modules", "--upgrade-module-path"};

// The variables from which HotSpot takes options in a JNI launch, the first
// before the options it is handed, the second after them. (JDK_JAVA_OPTIONS
// is read by the java command, not by the VM.)
constexpr const char* option_variables[] = {"JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};

// FNV-1a, 64 bits: small, and enough to tell one launch configuration from
// another. (A VM checks a dynamic archive it maps against the class path's
// jars itself, but no AOT cache.)
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

void add_time(uint64_t* digest, const timespec& time)
{
    add_number(digest, time.tv_sec);
    add_number(digest, time.tv_nsec);
}

// Adds whether `path` exists and, when it does, what tells one file from
// another at the same path: a file replaced by a copy of the same size and
// times (cp -p, rsync -a, tar) has another inode or change time. Returns
// whether it exists, with its state in *info.
bool add_file_state(uint64_t* digest, const char* path, struct stat* info)
{
    const bool exists = stat(path, info) == 0;
    add_number(digest, exists ? 1 : 0);
    if (exists) {
        add_number(digest, info->st_size);
        add_time(digest, info->st_mtim);
        add_time(digest, info->st_ctim);
        add_number(digest, static_cast<int64_t>(info->st_dev));
        add_number(digest, static_cast<int64_t>(info->st_ino));
    }
    return exists;
}

// The jars whose manifests a digest has read, by device and inode, so that
// each is read once however many manifests name it, and a manifest that
// names a jar that names it back ends.
struct read_jar {
    dev_t device;
    ino_t inode;
};
struct read_jars {
    read_jar* jars;
    size_t count;
    size_t capacity;
};

// Adds the file `info` describes to *read unless it is there, or is no
// regular file. Returns 1 when added, 0 when not, -1 when memory ran out.
int add_read_jar(read_jars* read, const struct stat& info)
{
    if (!S_ISREG(info.st_mode))
        return 0;
    for (size_t i = 0; i < read->count; ++i) {
        if (read->jars[i].device == info.st_dev && read->jars[i].inode == info.st_ino)
            return 0;
    }
    if (read->count == read->capacity) {
        const size_t capacity = read->capacity > 0 ? read->capacity * 2 : 16;
        auto* jars = static_cast<read_jar*>(std::malloc(capacity * sizeof(read_jar)));
        if (jars == nullptr)
            return -1;
        if (read->count > 0)
            std::memcpy(jars, read->jars, read->count * sizeof(read_jar));
        std::free(read->jars);
        read->jars = jars;
        read->capacity = capacity;
    }
    read->jars[read->count++] = read_jar{info.st_dev, info.st_ino};
    return 1;
}

// Adds the jars that the manifest of the jar at `path`, whose state is
// `info`, names in Class-Path,
// each with its file state and, after it, those it names in turn: the class
// loader searches them as entries of the class path, and an AOT cache does
// not check them (a VM that maps a dynamic archive does, and would reject
// it). A jar whose manifest cannot be read, and a piece that
// leaves the jar out, add nothing more: the class loader takes no jar from
// such a manifest. Returns 0, or -1 when memory ran out.
int add_manifest_class_path(uint64_t* digest, const char* path, const struct stat& info, read_jars* jars)
{
    const int added = add_read_jar(jars, info);
    if (added <= 0)
        return added;
    char* value = nullptr;
    int32_t count = 0;
    char** paths = nullptr;
    int result = read_jar_class_path(path, &value);
    if (result == 0 && value != nullptr)
        result = resolve_jar_class_path(path, value, &count, &paths);
    for (int32_t i = 0; result == 0 && i < count; ++i) {
        add_text(digest, paths[i]);
        struct stat named;
        if (add_file_state(digest, paths[i], &named) && add_manifest_class_path(digest, paths[i], named, jars) != 0)
            result = jar_out_of_memory;
    }
    std::free(value);
    free_jar_class_path(count, paths);
    return result == jar_out_of_memory ? -1 : 0;
}

void add_variable(uint64_t* digest, const char* name)
{
    const char* value = std::getenv(name);
    add_number(digest, value != nullptr ? 1 : 0);
    if (value != nullptr)
        add_text(digest, value);
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

// Copies to `java` the java command of the JDK whose VM library file is
// `vm_library` (JDK/lib/server/libjvm.so). Returns false when the path would
// be too long.
bool find_java_command(const char* vm_library, char (&java)[PATH_MAX])
{
    static const char command[] = "/bin/java";
    return copy_ancestor(vm_library, 3, java) && std::strlen(java) + sizeof command <= sizeof java
        && std::strcat(java, command) != nullptr;
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

// Returns why `option` leaves the cache out, or null when it does not.
const char* find_sharing_cause(const char* option)
{
    if (std::strcmp(option, "-Xshare:auto") == 0)
        return nullptr;
    for (const char* prefix : sharing_option_prefixes) {
        if (std::strncmp(option, prefix, std::strlen(prefix)) == 0)
            return "sets class-data sharing itself";
    }
    for (const char* prefix : options_file_prefixes) {
        if (std::strncmp(option, prefix, std::strlen(prefix)) == 0)
            return "names a file of options, which may set class-data sharing";
    }
    for (const char* prefix : unarchivable_option_prefixes) {
        if (std::strncmp(option, prefix, std::strlen(prefix)) == 0)
            return "keeps a VM from making a cache (it would not start)";
    }
    return nullptr;
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
    char release_path[PATH_MAX];
    if (!copy_ancestor(vm_library, 3, release_path)
        || std::strlen(release_path) + sizeof "/release" > sizeof release_path)
        return -1;
    std::strcat(release_path, "/release");

    // A release file is a few dozen short lines; what lies past this much
    // is no version line of a JDK.
    char text[16384];
    const int file = open(release_path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0)
        return -1;
    const ssize_t got = read(file, text, sizeof text - 1);
    close(file);
    if (got < 0)
        return -1;
    text[got] = '\0';
    return parse_java_major_version(text);
}

// Refuses with the first option, configured or from the environment, that
// sets class-data sharing. Returns 0 when there is none, else -1.
int refuse_sharing_options(class_cache_plan* plan, const JavaVMOption* options, int32_t option_count)
{
    for (int32_t i = 0; i < option_count; ++i) {
        if (const char* cause = find_sharing_cause(options[i].optionString))
            return refuse_class_cache(plan, "the option %s %s", options[i].optionString, cause);
    }
    for (const char* variable : option_variables) {
        // Only an option's start decides.
        char found[64];
        const char* text = std::getenv(variable);
        while (text != nullptr && take_vm_option(&text, found, sizeof found) == 1) {
            if (const char* cause = find_sharing_cause(found))
                return refuse_class_cache(plan, "the option %s in %s %s", found, variable, cause);
        }
    }
    return 0;
}

// Refuses when the class path holds a folder that is not empty, or, for a
// launch that writes the archive, more entries than half the descriptors the
// process may open. Returns 0 or -1.
int refuse_class_path(class_cache_plan* plan, const char* class_path)
{
    char path[PATH_MAX];
    long long entries = 0;
    for (const char* entry = class_path; entry != nullptr; ++entries) {
        entry = take_class_path_entry(entry, path);
        if (path[0] != '\0' && is_non_empty_folder(path))
            return refuse_class_cache(plan, "the class path holds the folder %s, which is not empty", path);
    }
    rlimit limit{};
    if (plan->archive < 0 && getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_max != RLIM_INFINITY
        && static_cast<unsigned long long>(entries) > limit.rlim_max / 2)
        return refuse_class_cache(plan,
                                  "the class path has %lld entries, and a VM that writes an archive keeps each open, "
                                  "more than half of the %llu files this process may open",
                                  entries, static_cast<unsigned long long>(limit.rlim_max));
    return 0;
}

// How another process that is handed the VM's options (a program that
// starts java with its own input arguments) reaches a path of a descriptor.
enum descriptor_reach {
    // Through /proc/self/task/PID/fd/N, PID this process's first thread: no
    // other process has a thread of that number while this one lives. The
    // VM there finds nothing, and goes without a cache or its record.
    reached_by_this_process,
    // Through /proc/PID/fd/N: while this process lives, this descriptor, so
    // that a VM there writes its dynamic archive into this launch's memory
    // file, which this launch's own VM writes anew at its end, instead of
    // ending with status 1 or writing into a file of its own at N. N is
    // high (see move_to_high_descriptor).
    reached_by_others_too,
};

// Moves *descriptor to one of the highest numbers this process may open.
// Once this process has ended, another may be given its number, and a VM
// that a program started with this launch's options then reaches, through
// /proc/PID/fd/N, that process's descriptor N: a number that high is one a
// process rarely holds. Returns 0, or -1 with errno set and *descriptor
// unchanged.
int move_to_high_descriptor(int* descriptor)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    const rlim_t highest = limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > INT_MAX ? INT_MAX : limit.rlim_cur;
    const int moved = fcntl(*descriptor, F_DUPFD_CLOEXEC, static_cast<int>(highest > 128 ? highest - 64 : highest / 2));
    if (moved < 0)
        return -1;
    close(*descriptor);
    *descriptor = moved;
    return 0;
}

// Returns a new PREFIX followed by the path of `descriptor`, or null when
// memory runs out.
char* make_descriptor_option(const char* prefix, int descriptor, descriptor_reach reach)
{
    char path[64];
    if (reach == reached_by_this_process)
        write_descriptor_path(descriptor, path);
    else
        std::snprintf(path, sizeof path, "/proc/%d/fd/%d", static_cast<int>(getpid()), descriptor);
    const size_t prefix_length = std::strlen(prefix);
    const size_t path_size = std::strlen(path) + 1;
    char* option = static_cast<char*>(std::malloc(prefix_length + path_size));
    if (option != nullptr) {
        std::memcpy(option, prefix, prefix_length);
        std::memcpy(option + prefix_length, path, path_size);
    }
    return option;
}

// Removes what launches that died left in the folder, with the archive that
// each mark among them names.
void remove_leftovers(const class_cache_plan* plan)
{
    DIR* scan = nullptr;
    class_cache_leftover found;
    while (next_class_cache_leftover(plan, &scan, &found) == 1) {
        unlinkat(plan->folder, found.name, 0);
        if (found.mark) {
            for (const char* suffix : class_cache_suffixes) {
                char name[NAME_MAX + 1];
                write_class_cache_name(found.digest, 0, suffix, name);
                unlinkat(plan->folder, name, 0);
            }
        }
    }
}

// Makes the missing cache folder, and the missing folders above it, in its
// holder (mode 0700, as mkdir -p would), and opens it; each folder made is
// opened without following a link and checked as the plan checks a folder.
// Returns 0 or -1 after refusing.
int make_folder(class_cache_plan* plan)
{
    int current = plan->holder;
    char* names = plan->folder_name;
    for (;;) {
        char* end = std::strchr(names, '/');
        if (end != nullptr)
            *end = '\0';
        const int made = mkdirat(current, names, 0700) != 0 && errno != EEXIST
            ? -1
            : openat(current, names, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat info;
        const bool checked = made >= 0 && fstat(made, &info) == 0;
        const int error = errno;
        if (current != plan->holder)
            close(current);
        if (end != nullptr)
            *end = '/';
        if (!checked) {
            if (made >= 0)
                close(made);
            return refuse_class_cache(plan, "%s", std::strerror(error));
        }
        if (!is_owned_by_this_user_or_root(info) || is_writable_by_others(info)) {
            close(made);
            return refuse_class_cache(plan, "made by another user, or writable by group or others");
        }
        if (end == nullptr) {
            plan->folder = made;
            return 0;
        }
        current = made;
        names = end + 1;
    }
}

} // namespace

int refuse_class_cache(class_cache_plan* plan, const char* format, ...)
{
    char cause[class_cache_refusal_size];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(cause, sizeof cause, format, arguments);
    va_end(arguments);
    free_class_cache_plan(plan);
    std::memcpy(plan->refusal, cause, sizeof cause);
    return -1;
}

char* find_library_file(void* handle, char* path)
{
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr
        || map->l_name[0] == '\0')
        return nullptr;
    return realpath(map->l_name, path);
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
    uint64_t result = fnv_offset_basis;
    add_text(&result, vm_library);
    if (!add_file_state(&result, vm_library, &library) || !copy_ancestor(vm_library, 1, path)
        || stat(path, &library_folder) != 0)
        return -1;
    add_time(&result, library_folder.st_mtim);
    add_text(&result, main_class);
    add_number(&result, option_count);
    for (int32_t i = 0; i < option_count; ++i)
        add_text(&result, options[i].optionString);
    for (const char* variable : option_variables)
        add_variable(&result, variable);
    read_jars jars{};
    int outcome = 0;
    for (const char* entry = find_class_path(options, option_count); outcome == 0 && entry != nullptr;) {
        entry = take_class_path_entry(entry, path);
        struct stat state;
        if (add_file_state(&result, path, &state))
            outcome = add_manifest_class_path(&result, path, state, &jars);
    }
    std::free(jars.jars);
    if (outcome != 0) {
        errno = ENOMEM;
        return -1;
    }
    *digest = result;
    return 0;
}

int plan_class_cache(const char* folder, const char* vm_library, const char* main_class,
                     const JavaVMOption* options, int32_t option_count, class_cache_plan* plan)
{
    empty_class_cache_plan(plan);
    plan->folder_path = folder;
    if (vm_library == nullptr)
        return refuse_class_cache(plan, "the VM library's file cannot be found");
    if (refuse_sharing_options(plan, options, option_count) != 0)
        return -1;
    const int major = read_java_major_version(vm_library);
    if (major < 0)
        return refuse_class_cache(plan, "no JDK version found for %s", vm_library);
    if (major < oldest_java_major)
        return refuse_class_cache(plan, "JDK %d is older than %d", major, oldest_java_major);
    plan->kind = major >= first_aot_cache_major ? class_cache_aot_cache : class_cache_dynamic_archive;
    if (plan->kind == class_cache_aot_cache
        && (!find_java_command(vm_library, plan->java) || faccessat(AT_FDCWD, plan->java, X_OK, AT_EACCESS) != 0))
        return refuse_class_cache(plan, "the JDK has no %s that this user may run, which makes the cache",
                                  plan->java[0] != '\0' ? plan->java : "bin/java");
    if (open_class_cache_folder(folder, plan) != 0)
        return -1;
    if (make_class_cache_digest(vm_library, main_class, options, option_count, &plan->digest) != 0)
        return refuse_class_cache(plan, "%s", errno == ENOMEM ? "out of memory" : std::strerror(errno));

    if (plan->folder >= 0) {
        DIR* scan = nullptr;
        class_cache_leftover found;
        while (next_class_cache_leftover(plan, &scan, &found) == 1) {
            ++plan->leftovers;
            plan->renew |= found.mark && found.digest == plan->digest;
        }
        // Another launch records this AOT cache, or its maker makes it: by
        // the time this one ends it will be there. (Another launch copying a
        // dynamic archive is done in a moment.)
        plan->making = plan->kind == class_cache_aot_cache && is_class_cache_being_made(plan);
        if (plan->making)
            return 0;
        if (!plan->renew && open_class_cache_archive(plan) != 0)
            return -1;
    }
    if (refuse_class_path(plan, find_class_path(options, option_count)) != 0)
        return -1;
    plan->used = true;
    return 0;
}

int ready_class_cache(class_cache_plan* plan, JavaVMInitArgs* args)
{
    if (!plan->used)
        return -1;
    if (plan->folder < 0 && make_folder(plan) != 0)
        return -1;
    // Those the plan found; any left since, the next launch removes.
    if (plan->leftovers > 0)
        remove_leftovers(plan);
    const bool aot = plan->kind == class_cache_aot_cache;
    if (plan->archive >= 0) {
        plan->mark = create_class_cache_file(plan, "map", plan->mark_name);
        if (plan->mark < 0)
            return refuse_class_cache(plan, "%s", std::strerror(errno));
    } else {
        plan->memory_file = memfd_create("velta-java class cache", MFD_CLOEXEC);
        if (plan->memory_file < 0 || move_to_high_descriptor(&plan->memory_file) != 0)
            return refuse_class_cache(plan, "%s", std::strerror(errno));
    }

    // The options the cache adds: one first, one or two last.
    char* added[3] = {copy_text(class_cache_quiet_options[plan->kind])};
    int32_t last_count = 1;
    if (!aot) {
        added[1] = plan->archive >= 0
            ? make_descriptor_option("-XX:SharedArchiveFile=", plan->archive, reached_by_this_process)
            : make_descriptor_option("-XX:ArchiveClassesAtExit=", plan->memory_file, reached_by_others_too);
    } else if (plan->archive >= 0) {
        added[1] = copy_text("-XX:AOTMode=auto");
        added[2] = make_descriptor_option("-XX:AOTCache=", plan->archive, reached_by_this_process);
        last_count = 2;
    } else {
        added[1] = copy_text("-XX:AOTMode=record");
        added[2] = make_descriptor_option("-XX:AOTConfiguration=", plan->memory_file, reached_by_this_process);
        last_count = 2;
    }
    const int32_t count = args->nOptions;
    auto* options = count <= INT32_MAX - 3 ? static_cast<JavaVMOption*>(std::calloc(
                        static_cast<size_t>(count) + 1 + static_cast<size_t>(last_count), sizeof(JavaVMOption)))
                                           : nullptr;
    bool complete = options != nullptr;
    for (int32_t i = 0; i <= last_count; ++i)
        complete = complete && added[i] != nullptr;
    // Started last: a maker that is never asked makes nothing.
    const bool recording = aot && plan->archive < 0;
    errno = ENOMEM;
    if (complete && recording)
        complete = start_class_cache_maker(plan, args->options, count) == 0;
    if (!complete) {
        const int error = errno;
        std::free(options);
        for (char* option : added)
            std::free(option);
        if (plan->mark >= 0)
            unlinkat(plan->folder, plan->mark_name, 0);
        return refuse_class_cache(plan, "%s", error == ENOMEM ? "out of memory" : std::strerror(error));
    }
    if (recording) {
        // The VM prints this on standard output once it has recorded, as
        // "%s AOTConfiguration recorded: %s", the first empty.
        char line[128];
        const int length = std::snprintf(line, sizeof line, " AOTConfiguration recorded: %s\n",
                                         added[2] + sizeof "-XX:AOTConfiguration=" - 1);
        drop_vm_output_line(line, static_cast<size_t>(length));
    }
    options[0].optionString = added[0];
    if (count > 0)
        std::memcpy(options + 1, args->options, static_cast<size_t>(count) * sizeof(JavaVMOption));
    for (int32_t i = 1; i <= last_count; ++i)
        options[count + i].optionString = added[i];
    std::free(args->options);
    args->options = options;
    args->nOptions = count + 1 + last_count;
    return 0;
}

int finish_class_cache(class_cache_plan* plan, bool keep)
{
    if (!plan->used || __atomic_exchange_n(&plan->finished, 1, __ATOMIC_ACQ_REL) != 0)
        return 0;
    if (plan->mark >= 0) {
        // Removed while still locked, so that no launch takes it for a
        // leftover.
        unlinkat(plan->folder, plan->mark_name, 0);
        close(plan->mark);
        plan->mark = -1;
    }
    if (plan->maker >= 0)
        return ask_class_cache_maker(plan, keep && is_whole_class_cache_record(plan->memory_file));
    if (!keep || plan->memory_file < 0)
        return 0;
    const char* folder = plan->folder_path;
    const int kept = keep_class_cache_archive(plan);
    if (kept < 0)
        log_error("Not keeping class cache archive in %s: %s", folder, plan->refusal);
    return kept;
}

void empty_class_cache_plan(class_cache_plan* plan)
{
    *plan = class_cache_plan{};
    plan->set = true;
    plan->holder = -1;
    plan->folder = -1;
    plan->archive = -1;
    plan->memory_file = -1;
    plan->maker = -1;
    plan->mark = -1;
}

void free_class_cache_plan(class_cache_plan* plan)
{
    // A maker whose connection closes unasked makes nothing.
    const int descriptors[] = {plan->holder, plan->folder, plan->archive, plan->memory_file, plan->maker, plan->mark};
    for (const int descriptor : descriptors) {
        if (plan->set && descriptor >= 0)
            close(descriptor);
    }
    const char* folder_path = plan->folder_path;
    empty_class_cache_plan(plan);
    plan->folder_path = folder_path;
}
