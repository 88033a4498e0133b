// SPDX-License-Identifier: Apache-2.0
// Runs a program with the system log a test asks for, in a mount namespace
// of its own, so that the machine's /dev/log is neither used nor changed:
//
//   velta-test-system-log listen CAPTURE PROGRAM [ARGUMENT...]
//   velta-test-system-log absent PROGRAM [ARGUMENT...]
//
// listen: a datagram socket of its own listens at /dev/log, and each datagram
// that reached it is written to CAPTURE as one line. absent: nothing is at
// /dev/log. /dev is an overlay of the real one, so its devices stay usable.
// Exits with the program's status (128 + signal), or 77 when the namespace
// cannot be made (it needs root), which the tests take as a reason to skip.
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

int listen_at_dev_log()
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/dev/log");
    const int log = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (log < 0 || bind(log, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return -1;
    return log;
}

int run(char** arguments)
{
    const pid_t child = fork();
    if (child == 0) {
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
    const bool listen = argc >= 4 && std::strcmp(argv[1], "listen") == 0;
    if (!listen && (argc < 3 || std::strcmp(argv[1], "absent") != 0)) {
        std::fprintf(stderr, "usage: %s listen CAPTURE PROGRAM [ARGUMENT...] | absent PROGRAM [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    char layer[] = "/tmp/velta-dev-XXXXXX";
    if (mkdtemp(layer) == nullptr)
        return cannot_isolate;
    const bool isolated = isolate_dev(layer);
    const int log = isolated && listen ? listen_at_dev_log() : -1;
    const int status = !isolated || (listen && log < 0) ? cannot_isolate : run(argv + (listen ? 3 : 2));

    if (log >= 0) {
        FILE* capture = std::fopen(argv[2], "w");
        char datagram[65536];
        for (ssize_t got; capture != nullptr && (got = recv(log, datagram, sizeof datagram, MSG_DONTWAIT)) >= 0;)
            std::fprintf(capture, "%.*s\n", static_cast<int>(got), datagram);
        if (capture != nullptr)
            std::fclose(capture);
    }
    umount2("/dev", MNT_DETACH);
    umount2(layer, MNT_DETACH);
    rmdir(layer);
    return status;
}
