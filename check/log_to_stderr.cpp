// velta-java-check reports a failure with the launcher's own message on
// standard error instead of in the system log. These definitions in the
// executable take the place of glibc's: the launcher library's calls to the
// system log bind to them when the checker is linked, so the launcher's code
// and message texts stay exactly as they are. The fortified entry points are
// covered too, since a build with _FORTIFY_SOURCE calls those instead.
#include <syslog.h>

#include <cstdarg>
#include <cstdio>

namespace {

__attribute__((format(printf, 1, 0))) void print_message(const char* format, va_list arguments)
{
    // What was printed on standard output so far comes first.
    std::fflush(stdout);
    std::vfprintf(stderr, format, arguments);
    std::fputc('\n', stderr);
}

} // namespace

extern "C" {

// glibc's fortified entry points, which <syslog.h> declares only under
// _FORTIFY_SOURCE.
__attribute__((format(printf, 3, 4))) void __syslog_chk(int priority, int flag, const char* format, ...);
__attribute__((format(printf, 3, 0))) void __vsyslog_chk(int priority, int flag, const char* format,
                                                         va_list arguments);

void vsyslog(int, const char* format, va_list arguments)
{
    print_message(format, arguments);
}

void syslog(int, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    print_message(format, arguments);
    va_end(arguments);
}

void __vsyslog_chk(int, int, const char* format, va_list arguments)
{
    print_message(format, arguments);
}

void __syslog_chk(int, int, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    print_message(format, arguments);
    va_end(arguments);
}

} // extern "C"
