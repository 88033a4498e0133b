// velta-java-check: shows what velta-java would do with the same two
// arguments, by running the launch itself up to the VM's creation (with
// --start, up to the call of main, which it skips) and printing what each
// step made. A step that fails writes the launcher's message to standard
// error (see log_error.cpp) and the exit status becomes 1.
#include "args/args.h"
#include "launcher/launch.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char usage[] =
    "Usage: velta-java-check [--start] [--] [SECTION [CONFIG-FILE]]\n"
    "       velta-java-check --help\n"
    "\n"
    "Shows what 'velta-java SECTION CONFIG-FILE' would do, without running the\n"
    "Java program. SECTION is the launcher section (default java); without\n"
    "CONFIG-FILE the system configuration is read, as velta-java reads it.\n"
    "\n"
    "Printed on standard output, in order: the configuration read, the keys of\n"
    "the launcher section, the VM library and whether it loads and exports\n"
    "JNI_CreateJavaVM, each VM option exactly as the VM receives it, the main\n"
    "class as configured and as FindClass takes it, and each main argument in\n"
    "brackets.\n"
    "\n"
    "  --start  also create the VM, load the main class, find its\n"
    "           main method and make the argument array, then destroy the\n"
    "           VM; main is not called, but the class's static initializer runs\n"
    "  --help   show this text and exit\n"
    "\n"
    "Where the launch would fail, the message velta-java writes to the system\n"
    "log is written to standard error.\n"
    "\n"
    "Exit status: 0 when every step checked succeeds, 1 when one fails, 2 for\n"
    "a wrong command line.\n";

struct launcher_key {
    const char* name;
    const char* default_value;
    bool names_section;
};

constexpr launcher_key launcher_keys[] = {
    {"jvm", default_vm_library, false},
    {"mainclass", default_main_class, false},
    {"mainargs", default_main_arguments, false},
    {"classpaths", default_class_path_section, true},
    {"options", default_options_section, true},
    {"properties", default_properties_section, true},
};

void print_configuration()
{
    if (launcher.argument_count >= 3)
        std::printf("Configuration: %s\n", launcher.arguments[2]);
    else if (launcher.config_root != nullptr)
        std::printf("Configuration: %s (the system configuration)\n", system_config_path());
    else
        std::printf("Configuration: %s (the system configuration; not read: missing, unreadable or without "
                    "a section, so every key takes its default)\n",
                    system_config_path());
}

void print_launcher_section()
{
    const config_section* section = find_config_section(launcher.config_root, launcher.section_name);
    std::printf("Launcher section: [%s]%s\n", launcher.section_name,
                section != nullptr ? "" : " (not in the configuration: every key takes its default)");
    for (const launcher_key& key : launcher_keys) {
        const char* value = launcher_setting(key.name, key.default_value);
        const bool given = find_config_value(section, key.name) != nullptr;
        const bool section_missing = key.names_section && find_config_section(launcher.config_root, value) == nullptr;
        const char* note = given ? (section_missing ? " (no such section)" : "")
                                 : (section_missing ? " (default; no such section)" : " (default)");
        std::printf("  %s = %s%s\n", key.name, value[0] != '\0' ? value : "(empty)", note);
    }
}

// What the launch's library step found; dlerror still holds its reason.
void print_vm_library()
{
    std::printf("VM library: %s\n", launcher.vm_library_name);
    if (launcher.vm_library == nullptr) {
        std::printf("  loads: no (%s)\n", dlerror());
        return;
    }
    std::printf("  loads: yes\n");
    if (launcher.create_vm == nullptr)
        std::printf("  exports JNI_CreateJavaVM: no (%s)\n", dlerror());
    else
        std::printf("  exports JNI_CreateJavaVM: yes\n");
}

void print_vm_options()
{
    std::printf("VM options: %d\n", static_cast<int>(launcher.init_args.nOptions));
    for (jint i = 0; i < launcher.init_args.nOptions; ++i)
        std::printf("  %d: %s\n", static_cast<int>(i + 1), launcher.init_args.options[i].optionString);
}

// Returns 0, or -1 when memory ran out.
int print_main_class()
{
    const char* class_name = launcher.main_class_name;
    char* slashed = static_cast<char*>(std::malloc(std::strlen(class_name) + 1));
    if (slashed == nullptr)
        return -1;
    convert_dots_to_slashes(class_name, slashed);
    std::printf("Main class: %s\n  as FindClass takes it: %s\n", class_name, slashed);
    std::free(slashed);
    return 0;
}

// Returns 0, or -1 when memory ran out.
int print_main_arguments()
{
    int32_t count = 0;
    char** vector = nullptr;
    if (split_main_arguments(launcher.main_argument_string, &count, &vector) != 0)
        return -1;
    std::printf("Main arguments: %d\n", static_cast<int>(count));
    for (int32_t i = 0; i < count; ++i)
        std::printf("  %d: [%s]\n", static_cast<int>(i + 1), vector[i]);
    free_arguments(count, vector);
    return 0;
}

// Goes on with the launch: creates the VM, resolves the main class and
// method and makes the argument array, skips main and shuts the VM down.
// Returns 0, or -1 when a step failed.
int check_start()
{
    if (launcher.create_vm == nullptr) {
        std::printf("Start: not tried, the VM library cannot be used\n");
        return -1;
    }
    std::printf("Start:\n");
    std::fflush(stdout);
    continue_launch(launch_main_call);
    if (launcher.vm == nullptr)
        return -1;
    std::printf("  VM created\n");
    if (launcher.main_method != nullptr)
        std::printf("  main class loaded, %smain(%s) found\n", launcher.main_constructor != nullptr ? "instance " : "",
                    launcher.main_takes_arguments ? "String[]" : "");
    if (launcher.main_arguments != nullptr)
        std::printf("  String[%d] of main arguments made; main not called\n",
                    static_cast<int>(launcher.main_argument_count));
    std::fflush(stdout);
    if (launcher.next_step == launch_main_call)
        launcher.next_step = launch_shutdown;
    if (continue_launch(launch_end) != 0)
        return -1;
    std::printf("  VM destroyed\n");
    return launcher.main_arguments != nullptr ? 0 : -1;
}

} // namespace

int main(int argc, char** argv)
{
    bool start = false;
    int first_positional = 1;
    for (; first_positional < argc && argv[first_positional][0] == '-'; ++first_positional) {
        const char* option = argv[first_positional];
        if (std::strcmp(option, "--help") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(option, "--start") == 0) {
            start = true;
        } else if (std::strcmp(option, "--") == 0) {
            ++first_positional;
            break;
        } else {
            std::fprintf(stderr, "velta-java-check: unknown option %s\n%s", option, usage);
            return 2;
        }
    }
    // The launcher's command line: element 0 stands for the program, the
    // positional arguments follow.
    launcher.argument_count = argc - first_positional + 1;
    launcher.arguments = argv + first_positional - 1;

    continue_launch(launch_vm_creation);
    // The configuration step failed: there is nothing to show.
    if (launcher.vm_library_name == nullptr)
        return 1;
    print_configuration();
    print_launcher_section();
    // Building the VM options ran out of memory.
    if (launcher.init_args.version == 0)
        return 1;
    print_vm_library();
    print_vm_options();
    if (print_main_class() != 0 || print_main_arguments() != 0) {
        std::fputs("velta-java-check: out of memory\n", stderr);
        return 1;
    }
    bool failed = launcher.exit_status != 0;
    if (start)
        failed |= check_start() != 0;
    return failed ? 1 : 0;
}
