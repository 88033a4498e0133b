// SPDX-License-Identifier: Apache-2.0
#include "platform/platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

void open_closed_standard_descriptors()
{
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open takes the lowest free descriptor: this one, unless one below
        // it stayed closed. Not close-on-exec: children inherit it, as they
        // would inherit the descriptor it stands in for.
        const int opened = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
        if (opened != -1 && opened != descriptor) {
            dup2(opened, descriptor);
            close(opened);
        }
    }
}
