// velta-java-check: shows what velta-java would do with the same two
// arguments, by taking the launcher's own steps up to the VM's start (with
// --start, up to the call of main) and printing what each one found. A step
// that fails writes the launcher's message to standard error (see
// log_to_stderr.cpp) and the exit status becomes 1.
#include "args/args.h"
#include "launcher/launcher.h"
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
    "           main(String[]) and make the argument array, then destroy the\n"
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

void print_configuration(int32_t argument_count, char** arguments)
{
    if (argument_count >= 3)
        std::printf("Configuration: %s\n", arguments[2]);
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

// Opens the VM library as the launcher does and prints what happened.
// Returns its creation entry, or null.
create_java_vm_entry check_vm_library()
{
    const char* library_name = launcher_setting("jvm", default_vm_library);
    std::printf("VM library: %s\n", library_name);
    void* library = open_vm_library(library_name);
    if (library == nullptr) {
        std::printf("  loads: no (%s)\n", dlerror());
        return nullptr;
    }
    std::printf("  loads: yes\n");
    const create_java_vm_entry create = find_create_java_vm(library);
    if (create == nullptr) {
        std::printf("  exports JNI_CreateJavaVM: no (%s)\n", dlerror());
        return nullptr;
    }
    std::printf("  exports JNI_CreateJavaVM: yes\n");
    return create;
}

void print_vm_options()
{
    std::printf("VM options: %d\n", static_cast<int>(launcher.init_args.nOptions));
    for (jint i = 0; i < launcher.init_args.nOptions; ++i)
        std::printf("  %d: %s\n", static_cast<int>(i + 1), launcher.init_args.options[i].optionString);
}

// Returns 0, or -1 when memory ran out.
int print_main_class(const char* class_name)
{
    char* slashed = static_cast<char*>(std::malloc(std::strlen(class_name) + 1));
    if (slashed == nullptr)
        return -1;
    convert_dots_to_slashes(class_name, slashed);
    std::printf("Main class: %s\n  as FindClass takes it: %s\n", class_name, slashed);
    std::free(slashed);
    return 0;
}

// Returns 0, or -1 when memory ran out.
int print_main_arguments(const char* argument_string)
{
    int32_t count = 0;
    char** vector = nullptr;
    if (split_main_arguments(argument_string, &count, &vector) != 0)
        return -1;
    std::printf("Main arguments: %d\n", static_cast<int>(count));
    for (int32_t i = 0; i < count; ++i)
        std::printf("  %d: [%s]\n", static_cast<int>(i + 1), vector[i]);
    free_arguments(count, vector);
    return 0;
}

// Creates the VM, resolves the main class and method and makes the argument
// array as a launch does, without calling main; then stops the VM. Returns
// 0, or -1 when a step failed.
int check_start(create_java_vm_entry create, const char* class_name, const char* argument_string)
{
    if (create == nullptr) {
        std::printf("Start: not tried, the VM library cannot be used\n");
        return -1;
    }
    if (create_java_vm(create) != 0)
        return -1;
    std::printf("Start:\n  VM created\n");
    int status = -1;
    jclass main_class = nullptr;
    if (find_main_method(launcher.env, class_name, &main_class) != nullptr) {
        std::printf("  main class loaded, main(String[]) found\n");
        jobjectArray arguments = make_main_arguments(launcher.env, argument_string);
        if (arguments != nullptr) {
            std::printf("  String[%d] of main arguments made; main not called\n",
                        static_cast<int>(launcher.env->GetArrayLength(arguments)));
            launcher.env->DeleteLocalRef(arguments);
            status = 0;
        }
    }
    if (main_class != nullptr)
        launcher.env->DeleteLocalRef(main_class);
    if (stop_java_vm() != 0)
        return -1;
    std::printf("  VM destroyed\n");
    return status;
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
    const int32_t argument_count = argc - first_positional + 1;
    char** arguments = argv + first_positional - 1;

    if (choose_configuration(argument_count, arguments) != 0)
        return 1;
    print_configuration(argument_count, arguments);
    print_launcher_section();
    if (prepare_vm_init_args() != 0)
        return 1;

    bool failed = false;
    const create_java_vm_entry create = check_vm_library();
    failed |= create == nullptr;
    print_vm_options();
    const char* class_name = launcher_setting("mainclass", default_main_class);
    const char* argument_string = launcher_setting("mainargs", default_main_arguments);
    if (print_main_class(class_name) != 0 || print_main_arguments(argument_string) != 0) {
        std::fputs("velta-java-check: out of memory\n", stderr);
        return 1;
    }
    if (start)
        failed |= check_start(create, class_name, argument_string) != 0;
    return failed ? 1 : 0;
}
