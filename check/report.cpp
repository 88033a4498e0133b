// SPDX-License-Identifier: Apache-2.0
#include "check/report.h"

#include "args/args.h"
#include "check/class_path.h"
#include "launcher/launch_steps.h"
#include "launcher/text.h"
#include "platform/platform.h"
#include "platform/service_ready.h"

#include <fcntl.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// Returns the length of the UTF-8 sequence at `text` (1 to 4), or 0 when it
// is not one: a stray or missing continuation byte, an overlong form, a
// surrogate, or a code point above U+10FFFF.
size_t utf8_sequence_length(const unsigned char* text)
{
    const unsigned lead = text[0];
    if (lead < 0x80)
        return 1;
    const size_t length = lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0u) != 0x80u)
            return 0;
    }
    if ((lead == 0xE0 && text[1] < 0xA0) || (lead == 0xED && text[1] >= 0xA0) || (lead == 0xF0 && text[1] < 0x90)
        || (lead == 0xF4 && text[1] >= 0x90))
        return 0;
    return length;
}

// Prints `text` so that one value is one line whatever it holds: control
// bytes, DEL, bytes that are not UTF-8 and "^" itself as the configuration
// writes them, ^ and two hexadecimal digits.
void print_escaped(const char* text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    while (*bytes != '\0') {
        const size_t length = utf8_sequence_length(bytes);
        if (length == 0 || *bytes < 0x20 || *bytes == 0x7F || *bytes == '^') {
            std::printf("^%02X", static_cast<unsigned>(*bytes));
            ++bytes;
            continue;
        }
        std::fwrite(bytes, 1, length, stdout);
        bytes += length;
    }
}

// Prints `before`, `text` escaped, and `after`.
void print_line(const char* before, const char* text, const char* after = "\n")
{
    std::fputs(before, stdout);
    print_escaped(text);
    std::fputs(after, stdout);
}

void print_configuration()
{
    if (launcher.argument_count >= 3)
        print_line("Configuration: ", launcher.config_path);
    else if (launcher.config_root != nullptr)
        print_line("Configuration: ", launcher.config_path, " (the system configuration)\n");
    else
        print_line("Configuration: ", launcher.config_path,
                   " (the system configuration; not read: missing, unreadable or without a section, so every key "
                   "takes its default)\n");
    struct stat info;
    if (stat(launcher.config_path, &info) == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        print_line("warning: ", launcher.config_path,
                   " is writable by group or others: whoever can write it chooses the library that runs\n");
}

void print_launcher_section()
{
    const config_section* section = find_config_section(launcher.config_root, launcher.section_name);
    print_line("Launcher section: [", launcher.section_name,
               section != nullptr ? "]\n" : "] (not in the configuration: every key takes its default)\n");
    if (section == nullptr && launcher.config_root != nullptr)
        print_line("warning: the configuration has no section [", launcher.section_name, "]\n");
    std::vector<const setting_row*> missing_sections;
    for (const setting_row& row : setting_rows) {
        const char* value = launcher.settings.text[row.key];
        const bool given = launcher.settings.given[row.key];
        const bool section_missing = row.form == form_section && find_config_section(launcher.config_root, value) == nullptr;
        const char* note = given ? (section_missing ? " (no such section)" : "")
                                 : (section_missing ? " (default; no such section)" : " (default)");
        std::printf("  %s = ", row.name);
        print_line("", value[0] != '\0' ? value : "(empty)", note);
        std::fputs("\n", stdout);
        if (given && section_missing)
            missing_sections.push_back(&row);
    }
    for (const setting_row* row : missing_sections) {
        std::printf("warning: %s names section [", row->name);
        print_line("", launcher.settings.text[row->key], "], which the configuration does not have\n");
    }
}

// What the launch's library step found; dlerror still holds its reason,
// unless dlopen was not called: for an empty name, or when memory ran out.
void print_vm_library()
{
    const char* name = launcher.settings.text[setting_jvm];
    print_line("VM library: ", name[0] != '\0' ? name : "(empty: loads nothing)");
    if (launcher.jdk_vm_library != nullptr)
        print_line("  a JDK folder: loads ", launcher.jdk_vm_library);
    if (launcher.vm_library == nullptr) {
        const char* reason = dlerror();
        if (reason != nullptr)
            print_line("  loads: no (", reason, ")\n");
        else
            std::printf("  loads: no\n");
        return;
    }
    std::printf("  loads: yes\n");
    if (launcher.create_vm == nullptr) {
        // A symbol whose address is 0 is found, with no error to read.
        const char* reason = dlerror();
        print_line("  exports JNI_CreateJavaVM: no (", reason != nullptr ? reason : "its address is 0", ")\n");
    } else {
        std::printf("  exports JNI_CreateJavaVM: yes\n");
    }
}

// The options the VM takes from one environment variable, split as the VM
// splits them (take_vm_option).
struct environment_options {
    const char* variable;
    std::vector<std::string> options;
    bool unmatched_quote; // the VM refuses to start; `options` is empty
};

environment_options split_environment_options(const char* variable)
{
    environment_options split{variable, {}, false};
    const char* text = std::getenv(variable);
    if (text == nullptr)
        return split;
    // No option is longer than the variable.
    std::string option(std::strlen(text) + 1, '\0');
    int taken;
    while ((taken = take_vm_option(&text, option.data(), option.size())) == 1)
        split.options.emplace_back(option.c_str());
    if (taken < 0)
        return {variable, {}, true};
    return split;
}

// Prints the options of `split`, numbered from *number on.
void print_environment_options(const environment_options& split, int* number)
{
    if (split.unmatched_quote)
        std::printf("warning: %s has an unmatched quote: the VM will refuse to start\n", split.variable);
    for (const std::string& option : split.options) {
        std::printf("  %d: ", (*number)++);
        print_line("", option.c_str(), " (from ");
        std::printf("%s)\n", split.variable);
    }
}

void print_vm_options()
{
    // The VM takes JAVA_TOOL_OPTIONS before the options it is handed, and
    // _JAVA_OPTIONS after them, so that these override both.
    const environment_options before = split_environment_options("JAVA_TOOL_OPTIONS");
    const environment_options after = split_environment_options("_JAVA_OPTIONS");
    std::printf("VM options: %d\n",
                static_cast<int>(before.options.size() + after.options.size()) + launcher.init_args.nOptions);
    int number = 1;
    print_environment_options(before, &number);
    for (jint i = 0; i < launcher.init_args.nOptions; ++i) {
        std::printf("  %d: ", number++);
        print_line("", launcher.init_args.options[i].optionString);
    }
    print_environment_options(after, &number);
    // velta-java takes the VM's creation and main to a thread of its own.
    if (const size_t stack_size = requested_stack_size(launcher.init_args); stack_size != 0)
        std::printf("Main's stack: %zu bytes, on a thread of its own\n", stack_size);
}

// The entries of the class path the VM will search: those of the last
// java.class.path option, as the VM takes the last; without one, the VM
// searches the current folder, written "".
std::vector<std::string> class_path_entries()
{
    const char* path = find_class_path(launcher.init_args.options, launcher.init_args.nOptions);
    if (path == nullptr)
        return {""};
    std::vector<std::string> entries;
    for (const char* entry = path;; ++entry) {
        const char* end = std::strchr(entry, class_path_separator);
        entries.emplace_back(entry, end != nullptr ? end : entry + std::strlen(entry));
        if (end == nullptr)
            return entries;
        entry = end;
    }
}

void print_class_path(const std::vector<std::string>& entries)
{
    const bool given = find_class_path(launcher.init_args.options, launcher.init_args.nOptions) != nullptr;
    if (given)
        std::printf("Class path: %d entries\n", static_cast<int>(entries.size()));
    else
        std::printf("Class path: none given; the VM searches the current folder\n");
    int number = 1;
    for (const std::string& entry : entries) {
        if (given) {
            std::printf("  %d: ", number++);
            print_line("", entry.c_str());
        }
        if (class_path_entry_kind_of(entry.c_str()) == entry_missing)
            print_line("warning: class-path entry ", entry.c_str(), " does not exist\n");
    }
    // A wildcard that matches no jar leaves no entry behind to show above.
    const config_section* section = find_config_section(launcher.config_root, launcher.settings.text[setting_classpaths]);
    for (const config_property* entry = section != nullptr ? section->properties : nullptr; entry != nullptr;
         entry = entry->next) {
        if (entry->name == nullptr || !is_class_path_wildcard(entry))
            continue;
        std::string written = entry->name;
        if (entry->value != nullptr)
            written += entry->separator + std::string(entry->value);
        const std::string folder = written.substr(0, written.size() - 1);
        bool matched = false;
        for (const std::string& expanded : entries)
            matched |= expanded.compare(0, folder.size(), folder) == 0 && expanded.find('/', folder.size()) == std::string::npos;
        if (matched)
            continue;
        const int listed = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int cause = errno;
        if (listed == -1 && cause != ENOENT) {
            print_line("warning: class-path entry ", written.c_str(), " cannot be read: ");
            std::printf("%s\n", std::strerror(cause));
        } else {
            print_line("warning: class-path entry ", written.c_str(), " matches no jar\n");
        }
        if (listed != -1)
            close(listed);
    }
}

// The paths the VM's class loader takes from the main jar's Class-Path,
// in order (see resolve_jar_class_path): the launch leaves them to the
// class loader, the report shows them and searches them for the main class.
struct resolved_class_path {
    int result; // 0, jar_left_out or jar_unreadable
    int32_t count;
    char** paths;
};

// Returns 0, or -1 when memory ran out.
int resolve_main_jar_class_path(resolved_class_path* resolved)
{
    *resolved = resolved_class_path{};
    const jar_manifest* manifest = launcher.jar.manifest;
    if (manifest == nullptr || manifest->class_path == nullptr)
        return 0;
    resolved->result = resolve_jar_class_path(launcher.jar.path, manifest->class_path, &resolved->count,
                                              &resolved->paths);
    return resolved->result == jar_out_of_memory ? -1 : 0;
}

// What the main jar's manifest holds and asks for, from the step that read
// it.
void print_jar_manifest(const main_jar& jar, const resolved_class_path& class_path)
{
    const jar_manifest* manifest = jar.manifest;
    if (manifest == nullptr) {
        std::printf("  Main-Class: none; mainclass names the class, and the manifest asks for nothing\n");
        return;
    }
    print_line("  Main-Class: ", manifest->main_class);
    if (manifest->class_path != nullptr) {
        print_line("  Class-Path: ", manifest->class_path);
        for (int32_t i = 0; i < class_path.count; ++i) {
            std::printf("    %d: ", static_cast<int>(i + 1));
            print_line("", class_path.paths[i]);
        }
        for (int32_t i = 0; i < class_path.count; ++i) {
            if (class_path_entry_kind_of(class_path.paths[i]) == entry_missing)
                print_line("warning: Class-Path entry ", class_path.paths[i], " does not exist\n");
        }
        if (class_path.result == jar_left_out)
            print_line("warning: the Class-Path of ", jar.path,
                       " names a URL scheme the VM has no handler for: the VM leaves out the jar and its "
                       "Class-Path\n");
    }
    const std::pair<const char*, const char*> asked[] = {
        {"  Launcher-Agent-Class: ", manifest->launcher_agent_class}, {"  Add-Exports: ", manifest->add_exports},
        {"  Add-Opens: ", manifest->add_opens}, {"  Enable-Native-Access: ", manifest->enable_native_access}};
    for (const auto& [label, value] : asked) {
        if (value != nullptr)
            print_line(label, value);
    }
}

// Returns 0, or -1 when memory ran out.
int print_main_jar(const resolved_class_path& class_path)
{
    if (launcher.jar.path == nullptr)
        return 0;
    print_line("Main jar: ", launcher.jar.path);
    print_jar_manifest(launcher.jar, class_path);
    // The option the launch adds after all others, the class cache's too.
    char* command = make_java_command_option(launcher.jar.path, &launcher.settings, launcher.config_path, launcher.argument_count,
                                             launcher.arguments);
    if (command == nullptr)
        return -1;
    print_line("  option added: ", command);
    std::free(command);
    return 0;
}

// Returns 0, or -1 when memory ran out.
int print_main_class(std::vector<std::string> class_path, const resolved_class_path& jar_class_path)
{
    const char* class_name = launcher.main_class;
    char* slashed = static_cast<char*>(std::malloc(std::strlen(class_name) + 1));
    if (slashed == nullptr)
        return -1;
    convert_dots_to_slashes(class_name, slashed);
    const main_jar& jar = launcher.jar;
    if (jar.manifest != nullptr && !launcher.settings.given[setting_mainclass])
        print_line("Main class: ", class_name, " (the Main-Class of the main jar)\n");
    else if (jar.manifest != nullptr)
        print_line("Main class: ", class_name, " (mainclass, in place of the main jar's Main-Class)\n");
    else
        print_line("Main class: ", class_name);
    // The VM's class loader searches a jar's Class-Path right after the jar.
    if (jar_class_path.count > 0 && !class_path.empty())
        class_path.insert(class_path.begin() + 1, jar_class_path.paths, jar_class_path.paths + jar_class_path.count);
    print_line("  as FindClass takes it: ", slashed);
    const std::string class_file = std::string(slashed) + ".class";
    std::free(slashed);
    for (const std::string& entry : class_path) {
        if (class_path_entry_holds(entry.c_str(), class_file.c_str())) {
            print_line("  found in: ", entry.empty() ? "." : entry.c_str());
            return 0;
        }
    }
    print_line("warning: main class ", class_name,
               " is in none of the class-path entries; a class of the JDK's own modules is still possible "
               "(--start tells)\n");
    return 0;
}

// Returns 0, or -1 when memory ran out.
int print_main_arguments()
{
    int32_t count = 0;
    char** vector = nullptr;
    if (make_main_argument_vector(&launcher.settings, launcher.config_path, launcher.argument_count, launcher.arguments,
                                  &count, &vector)
        != 0)
        return -1;
    std::printf("Main arguments: %d\n", static_cast<int>(count));
    for (int32_t i = 0; i < count; ++i) {
        std::printf("  %d: [", static_cast<int>(i + 1));
        print_line("", vector[i], "]\n");
    }
    free_arguments(count, vector);
    return 0;
}

// What the class cache would do, from the step that plans it; the step that
// acts on the plan is --start's.
void print_class_cache()
{
    const char* folder = launcher.settings.text[setting_classcache];
    if (folder[0] == '\0')
        return;
    print_line("Class cache: ", folder);
    const class_cache_plan& plan = launcher.class_cache;
    if (launcher.create_vm == nullptr) {
        std::printf("  not planned: the VM library cannot be used\n");
        return;
    }
    if (!plan.used && !plan.making) {
        print_line("  not used: ", plan.refusal);
        return;
    }
    if (plan.folder < 0)
        std::printf("  folder: missing; a launch makes it, mode 0700\n");
    const bool aot = plan.kind == class_cache_aot_cache;
    char name[NAME_MAX + 1];
    write_class_cache_name(plan.digest, 0, class_cache_suffixes[plan.kind], name);
    std::fputs("  archive: ", stdout);
    const char* missing = aot ? " (missing: a launch records what main loads, and once it has ended the JDK's java "
                                "makes this AOT cache from the record, the launch not waiting)\n"
                              : " (missing: a launch writes it once main has run)\n";
    print_line(folder, ("/" + std::string(name)).c_str(),
               plan.making         ? " (another launch records it, or its maker makes it: a launch goes without it meanwhile)\n"
               : plan.archive >= 0 ? " (exists)\n"
               : plan.renew        ? " (a launch that used it died: a launch writes it anew once main has run)\n"
                                   : missing);
    DIR* scan = nullptr;
    class_cache_leftover found;
    while (next_class_cache_leftover(&plan, &scan, &found) == 1) {
        print_line("  left by a launch that died: ", (std::string(folder) + "/" + found.name).c_str(),
                   found.mark ? " (a launch removes it, and the archive it names)\n" : " (a launch removes it)\n");
    }
    if (plan.making)
        return;
    // PID stands for the launch's process, N for a descriptor of its own.
    print_line("  option added first: ", class_cache_quiet_options[plan.kind]);
    if (!aot && plan.archive >= 0)
        std::printf("  option added last: -XX:SharedArchiveFile=/proc/self/task/PID/fd/N (the archive, opened)\n");
    else if (!aot)
        std::printf("  option added last: -XX:ArchiveClassesAtExit=/proc/PID/fd/N (a file in memory, copied to the "
                    "archive once main has run)\n");
    else if (plan.archive >= 0)
        std::printf("  options added last: -XX:AOTMode=auto -XX:AOTCache=/proc/self/task/PID/fd/N (the cache, "
                    "opened)\n");
    else
        print_line("  options added last: -XX:AOTMode=record -XX:AOTConfiguration=/proc/self/task/PID/fd/N (a file in "
                   "memory; the line the VM prints once it has recorded is kept out); then ", plan.java,
                   " -XX:AOTMode=create with the same options makes the cache\n");
}

// When velta-java tells the service manager that the program is ready. The
// look at this process's listeners stands for the launch's own: a checker
// run under the unit's restrictions sees what the service will.
void print_ready()
{
    const int32_t ready = launcher.settings.number[setting_ready];
    if (ready == 0)
        return;
    if (ready == ready_main)
        std::printf("Ready: once main returns without an exception\n");
    else
        std::printf("Ready: once this process listens on TCP port %d\n", static_cast<int>(ready));
    const char* notify_socket = std::getenv("NOTIFY_SOCKET");
    if (notify_socket == nullptr || notify_socket[0] == '\0')
        std::printf("warning: ready is set but NOTIFY_SOCKET is not: no one will be told (is the unit Type=notify?)\n");
    else
        print_line("  told to NOTIFY_SOCKET ", notify_socket);
    if (ready != ready_main && listens_on_tcp_port(static_cast<uint16_t>(ready)) < 0)
        std::printf("warning: this process cannot see its listening sockets: port %d would never count as ready "
                    "(a unit that sets RestrictAddressFamilies= must allow AF_NETLINK)\n",
                    static_cast<int>(ready));
}

} // namespace

int print_launch_report()
{
    print_configuration();
    print_launcher_section();
    print_vm_library();
    print_vm_options();
    const std::vector<std::string> class_path = class_path_entries();
    print_class_path(class_path);
    resolved_class_path jar_class_path;
    const bool complete = resolve_main_jar_class_path(&jar_class_path) == 0 && print_main_jar(jar_class_path) == 0
        && print_main_class(class_path, jar_class_path) == 0 && print_main_arguments() == 0;
    free_jar_class_path(jar_class_path.count, jar_class_path.paths);
    if (!complete)
        return -1;
    print_class_cache();
    print_ready();
    return 0;
}

void print_start_report()
{
    std::printf("  VM created\n");
    if (launcher.main.method != nullptr)
        std::printf("  main class loaded, %smain(%s) found\n", launcher.main.constructor != nullptr ? "instance " : "",
                    launcher.main.takes_arguments ? "String[]" : "");
    if (launcher.main_arguments != nullptr)
        std::printf("  String[%d] of main arguments made; main not called\n",
                    static_cast<int>(launcher.main_argument_count));
}
