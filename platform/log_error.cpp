// SPDX-License-Identifier: Apache-2.0
#include "platform/platform.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Whether something takes datagrams at the system log's socket, where
// glibc's syslog sends them. Most containers have no system log: syslog then
// drops every message without a sign.
bool system_log_listens()
{
    const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    static_assert(sizeof _PATH_LOG <= sizeof address.sun_path);
    std::memcpy(address.sun_path, _PATH_LOG, sizeof _PATH_LOG);
    const bool listens = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return listens;
}

// Whether messages go to the system log: -1 until the first message asks
// (a run logs one or two at most). Only the launch's thread logs. Not a
// function's static, whose guard would tie the program to the C++ runtime
// for this one check.
int to_system_log = -1;

} // namespace

void log_error(const char* format, ...)
{
    if (to_system_log < 0)
        to_system_log = system_log_listens() ? 1 : 0;
    va_list arguments;
    va_start(arguments, format);
    if (to_system_log != 0) {
        vsyslog(LOG_ERR, format, arguments);
    } else {
        // Tagged as syslog would tag it, and written as one line while the
        // stream is locked, so that it does not mingle with other output.
        flockfile(stderr);
        std::fprintf(stderr, "%s: ", program_invocation_short_name);
        std::vfprintf(stderr, format, arguments);
        std::fputc('\n', stderr);
        funlockfile(stderr);
    }
    va_end(arguments);
}
