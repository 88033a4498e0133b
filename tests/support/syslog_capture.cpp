// Preloaded into the real launcher binary by end-to-end tests in place of glibc's
// system log: every record is appended, as "<priority> <message>\n", to the
// file that VELTA_SYSLOG_CAPTURE names. Without that variable records are
// dropped. The fortified entry points are covered too, since a build with
// _FORTIFY_SOURCE calls those instead.
#include "tests/support/log_line.h"

#include <syslog.h>

#include <cstdarg>

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

} // extern "C"
