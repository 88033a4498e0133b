// SPDX-License-Identifier: Apache-2.0
// velta-java-check: shows what velta-java would do with the same arguments,
// by running the launch itself up to the VM's creation (with --start, to its
// end, skipping main) and printing what each step made (check/report.h). A
// step that fails writes the launcher's message to standard error (see
// log_error.cpp) and the exit status becomes 1. What a launch would not
// notice but its user would want to know (a missing jar, a main class on none
// of the class-path entries) is printed as a warning, which leaves the status
// alone.
#include "check/report.h"
#include "launcher/launcher.h"
#include "platform/platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr char usage[] =
    "Usage: velta-java-check [--start] [--] [SECTION [CONFIG-FILE [ARGUMENT...]]]\n"
    "       velta-java-check --help | --version\n"
    "\n"
    "Shows what 'velta-java SECTION CONFIG-FILE ARGUMENT...' would do, without\n"
    "running the Java program. SECTION is the launcher section (default java);\n"
    "without CONFIG-FILE the system configuration is read, as velta-java reads\n"
    "it. The ARGUMENTs follow the main arguments when the section says\n"
    "passargs = yes. The options come before SECTION: every ARGUMENT is main's,\n"
    "as velta-java passes it, \"--\" and \"--start\" included.\n"
    "\n"
    "Printed on standard output, in order: the configuration read, the keys of\n"
    "the launcher section (with expand = yes, as expanded), the VM library (for\n"
    "a JDK folder, the libjvm.so it holds) and whether it loads and exports\n"
    "JNI_CreateJavaVM, each VM option exactly as the VM receives it (class-path\n"
    "wildcards expanded; those it takes from JAVA_TOOL_OPTIONS and _JAVA_OPTIONS\n"
    "marked) and the stack that -Xss asks for main, the class-path entries, the\n"
    "main jar and what its manifest holds, the main class as configured (or the\n"
    "jar's) and as FindClass takes it and the entry that holds it, and each\n"
    "main argument in brackets. Bytes that are control\n"
    "characters or not UTF-8, and \"^\", are printed as ^XX, as the\n"
    "configuration escapes them. Lines starting with \"warning:\" point at what\n"
    "a launch would not report: a missing class-path entry or section, a\n"
    "wildcard folder that cannot be read, a main class on none of the\n"
    "entries, a configuration that others may write.\n"
    "With classcache: the archive's path and whether it exists, the files\n"
    "of launches that died which a launch would remove, and the options a launch\n"
    "adds before and after those above, or why the cache would not be used;\n"
    "nothing is made or removed.\n"
    "With ready, last: when the service manager will be told that the program\n"
    "is ready, with a warning when NOTIFY_SOCKET is not set or, for a port, when\n"
    "this process cannot see its listening sockets.\n"
    "\n"
    "  --start    also create the VM, load the main class, find its\n"
    "             main method and make the argument array, then destroy the\n"
    "             VM; main is not called, but the class's static initializer\n"
    "             runs. The class cache's folder is made, but no archive is\n"
    "             kept from a VM that did not run main\n"
    "  --help     show this text and exit (also -h, -help, -?)\n"
    "  --version  show the version and exit (also -version)\n"
    "  --         end of the options, for a SECTION that starts with \"-\"\n"
    "\n"
    "Where the launch would fail, the message velta-java would log is written to\n"
    "standard error.\n"
    "\n"
    "Exit status: 0 when every step checked succeeds (warnings or not), 1 when\n"
    "one fails or the VM ends the process, 2 for a wrong command line.\n";

// Set while --start runs the launch: an end of the process then is the VM's.
// Read by _exit's report, which may run in a signal handler.
std::atomic<bool> checking_start;

// An end of the process while --start runs: the program's System.exit, from
// a static initializer say, or the VM's own. What the start made is printed
// when the end came in the shutdown, after every step before it.
int report_vm_exit(int status)
{
    if (!checking_start)
        return status;
    checking_start = false;
    // The same message velta-java logs for a VM that ends it while starting.
    if (launcher.creating_vm)
        log_error("Java VM exited with status %d while starting", status);
    if (launcher.next_step > launch_shutdown)
        print_start_report();
    std::printf("  VM exited with status %d\n", status);
    std::fflush(stdout);
    return 1;
}

// glibc hands on_exit handlers the status of exit().
void report_exit(int status, void*)
{
    if (checking_start)
        _exit(report_vm_exit(status));
}

// Goes on with the launch to its end, skipping main: creates the VM,
// resolves the main class and method, makes the argument array and shuts the
// VM down. Returns 0, or -1 when a step failed.
int check_start()
{
    if (launcher.create_vm == nullptr) {
        std::printf("Start: not tried, the VM library cannot be used\n");
        return -1;
    }
    std::printf("Start:\n");
    std::fflush(stdout);
    checking_start = true;
    on_exit(report_exit, nullptr);
    launcher.skip_main = true;
    continue_launch(launch_end);
    checking_start = false;
    if (!launcher.vm_created)
        return -1;
    print_start_report();
    if (launcher.vm != nullptr)
        return -1;
    std::printf("  VM destroyed\n");
    return launcher.main_arguments != nullptr ? 0 : -1;
}

// Says on standard error why standard output cannot take the report, from
// errno, and returns the exit status 1.
int report_lost_output()
{
    std::fprintf(stderr, "velta-java-check: cannot write to standard output: %s\n", std::strerror(errno));
    return 1;
}

// Returns the exit status once standard output has taken the report: `status`,
// or 1 after saying on standard error why it could not.
int finish_output(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return report_lost_output();
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    // The options come first. From the section name on, the command line is
    // the launcher's: everything after the configuration file is main's, as
    // velta-java passes it, "--" and "--start" included.
    bool start = false;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        const char* option = argv[first];
        if (std::strcmp(option, "--") == 0) {
            ++first;
            break;
        }
        if (std::strcmp(option, "--start") == 0) {
            start = true;
        } else if (is_help_option(option)) {
            return finish_output(std::fputs(usage, stdout) < 0 ? 1 : 0);
        } else if (is_version_option(option)) {
            return finish_output(std::printf("velta-java-check %s\n", VELTA_VERSION) < 0 ? 1 : 0);
        } else {
            std::fprintf(stderr, "velta-java-check: unknown option %s\n%s", option, usage);
            return 2;
        }
    }
    // Closed, standard output would become /dev/null in the launch's first
    // step, and the report would be lost without a word.
    if (fcntl(STDOUT_FILENO, F_GETFD) == -1)
        return report_lost_output();
    // The launcher's command line: element 0 stands for the program.
    std::vector<char*> arguments = {argv[0]};
    arguments.insert(arguments.end(), argv + first, argv + argc);
    set_vm_exit_report(report_vm_exit);
    launcher.argument_count = static_cast<int32_t>(arguments.size());
    launcher.arguments = arguments.data();

    // The class cache's acting step, like the VM's creation, is --start's.
    continue_launch(launch_class_cache);
    // The configuration could not be read, a setting was refused or memory
    // ran out: the VM options were not built, and there is nothing to show.
    if (launcher.init_args.version == 0)
        return 1;
    if (print_launch_report() != 0) {
        std::fputs("velta-java-check: out of memory\n", stderr);
        return 1;
    }
    bool failed = launcher.exit_status != 0;
    if (start)
        failed |= check_start() != 0;
    return finish_output(failed ? 1 : 0);
}
