// SPDX-License-Identifier: Apache-2.0
// Appends "PRIORITY MESSAGE\n" to the file that the environment variable
// `variable` names, for both log captures. It allocates nothing, so that
// allocation-failure tests count only the launcher's own allocations.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

__attribute__((format(printf, 3, 0))) inline void append_log_line(const char* variable, int priority,
                                                                   const char* format, va_list arguments)
{
    const char* path = std::getenv(variable);
    if (path == nullptr)
        return;
    char line[8192];
    const int prefix = std::snprintf(line, sizeof line, "%d ", priority);
    const int message = std::vsnprintf(line + prefix, sizeof line - static_cast<size_t>(prefix) - 1, format, arguments);
    size_t length = static_cast<size_t>(prefix) + (message < 0 ? 0 : static_cast<size_t>(message));
    if (length > sizeof line - 2)
        length = sizeof line - 2;
    line[length++] = '\n';
    const int file = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (file < 0)
        return;
    if (write(file, line, length) < 0) {
        // Nothing to report to: a lost line shows up as a failed assertion.
    }
    close(file);
}
