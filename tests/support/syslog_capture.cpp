// SPDX-License-Identifier: Apache-2.0
// Preloaded into the real launcher binary by end-to-end tests in place of glibc's
// system log: every record is appended, as "<priority> <message>\n", to the
// file that VELTA_SYSLOG_CAPTURE names. Without that variable records are
// dropped. The fortified entry points are covered too, since a build with
// _FORTIFY_SOURCE calls those instead. The launcher logs to the system log
// only where something listens at its socket: with the variable set, the
// capture answers for it.
#include "tests/support/log_line.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>

#include <cstdarg>
#include <cstring>

namespace {

__attribute__((format(printf, 2, 0))) void capture(int priority, const char* format, va_list arguments)
{
    append_log_line("VELTA_SYSLOG_CAPTURE", priority & 7, format, arguments);
}

} // namespace

extern "C" {

// glibc's fortified entry points, which <syslog.h> declares only under
// _FORTIFY_SOURCE.
__attribute__((format(printf, 3, 4))) void __syslog_chk(int priority, int flag, const char* format, ...);
__attribute__((format(printf, 3, 0))) void __vsyslog_chk(int priority, int flag, const char* format,
                                                         va_list arguments);

__attribute__((visibility("default"))) void vsyslog(int priority, const char* format, va_list arguments)
{
    capture(priority, format, arguments);
}

__attribute__((visibility("default"))) void syslog(int priority, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    capture(priority, format, arguments);
    va_end(arguments);
}

__attribute__((visibility("default"))) void __vsyslog_chk(int priority, int, const char* format, va_list arguments)
{
    capture(priority, format, arguments);
}

__attribute__((visibility("default"))) void __syslog_chk(int priority, int, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    capture(priority, format, arguments);
    va_end(arguments);
}

__attribute__((visibility("default"))) int connect(int file, const sockaddr* address, socklen_t length)
{
    const auto* local = reinterpret_cast<const sockaddr_un*>(address);
    if (std::getenv("VELTA_SYSLOG_CAPTURE") != nullptr && address->sa_family == AF_UNIX
        && std::strncmp(local->sun_path, _PATH_LOG, sizeof local->sun_path) == 0)
        return 0;
    static const auto next = reinterpret_cast<decltype(&connect)>(dlsym(RTLD_NEXT, "connect"));
    return next(file, address, length);
}

} // extern "C"
