// SPDX-License-Identifier: Apache-2.0
// log_error for tests that run the launcher in their own process: each
// message goes to the file VELTA_LOG_CAPTURE names, at the system log's
// error priority 3, as the end-to-end tests' capture writes it.
#include "platform/platform.h"
#include "tests/support/log_line.h"

void log_error(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    append_log_line("VELTA_LOG_CAPTURE", 3, format, arguments);
    va_end(arguments);
}
