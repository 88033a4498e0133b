// SPDX-License-Identifier: Apache-2.0
// velta-java's messages go to the system log, and to standard error when the
// log cannot take them at once or standard error is a terminal, where a
// person reads it (as logger -s does). glibc's syslog would wait for as long
// as a log that does not read keeps its queue full, so each message is sent
// here, on a socket that never blocks. Sending uses async-signal-safe calls
// only, so that _exit's report can log through log_error_message.
#include "platform/platform.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <syslog.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Sends `parts`, gathered, to the system log's socket as one datagram.
// Returns whether the log took it whole: false where nothing listens, where
// the log's queue is full, and for a message too long for a datagram.
bool send_to_system_log(iovec* parts, size_t count)
{
    const int log = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (log < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    static_assert(sizeof _PATH_LOG <= sizeof address.sun_path);
    std::memcpy(address.sun_path, _PATH_LOG, sizeof _PATH_LOG);
    msghdr datagram{};
    datagram.msg_iov = parts;
    datagram.msg_iovlen = count;
    size_t length = 0;
    for (size_t i = 0; i < count; ++i)
        length += parts[i].iov_len;
    const bool sent = connect(log, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
        && sendmsg(log, &datagram, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
    close(log);
    return sent;
}

} // namespace

void log_error_message(const char* message)
{
    const int caller_errno = errno;
    // What glibc's syslog sends without openlog, "<11>TAG: MESSAGE" (priority
    // err, facility user, the program's name as the tag), but without the
    // time stamp, since local time cannot be had async-signal-safely:
    // journald, rsyslog and syslog-ng stamp a message without one with its
    // arrival. Standard error gets "TAG: MESSAGE\n" in one write.
    iovec line[] = {
        {const_cast<char*>("<11>"), 4},
        {program_invocation_short_name, std::strlen(program_invocation_short_name)},
        {const_cast<char*>(": "), 2},
        {const_cast<char*>(message), std::strlen(message)},
        {const_cast<char*>("\n"), 1},
    };
    termios terminal;
    if (!send_to_system_log(line, 4) || tcgetattr(STDERR_FILENO, &terminal) == 0) {
        if (writev(STDERR_FILENO, line + 1, 4) < 0) {
            // Standard error is the last place a message can go.
        }
    }
    errno = caller_errno;
}

void log_error(const char* format, ...)
{
    // Most messages fit here. One that holds a long path or class name is
    // made on the heap, or cut to what fits here when memory has run out.
    char fitting[1024];
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(fitting, sizeof fitting, format, arguments);
    va_end(arguments);
    char* whole = nullptr;
    if (length >= static_cast<int>(sizeof fitting)) {
        whole = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
        if (whole != nullptr)
            std::vsnprintf(whole, static_cast<size_t>(length) + 1, format, again);
    }
    va_end(again);
    // A message longer than printf can count is told by its format.
    log_error_message(length < 0 ? format : whole != nullptr ? whole : fitting);
    std::free(whole);
}
