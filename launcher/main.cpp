// SPDX-License-Identifier: Apache-2.0
// velta-java: the launcher's main function, with the program's own two
// options.
#include "launcher/launcher.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr char usage[] =
    "Usage: velta-java [SECTION [CONFIG-FILE]]\n"
    "       velta-java SECTION CONFIG-FILE ARGUMENT...\n"
    "       velta-java --help | --version   (also -h, -help, -?, -version)\n"
    "\n"
    "Starts a Java VM in this process and runs the main class that the launcher\n"
    "section SECTION (default java) of CONFIG-FILE configures; without\n"
    "CONFIG-FILE, of the system configuration %s. The ARGUMENTs\n"
    "follow the configured main arguments when the section says passargs = yes.\n"
    "velta-java prints nothing itself: its messages go to the system log, and to\n"
    "standard error when that is a terminal or the log cannot take them.\n"
    "velta-java-check shows what a launch would do. See velta-java(1) and\n"
    "velta-java.conf(5).\n";

// Returns the exit status of a run that printed on standard output, given
// what printf returned: 0, or 1 after saying why the output was lost.
int finish_output(int printed)
{
    if (printed < 0 || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "velta-java: cannot write to standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}

// Runs in _exit, maybe in a signal handler or while another thread holds a
// lock: the message is put together here, on the stack, as %d would write
// the status, and logged with async-signal-safe calls only.
int report_vm_exit(int status)
{
    if (launcher.creating_vm == 0)
        return status;
    constexpr char before[] = "Java VM exited with status ";
    constexpr char after[] = " while starting";
    char digits[11]; // "-2147483648" at most
    char* first = digits + sizeof digits;
    unsigned magnitude = status < 0 ? 0u - static_cast<unsigned>(status) : static_cast<unsigned>(status);
    do {
        *--first = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (status < 0)
        *--first = '-';
    const auto count = static_cast<size_t>(digits + sizeof digits - first);
    char message[sizeof before - 1 + sizeof digits + sizeof after];
    std::memcpy(message, before, sizeof before - 1);
    std::memcpy(message + sizeof before - 1, first, count);
    std::memcpy(message + sizeof before - 1 + count, after, sizeof after);
    log_error_message(message);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && is_help_option(argv[1]))
        return finish_output(std::printf(usage, system_config_path()));
    if (argc >= 2 && is_version_option(argv[1]))
        return finish_output(std::printf("velta-java %s\n", VELTA_VERSION));
    set_vm_exit_report(report_vm_exit);
    return launcher_main(argc, argv);
}
