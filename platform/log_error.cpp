#include "platform/platform.h"

#include <syslog.h>

#include <cstdarg>

void log_error(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsyslog(LOG_ERR, format, arguments);
    va_end(arguments);
}
