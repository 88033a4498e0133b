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

// Both set before the VM or any other thread starts.
vm_exit_report report_of_the_program;
pid_t reporting_process;

} // namespace

void set_vm_exit_report(vm_exit_report report)
{
    report_of_the_program = report;
    reporting_process = getpid();
}

extern "C" void _exit(int status)
{
    // A child made by fork, or by vfork and still in this process's memory,
    // is no end of the launch. getpid asks the kernel each time.
    const bool reports = report_of_the_program != nullptr && getpid() == reporting_process;
    syscall(SYS_exit_group, reports ? report_of_the_program(status) : status);
    __builtin_unreachable();
}
