// SPDX-License-Identifier: Apache-2.0
// Preloaded into the real launcher binary by end-to-end tests and benchmarks
// in place of the system log: a socket connects to /dev/log without any log
// there, and each datagram "<PRIORITY>TAG: MESSAGE" sent on it is appended, as
// "<priority> <message>\n", to the file that VELTA_SYSLOG_CAPTURE names, or
// dropped without that variable. Every other call is glibc's.
#include "tests/support/log_line.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>

#include <algorithm>
#include <cstring>

namespace {

// The socket connected to the stand-in log, until it has sent its one
// datagram; -1 when none is.
int log_socket = -1;

__attribute__((format(printf, 2, 3))) void capture(int priority, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    append_log_line("VELTA_SYSLOG_CAPTURE", priority, format, arguments);
    va_end(arguments);
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int connect(int file, const sockaddr* address, socklen_t length)
{
    const auto* local = reinterpret_cast<const sockaddr_un*>(address);
    if (address->sa_family == AF_UNIX && std::strncmp(local->sun_path, _PATH_LOG, sizeof local->sun_path) == 0) {
        log_socket = file;
        return 0;
    }
    static const auto next = reinterpret_cast<decltype(&connect)>(dlsym(RTLD_NEXT, "connect"));
    return next(file, address, length);
}

__attribute__((visibility("default"))) ssize_t sendmsg(int file, const msghdr* message, int flags)
{
    static const auto next = reinterpret_cast<decltype(&sendmsg)>(dlsym(RTLD_NEXT, "sendmsg"));
    if (file != log_socket)
        return next(file, message, flags);
    log_socket = -1;
    // More than the capture keeps of a message.
    char datagram[16384];
    size_t length = 0;
    size_t sent = 0;
    for (size_t i = 0; i < message->msg_iovlen; ++i) {
        const size_t part = std::min(message->msg_iov[i].iov_len, sizeof datagram - 1 - length);
        std::memcpy(datagram + length, message->msg_iov[i].iov_base, part);
        length += part;
        sent += message->msg_iov[i].iov_len;
    }
    datagram[length] = '\0';
    const char* text = std::strstr(datagram, ": ");
    if (datagram[0] == '<' && text != nullptr)
        capture(std::atoi(datagram + 1) & 7, "%s", text + 2);
    return static_cast<ssize_t>(sent);
}

} // extern "C"
