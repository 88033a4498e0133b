// SPDX-License-Identifier: Apache-2.0
// HotSpot prints its own output with one write(2) per line, straight to
// descriptor 1 (or 2), and prints a line there once it has recorded an AOT
// cache's configuration, whatever its logging options say. This definition
// is the executable's, and the linker exports it because libc defines write
// too, so that libjvm's calls (and those of the JDK's other libraries) bind
// to it: it drops the one line the launch asked to drop (see
// drop_vm_output_line) and writes all else as glibc's write writes it, but
// for being no cancellation point, which the VM and the JDK's libraries do
// not use. (The VM's JNI "vfprintf" hook would see the line too, but HotSpot
// lists the hook among the VM's input arguments, where a program that
// starts java with them would hand java a main class named "vfprintf".)
// Async-signal-safe.
#include "platform/platform.h"

#include <sys/syscall.h>
#include <unistd.h>

extern "C" ssize_t write(int descriptor, const void* bytes, size_t count)
{
    if (is_dropped_vm_output(descriptor, bytes, count))
        return static_cast<ssize_t>(count);
    return syscall(SYS_write, descriptor, bytes, count);
}
