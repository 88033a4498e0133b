// SPDX-License-Identifier: Apache-2.0
// read_config_file on what is not a plain configuration file: devices,
// FIFOs, sockets, directories, huge sparse files, files of /proc and /sys
// whose reported size is not their content, files that change size between
// their measurement and their read, broken links and unreadable files. Each
// gives null, at once, without reading more than the measured size allows.
// Linked with -Wl,--wrap=read, so every read the reader makes is seen here.
#include "config/config.h"
#include "tests/support/config_text.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
ssize_t __real_read(int file, void* buffer, size_t size);
ssize_t __wrap_read(int file, void* buffer, size_t size);
}

namespace {

// While `counting`, the largest size asked of read, and a change made to the
// file `changed_path` just before the first read, after the reader measured
// it.
struct {
    bool counting;
    size_t most_requested;
    void (*change_before_read)(const std::string& path);
    std::string changed_path;
} reads;

} // namespace

extern "C" ssize_t __wrap_read(int file, void* buffer, size_t size)
{
    if (reads.counting) {
        reads.most_requested = std::max(reads.most_requested, size);
        if (reads.change_before_read != nullptr) {
            reads.change_before_read(reads.changed_path);
            reads.change_before_read = nullptr;
        }
    }
    return __real_read(file, buffer, size);
}

namespace {

const char small_config[] = "[java]\nmainclass=a.B\n";

struct hostile_case {
    const char* name;
    std::string path;
    size_t most_requested; // the largest read the reader may ask for
};

// Reads `path` as the launcher would, with a hang ending the test, and
// returns the largest read asked for.
size_t read_refused(const std::string& path)
{
    reads.counting = true;
    reads.most_requested = 0;
    alarm(10);
    const config_ptr root(read_config_file(path.c_str()));
    alarm(0);
    reads.counting = false;
    EXPECT_EQ(root, nullptr);
    return reads.most_requested;
}

TEST(HostileFiles, AreRefusedWithoutReadingMoreThanTheirMeasuredSize)
{
    scratch_folder scratch;
    make_strange_files(scratch);
    const std::string fifo = scratch.file("fifo");

    std::vector<hostile_case> cases = {
        {"a directory", scratch.path, 0},
        {"a FIFO without writer", fifo, 0},
        {"a socket file", scratch.file("socket"), 0},
        {"/dev/zero", "/dev/zero", 0},
        {"/dev/null", "/dev/null", 0},
        {"a sparse file of 2 GiB", scratch.file("2GiB.conf"), 0},
        {"a sparse file of INT32_MAX bytes", scratch.file("int32max.conf"), 0},
        // Regular files of size 0 whose content is not empty: the one byte
        // asked beyond the measured size arrives, so the file is refused.
        {"/proc/self/status", "/proc/self/status", 1},
        {"/proc/self/environ", "/proc/self/environ", 1},
        {"a dangling symbolic link", scratch.file("dangling.conf"), 0},
        {"a symbolic link to itself", scratch.file("loop.conf"), 0},
        {"a name longer than PATH_MAX", "/" + std::string(PATH_MAX + 10, 'x'), 0},
        {"an empty name", "", 0},
    };
    // A file of /sys reports a page whatever it holds: it comes up short.
    const char sys_file[] = "/sys/devices/system/cpu/online";
    struct stat info {};
    if (stat(sys_file, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        cases.push_back({"a file of /sys", sys_file, static_cast<size_t>(info.st_size) + 1});
    else
        std::printf("no %s here: the short read of a /sys file is not tried\n", sys_file);

    for (const hostile_case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_LE(read_refused(c.path), c.most_requested);
    }
}

void grow(const std::string& path)
{
    write_file(path, std::string(small_config) + "added=after measuring\n");
}

void shrink(const std::string& path)
{
    ASSERT_EQ(truncate(path.c_str(), 7), 0);
}

TEST(HostileFiles, AFileThatChangesSizeBetweenMeasureAndReadIsRefused)
{
    scratch_folder scratch;
    const std::string path = scratch.file("changing.conf");
    const struct {
        const char* name;
        void (*change)(const std::string& path);
    } cases[] = {{"grows", grow}, {"shrinks", shrink}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(path, small_config);
        reads.changed_path = path;
        reads.change_before_read = c.change;
        EXPECT_EQ(read_refused(path), sizeof small_config); // its size then one more byte
        EXPECT_EQ(reads.change_before_read, nullptr) << "the file was never changed";
    }
    // Unchanged, the same file is read.
    write_file(path, small_config);
    const config_ptr root(read_config_file(path.c_str()));
    EXPECT_STREQ(get_config_value(root.get(), "java", "mainclass", nullptr), "a.B");
}

// Runs read_config_file in a child process as the user nobody when this
// process is root (root reads any file), else as this user; returns whether
// a configuration came back.
bool read_by_unprivileged_child(const std::string& path)
{
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        config_section* root = read_config_file(path.c_str());
        _exit(root != nullptr ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "could not drop privileges";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(HostileFiles, AFileWithoutReadPermissionIsRefused)
{
    scratch_folder scratch;
    // Only the file's own mode may stand in the way.
    ASSERT_EQ(chmod(scratch.path.c_str(), 0755), 0);
    const std::string readable = scratch.file("readable.conf");
    const std::string locked = scratch.file("locked.conf");
    write_file(readable, small_config);
    write_file(locked, small_config);
    ASSERT_EQ(chmod(readable.c_str(), 0644), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0200), 0);
    EXPECT_TRUE(read_by_unprivileged_child(readable));
    EXPECT_FALSE(read_by_unprivileged_child(locked));
}

} // namespace
