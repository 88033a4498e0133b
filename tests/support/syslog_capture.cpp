// Preloaded into the launcher (or linked into a test) in place of glibc's
// system log: every record is appended, as "<priority> <message>\n", to the
// file that VELTA_SYSLOG_CAPTURE names. Without that variable records are
// dropped. The fortified entry points are covered too, since a build with
// _FORTIFY_SOURCE calls those instead.
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void capture(int priority, const char* format, va_list arguments)
{
    const char* path = std::getenv("VELTA_SYSLOG_CAPTURE");
    if (path == nullptr)
        return;
    char line[8192];
    const int prefix = std::snprintf(line, sizeof line, "%d ", priority & 7);
    const int message = std::vsnprintf(line + prefix, sizeof line - static_cast<size_t>(prefix) - 1, format, arguments);
    size_t length = static_cast<size_t>(prefix) + (message < 0 ? 0 : static_cast<size_t>(message));
    if (length > sizeof line - 2)
        length = sizeof line - 2;
    line[length++] = '\n';
    const int file = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (file < 0)
        return;
    if (write(file, line, length) < 0) {
        // Nothing to report to: a lost record shows up as a failed assertion.
    }
    close(file);
}

} // namespace

extern "C" {

// glibc's fortified entry points, which <syslog.h> declares only under
// _FORTIFY_SOURCE.
void __syslog_chk(int priority, int flag, const char* format, ...);
void __vsyslog_chk(int priority, int flag, const char* format, va_list arguments);

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
