// SPDX-License-Identifier: Apache-2.0
// Runs a program with the system log a test asks for, in a mount namespace
// of its own, so that the machine's /dev/log is neither used nor changed:
//
//   velta-test-system-log listen|full|absent file|terminal CAPTURE PROGRAM [ARGUMENT...]
//
// listen: a datagram socket of its own listens at /dev/log, and each datagram
// that reached it is written to CAPTURE as one line. full: its queue is full
// and nobody reads it while the program runs. absent: nothing is at /dev/log.
// /dev is an overlay of the real one, so its devices stay usable. terminal:
// the program's standard error is a pseudo-terminal, whose output is copied
// to this program's standard error at the end. SIGALRM ends the program after
// 10 s. Exits with the program's status (128 + signal), or 77 when the
// namespace cannot be made (it needs root), which the tests take as a reason
// to skip.
#include <pty.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int cannot_isolate = 77;

// Puts an overlay of /dev, whose changes stay in this namespace, in place of
// /dev, and removes /dev/log from it. Returns false when that is not allowed.
bool isolate_dev(const std::string& layer)
{
    const std::string options = "lowerdir=/dev,upperdir=" + layer + "/upper,workdir=" + layer + "/work";
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && mount("tmpfs", layer.c_str(), "tmpfs", 0, nullptr) == 0 && mkdir((layer + "/upper").c_str(), 0755) == 0
        && mkdir((layer + "/work").c_str(), 0755) == 0
        && mount("overlay", "/dev", "overlay", 0, options.c_str()) == 0 && (unlink("/dev/log") == 0 || errno == ENOENT);
}

int listen_at_dev_log(bool full)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/dev/log");
    const int log = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (log < 0 || bind(log, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return -1;
    // Until a fresh sender is refused: the queue is full, not a sender's buffer.
    for (int sent = full ? 1 : 0; sent > 0;) {
        const int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        connect(sender, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        for (sent = 0; send(sender, "", 0, 0) == 0; ++sent) {
        }
    }
    return log;
}

int run(char** arguments, int standard_error)
{
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);
        if (standard_error < 0 || dup2(standard_error, STDERR_FILENO) == STDERR_FILENO)
            execv(arguments[0], arguments);
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s listen|full|absent file|terminal CAPTURE PROGRAM [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    const bool listen = std::strcmp(argv[1], "absent") != 0;
    // Before /dev changes, which hides /dev/pts. No output processing: "\n" stays.
    int terminal = -1;
    int program_end = -1;
    termios plain{};
    if (std::strcmp(argv[2], "terminal") == 0 && openpty(&terminal, &program_end, nullptr, &plain, nullptr) != 0)
        return cannot_isolate;
    char layer[] = "/tmp/velta-dev-XXXXXX";
    if (mkdtemp(layer) == nullptr)
        return cannot_isolate;
    const bool isolated = isolate_dev(layer);
    const int log = isolated && listen ? listen_at_dev_log(std::strcmp(argv[1], "full") == 0) : -1;
    const int status = !isolated || (listen && log < 0) ? cannot_isolate : run(argv + 4, program_end);

    FILE* capture = std::fopen(argv[3], "w");
    char received[65536];
    for (ssize_t got; capture != nullptr && log >= 0 && (got = recv(log, received, sizeof received, MSG_DONTWAIT)) >= 0;)
        std::fprintf(capture, "%.*s%s", static_cast<int>(got), received, got > 0 ? "\n" : "");
    if (capture != nullptr)
        std::fclose(capture);
    close(program_end);
    for (ssize_t got; terminal >= 0 && (got = read(terminal, received, sizeof received)) > 0;)
        std::fwrite(received, 1, static_cast<size_t>(got), stderr);
    umount2("/dev", MNT_DETACH);
    umount2(layer, MNT_DETACH);
    rmdir(layer);
    return status;
}
