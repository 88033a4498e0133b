// SPDX-License-Identifier: Apache-2.0
// velta-java-check reports a failure with the launcher's own message on
// standard error instead of in the system log.
#include "platform/platform.h"

#include <cstdarg>
#include <cstdio>

void log_error(const char* format, ...)
{
    // What was printed on standard output so far comes first.
    std::fflush(stdout);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}
