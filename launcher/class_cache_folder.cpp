// SPDX-License-Identifier: Apache-2.0
// The cache folder: reached from "/" through descriptors, each folder checked
// by fstat on the descriptor that is then used, and the files that launches
// which died left in it.
#include "launcher/class_cache.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// As many links as the kernel follows in one path.
constexpr int most_links = 40;

// The walk's state: `rest` is what remains to be walked, from `at` on;
// `walked` names the folder `current` for messages.
struct folder_walk {
    char rest[PATH_MAX];
    size_t at;
    char walked[PATH_MAX];
    int current;
    int links;
};

// Takes the next name of the walk's rest into `name`, skipping "/" and ".".
// Returns false at the end of the rest; a name too long to be one is taken
// as "" with errno set.
bool take_name(folder_walk* walk, char (&name)[NAME_MAX + 1])
{
    for (;;) {
        while (walk->rest[walk->at] == '/')
            ++walk->at;
        const size_t start = walk->at;
        while (walk->rest[walk->at] != '/' && walk->rest[walk->at] != '\0')
            ++walk->at;
        const size_t length = walk->at - start;
        if (length == 0)
            return false;
        if (length > NAME_MAX) {
            errno = ENAMETOOLONG;
            name[0] = '\0';
            return true;
        }
        std::memcpy(name, walk->rest + start, length);
        name[length] = '\0';
        if (std::strcmp(name, ".") != 0)
            return true;
    }
}

bool at_end(const folder_walk* walk)
{
    size_t at = walk->at;
    while (walk->rest[at] == '/' || (walk->rest[at] == '.' && (walk->rest[at + 1] == '/' || walk->rest[at + 1] == '\0')))
        ++at;
    return walk->rest[at] == '\0';
}

// Sets the walk on "/" again. Returns 0, or -1 with errno set.
int restart_at_root(folder_walk* walk)
{
    if (walk->current >= 0)
        close(walk->current);
    walk->current = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    std::strcpy(walk->walked, "/");
    return walk->current < 0 ? -1 : 0;
}

void append_walked(folder_walk* walk, const char* name)
{
    const size_t length = std::strlen(walk->walked);
    std::snprintf(walk->walked + length, sizeof walk->walked - length, "%s%s",
                  length > 1 ? "/" : "", name);
}

// Replaces the link `name` in the walk's current folder by its target,
// followed by what remained after it. Returns 0, or -1 with errno set.
int follow_link(folder_walk* walk, const char* name)
{
    char target[PATH_MAX];
    if (++walk->links > most_links) {
        errno = ELOOP;
        return -1;
    }
    const ssize_t length = readlinkat(walk->current, name, target, sizeof target);
    if (length <= 0 || length == static_cast<ssize_t>(sizeof target)) {
        if (length >= 0)
            errno = length == 0 ? ENOENT : ENAMETOOLONG;
        return -1;
    }
    const size_t rest_length = std::strlen(walk->rest + walk->at);
    if (static_cast<size_t>(length) + 1 + rest_length + 1 > sizeof walk->rest) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memmove(walk->rest + length + 1, walk->rest + walk->at, rest_length + 1);
    std::memcpy(walk->rest, target, static_cast<size_t>(length));
    walk->rest[length] = '/';
    walk->at = 0;
    return target[0] == '/' ? restart_at_root(walk) : 0;
}

// Writes to `missing` the names of the folders still to be made: `first`,
// which does not exist, and the rest of the walk, joined by "/". Returns 0,
// or -1 with errno set when the rest goes up with ".." (what that names
// cannot be told before the folders are made) or the names do not fit.
int take_missing_names(folder_walk* walk, const char* first, char (&missing)[PATH_MAX])
{
    std::strcpy(missing, first);
    size_t length = std::strlen(first);
    char name[NAME_MAX + 1];
    while (take_name(walk, name)) {
        if (name[0] == '\0')
            return -1;
        const size_t name_length = std::strlen(name);
        if (std::strcmp(name, "..") == 0 || length + 1 + name_length >= sizeof missing) {
            errno = std::strcmp(name, "..") == 0 ? ENOENT : ENAMETOOLONG;
            return -1;
        }
        missing[length++] = '/';
        std::memcpy(missing + length, name, name_length + 1);
        length += name_length;
    }
    return 0;
}

// Checks that /proc/self/task/PID/fd leads to `descriptor` (the VM is given
// the cache that way) and that this user may make files in the folder it is.
// Returns 0, or -1 after refusing.
int check_reachable_and_writable(int descriptor, const char* shown, class_cache_plan* plan)
{
    char path[64];
    write_descriptor_path(descriptor, path);
    struct stat by_path;
    struct stat by_descriptor;
    if (stat(path, &by_path) != 0 || fstat(descriptor, &by_descriptor) != 0 || by_path.st_dev != by_descriptor.st_dev
        || by_path.st_ino != by_descriptor.st_ino)
        return refuse_class_cache(plan, "/proc/self/fd does not lead to open files (no /proc)");
    if (faccessat(AT_FDCWD, path, W_OK | X_OK, AT_EACCESS) != 0)
        return refuse_class_cache(plan, "%s cannot be written: %s", shown, std::strerror(errno));
    return 0;
}

// Parses NAME as DIGEST.MIDDLE.SUFFIX: 16 hexadecimal digits, then 1 to 32
// hexadecimal digits. Returns the suffix, or null.
const char* parse_leftover_name(const char* name, uint64_t* digest)
{
    size_t at = 0;
    uint64_t value = 0;
    for (; at < 16; ++at) {
        const char c = name[at];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            return nullptr;
        value = value << 4 | static_cast<unsigned>(digit);
    }
    if (name[at++] != '.')
        return nullptr;
    const size_t middle = at;
    while ((name[at] >= '0' && name[at] <= '9') || (name[at] >= 'a' && name[at] <= 'f'))
        ++at;
    if (at == middle || at - middle > 32 || name[at] != '.')
        return nullptr;
    *digest = value;
    return name + at + 1;
}

// Returns 1 when `name` in `folder` is a regular file that no process holds
// locked, 0 when one that a process holds, -1 when it is anything else or
// cannot be examined. Never opens anything but a regular file, and never
// blocks.
int lock_state(int folder, const char* name)
{
    struct stat info;
    if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
        return -1;
    const int file = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file < 0)
        return -1;
    const int state = fstat(file, &info) != 0 || !S_ISREG(info.st_mode) ? -1
                    : flock(file, LOCK_SH | LOCK_NB) == 0         ? 1
                    : errno == EWOULDBLOCK                        ? 0
                                                                  : -1;
    close(file);
    return state;
}

// Opens a scan of the plan's folder, reached through its descriptor; null
// when the folder is missing or cannot be read.
DIR* open_scan(const class_cache_plan* plan)
{
    const int folder = plan->folder >= 0 ? openat(plan->folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    DIR* scan = folder >= 0 ? fdopendir(folder) : nullptr;
    if (scan == nullptr && folder >= 0)
        close(folder);
    return scan;
}

} // namespace

void write_descriptor_path(int descriptor, char (&path)[64])
{
    std::snprintf(path, sizeof path, "/proc/self/task/%d/fd/%d", static_cast<int>(getpid()), descriptor);
}

bool is_owned_by_this_user_or_root(const struct stat& info)
{
    return info.st_uid == geteuid() || info.st_uid == 0;
}

bool is_writable_by_others(const struct stat& info)
{
    return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

int open_class_cache_folder(const char* folder, class_cache_plan* plan)
{
    folder_walk walk{};
    walk.current = -1;
    int result = -1;
    if (folder[0] == '/') {
        if (std::strlen(folder) >= sizeof walk.rest)
            return refuse_class_cache(plan, "%s", std::strerror(ENAMETOOLONG));
        std::strcpy(walk.rest, folder);
    } else if (getcwd(walk.rest, sizeof walk.rest) == nullptr
               || std::strlen(walk.rest) + 1 + std::strlen(folder) >= sizeof walk.rest) {
        return refuse_class_cache(plan, "%s", std::strerror(errno == ERANGE ? ENAMETOOLONG : errno));
    } else {
        std::strcat(walk.rest, "/");
        std::strcat(walk.rest, folder);
    }
    if (restart_at_root(&walk) != 0)
        return refuse_class_cache(plan, "%s", std::strerror(errno));

    // Each folder is checked once it is the walk's current one, as the holder
    // of what comes next.
    char name[NAME_MAX + 1];
    for (;;) {
        struct stat info;
        if (fstat(walk.current, &info) != 0) {
            refuse_class_cache(plan, "%s", std::strerror(errno));
            break;
        }
        if (!is_owned_by_this_user_or_root(info)) {
            refuse_class_cache(plan, "%s on the way to it belongs to another user", walk.walked);
            break;
        }
        if (is_writable_by_others(info) && (info.st_mode & S_ISVTX) == 0) {
            refuse_class_cache(plan, "%s on the way to it is writable by group or others", walk.walked);
            break;
        }
        if (!take_name(&walk, name)) {
            refuse_class_cache(plan, "names no folder to keep archives in");
            break;
        }
        if (name[0] == '\0') {
            refuse_class_cache(plan, "%s", std::strerror(errno));
            break;
        }
        const bool last = at_end(&walk);
        const int next = openat(walk.current, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            // Missing: a launch makes it, and the folders above it that are
            // missing too, in the folder just checked.
            plan->holder = walk.current;
            walk.current = -1;
            if (take_missing_names(&walk, name, plan->folder_name) != 0)
                result = refuse_class_cache(plan, "%s", std::strerror(errno));
            else
                result = check_reachable_and_writable(plan->holder, walk.walked, plan);
            break;
        }
        if (next < 0 || fstat(next, &info) != 0) {
            refuse_class_cache(plan, "%s", std::strerror(errno));
            if (next >= 0)
                close(next);
            break;
        }
        if (S_ISLNK(info.st_mode)) {
            close(next);
            if (follow_link(&walk, name) != 0) {
                refuse_class_cache(plan, "%s", std::strerror(errno));
                break;
            }
            continue;
        }
        if (!S_ISDIR(info.st_mode)) {
            close(next);
            refuse_class_cache(plan, "not a folder");
            break;
        }
        if (last) {
            // Only this user, or root, may make files in the cache folder.
            std::strcpy(plan->folder_name, name);
            plan->holder = walk.current;
            plan->folder = next;
            walk.current = -1;
            if (!is_owned_by_this_user_or_root(info))
                result = refuse_class_cache(plan, "owned by another user");
            else if (is_writable_by_others(info))
                result = refuse_class_cache(plan, "writable by group or others");
            else
                result = check_reachable_and_writable(plan->folder, "the folder", plan);
            break;
        }
        append_walked(&walk, name);
        close(walk.current);
        walk.current = next;
    }
    if (walk.current >= 0)
        close(walk.current);
    return result;
}

int next_class_cache_leftover(const class_cache_plan* plan, DIR** scan, class_cache_leftover* found)
{
    if (*scan == nullptr && (*scan = open_scan(plan)) == nullptr)
        return 0;
    while (const dirent* entry = readdir(*scan)) {
        const char* suffix = parse_leftover_name(entry->d_name, &found->digest);
        if (suffix == nullptr || (std::strcmp(suffix, "tmp") != 0 && std::strcmp(suffix, "map") != 0)
            || lock_state(plan->folder, entry->d_name) != 1)
            continue;
        std::strcpy(found->name, entry->d_name);
        found->mark = suffix[0] == 'm';
        return 1;
    }
    closedir(*scan);
    *scan = nullptr;
    return 0;
}

bool is_class_cache_being_made(const class_cache_plan* plan)
{
    DIR* scan = open_scan(plan);
    if (scan == nullptr)
        return false;
    bool held = false;
    for (const dirent* entry; !held && (entry = readdir(scan)) != nullptr;) {
        uint64_t digest = 0;
        const char* suffix = parse_leftover_name(entry->d_name, &digest);
        held = suffix != nullptr && std::strcmp(suffix, "tmp") == 0 && digest == plan->digest
            && lock_state(plan->folder, entry->d_name) == 0;
    }
    closedir(scan);
    return held;
}
