// SPDX-License-Identifier: Apache-2.0
// Making an AOT cache from a launch's record once the launch has ended, by
// the JDK's own java, in a process of its own that the launch does not wait
// for.
#include "launcher/class_cache.h"
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// What the maker needs, all made before it is forked, with the process
// still alone: the maker may call anything.
struct making {
    const char* folder_path; // for messages
    int folder;
    int record;  // the memory file the VM records into
    int cache;   // the locked temporary file the cache is made into
    int sum;     // the locked temporary file of its sum
    int request; // the launch's end of this is told "make", or closed
    char cache_temp[NAME_MAX + 1];
    char sum_temp[NAME_MAX + 1];
    char cache_name[NAME_MAX + 1]; // DIGEST.aot
    char sum_name[NAME_MAX + 1];   // DIGEST.sum
    char record_option[64];        // -XX:AOTConfiguration=/proc/self/fd/RECORD
    char cache_option[64];         // -XX:AOTCache=/proc/self/fd/CACHE
    char** command;
    char** environment;
};

// Sets the making command: java, its own options first, as the java command
// reads options up to the first argument that is none, then the configured
// ones; and its environment: this process's, less the variables that the
// java command reads and the VM does not, which the recording VM did not see
// either. Both arrays are new, null-terminated, their strings borrowed.
// Returns false when memory ran out.
bool make_command(making* m, char* java, const JavaVMOption* options, int32_t option_count)
{
    static const char* const left_out[] = {"JDK_JAVA_OPTIONS=", "CLASSPATH="};
    static char create_option[] = "-XX:AOTMode=create";
    std::snprintf(m->record_option, sizeof m->record_option, "-XX:AOTConfiguration=/proc/self/fd/%d", m->record);
    std::snprintf(m->cache_option, sizeof m->cache_option, "-XX:AOTCache=/proc/self/fd/%d", m->cache);
    m->command = static_cast<char**>(std::calloc(static_cast<size_t>(option_count) + 5, sizeof(char*)));
    size_t variables = 0;
    while (environ[variables] != nullptr)
        ++variables;
    m->environment = static_cast<char**>(std::calloc(variables + 1, sizeof(char*)));
    if (m->command == nullptr || m->environment == nullptr)
        return false;
    char* first[] = {java, create_option, m->record_option, m->cache_option};
    std::memcpy(m->command, first, sizeof first);
    for (int32_t i = 0; i < option_count; ++i)
        m->command[4 + i] = options[i].optionString;
    size_t kept = 0;
    for (size_t i = 0; i < variables; ++i) {
        bool wanted = true;
        for (const char* name : left_out)
            wanted = wanted && std::strncmp(environ[i], name, std::strlen(name)) != 0;
        if (wanted)
            m->environment[kept++] = environ[i];
    }
    return true;
}

// Puts /dev/null on the standard descriptors and closes every other
// descriptor but those in `kept`.
void keep_only(int (&kept)[5])
{
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int standard = 0; null >= 0 && standard < 3; ++standard) {
        if (null != standard)
            dup2(null, standard);
    }
    for (int i = 1; i < 5; ++i) {
        for (int j = i; j > 0 && kept[j - 1] > kept[j]; --j) {
            const int moved = kept[j];
            kept[j] = kept[j - 1];
            kept[j - 1] = moved;
        }
    }
    unsigned first = 3;
    for (const int descriptor : kept) {
        if (static_cast<unsigned>(descriptor) > first)
            close_range(first, static_cast<unsigned>(descriptor) - 1, 0);
        if (static_cast<unsigned>(descriptor) + 1 > first)
            first = static_cast<unsigned>(descriptor) + 1;
    }
    close_range(first, ~0u, 0);
}

// Runs the making command and waits for it, stopping it after
// class_cache_making_seconds. Returns its wait status, or -1 when it could
// not be started (errno set) or was stopped.
int run_command(const making& m)
{
    const pid_t java = fork();
    if (java == 0) {
        // The record and the cache reach java as /proc/self/fd/N.
        fcntl(m.record, F_SETFD, 0);
        fcntl(m.cache, F_SETFD, 0);
        execve(m.command[0], m.command, m.environment);
        _exit(127);
    }
    if (java < 0)
        return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const time_t end = now.tv_sec + class_cache_making_seconds;
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(java, &status, WNOHANG);
        if (ended == java)
            return status;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if ((ended < 0 && errno != EINTR) || now.tv_sec >= end) {
            kill(java, SIGKILL);
            while (waitpid(java, &status, 0) < 0 && errno == EINTR) {
            }
            errno = ETIME;
            return -1;
        }
        const timespec pause{0, 10000000};
        nanosleep(&pause, nullptr);
    }
}

// Each file reaches the disk before it takes its name, the sum before the
// cache, as a launch reads them. Returns 0, or -1 with errno set.
int keep_cache(const making& m)
{
    uint64_t sum = 0;
    char text[17];
    if (sum_class_cache_file(m.cache, &sum) != 0)
        return -1;
    write_class_cache_sum(sum, text);
    return pwrite(m.sum, text, sizeof text, 0) == static_cast<ssize_t>(sizeof text) && fsync(m.sum) == 0
            && fsync(m.cache) == 0 && renameat(m.folder, m.sum_temp, m.folder, m.sum_name) == 0
            && renameat(m.folder, m.cache_temp, m.folder, m.cache_name) == 0
        ? 0
        : -1;
}

// The maker: waits for the launch to end, makes the cache when asked to,
// and ends. What fails is logged, as the launch would log it.
[[noreturn]] void make(const making& m)
{
    int kept[5] = {m.folder, m.record, m.cache, m.sum, m.request};
    keep_only(kept);
    char asked = 0;
    ssize_t got;
    while ((got = read(m.request, &asked, 1)) < 0 && errno == EINTR) {
    }
    if (got == 1 && is_whole_class_cache_record(m.record)) {
        const int status = run_command(m);
        char cause[128];
        if (status < 0)
            std::snprintf(cause, sizeof cause, "%s could not be run: %s", m.command[0], std::strerror(errno));
        else if (WIFSIGNALED(status))
            std::snprintf(cause, sizeof cause, "%s ended by signal %d", m.command[0], WTERMSIG(status));
        else if (WEXITSTATUS(status) != 0)
            std::snprintf(cause, sizeof cause, "%s ended with status %d", m.command[0], WEXITSTATUS(status));
        else if (!is_whole_class_cache_archive(m.cache, class_cache_aot_cache))
            std::snprintf(cause, sizeof cause, "%s made no whole cache", m.command[0]);
        else if (keep_cache(m) != 0)
            std::snprintf(cause, sizeof cause, "%s", std::strerror(errno));
        else
            _exit(0);
        log_error("Not keeping class cache archive in %s: %s", m.folder_path, cause);
    }
    unlinkat(m.folder, m.cache_temp, 0);
    unlinkat(m.folder, m.sum_temp, 0);
    _exit(0);
}

} // namespace

int start_class_cache_maker(class_cache_plan* plan, const JavaVMOption* options, int32_t option_count)
{
    making m{};
    m.folder_path = plan->folder_path;
    m.folder = plan->folder;
    m.record = plan->memory_file;
    write_class_cache_name(plan->digest, 0, "aot", m.cache_name);
    write_class_cache_name(plan->digest, 0, "sum", m.sum_name);
    int ends[2] = {-1, -1};
    m.cache = create_class_cache_file(plan, "tmp", m.cache_temp);
    m.sum = m.cache >= 0 ? create_class_cache_file(plan, "tmp", m.sum_temp) : -1;
    bool made = m.sum >= 0 && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0;
    if (made && !make_command(&m, plan->java, options, option_count)) {
        made = false;
        errno = ENOMEM;
    }
    m.request = ends[0];
    const pid_t child = made ? fork() : -1;
    if (child == 0) {
        // In a session of its own, which no terminal signals. Its child, the
        // maker, is no process of this launch's.
        setsid();
        struct sigaction ignore{};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGTERM, &ignore, nullptr);
        sigaction(SIGINT, &ignore, nullptr);
        sigaction(SIGHUP, &ignore, nullptr);
        if (fork() == 0)
            make(m);
        _exit(0);
    }
    const int error = errno;
    if (child > 0) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    std::free(m.command);
    std::free(m.environment);
    // The maker holds the temporary files locked from now on.
    const int temps[] = {m.cache, m.sum};
    const char* names[] = {m.cache_temp, m.sum_temp};
    for (int i = 0; i < 2; ++i) {
        if (temps[i] >= 0 && child < 0)
            unlinkat(plan->folder, names[i], 0);
        if (temps[i] >= 0)
            close(temps[i]);
    }
    if (ends[0] >= 0)
        close(ends[0]);
    if (child < 0) {
        if (ends[1] >= 0)
            close(ends[1]);
        errno = error;
        return -1;
    }
    plan->maker = ends[1];
    return 0;
}

int ask_class_cache_maker(class_cache_plan* plan, bool make)
{
    const bool asked = make && send(plan->maker, "m", 1, MSG_NOSIGNAL) == 1;
    close(plan->maker);
    plan->maker = -1;
    return asked ? 1 : 0;
}
