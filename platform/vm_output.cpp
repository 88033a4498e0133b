// SPDX-License-Identifier: Apache-2.0
// The one line of the VM's own output that a launch keeps out of the
// program's output (see drop_vm_output_line).
#include "platform/platform.h"

#include <cstring>

namespace {

// Set before the VM or any other thread starts; `armed` is taken by the one
// write that drops the line.
char dropped_line[256];
size_t dropped_length;
int armed;

} // namespace

void drop_vm_output_line(const char* line, size_t length)
{
    if (length == 0 || length > sizeof dropped_line)
        return;
    std::memcpy(dropped_line, line, length);
    dropped_length = length;
    armed = 1;
}

bool is_dropped_vm_output(int descriptor, const void* bytes, size_t count)
{
    return (descriptor == 1 || descriptor == 2) && count == dropped_length && __atomic_load_n(&armed, __ATOMIC_ACQUIRE) != 0
        && std::memcmp(bytes, dropped_line, count) == 0 && __atomic_exchange_n(&armed, 0, __ATOMIC_ACQ_REL) != 0;
}
