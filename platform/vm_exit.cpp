// SPDX-License-Identifier: Apache-2.0
// HotSpot ends the process itself when it cannot start: a heap it cannot
// reserve or that is too small, collectors or sizes that contradict each
// other, an agent that fails to load. It prints why on standard output and
// calls _exit(1) from its abort path, so neither atexit nor on_exit handlers
// run and the launcher would end without a word of its own. This definition
// is the executable's, and the linker exports it because libc defines _exit
// too, so libjvm's calls bind to it: the program reports the end (the
// report it set), then the process ends exactly as glibc's _exit ends it.
// (The VM's JNI "abort" hook would see the same end, but HotSpot lists the
// hook among the VM's input arguments, where a program that relaunches
// itself with them would meet an option its user never wrote.)
#include "platform/platform.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace {

vm_exit_report report_of_the_program;

} // namespace

void set_vm_exit_report(vm_exit_report report)
{
    report_of_the_program = report;
}

extern "C" void _exit(int status)
{
    syscall(SYS_exit_group, report_of_the_program != nullptr ? report_of_the_program(status) : status);
    __builtin_unreachable();
}
