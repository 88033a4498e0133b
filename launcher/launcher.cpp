// SPDX-License-Identifier: Apache-2.0
#include "launcher/launch.h"
#include "platform/platform.h"

#include <cstring>

launcher_state launcher;

namespace {

int choose_configuration()
{
    // First, so that not even the configuration file takes their place.
    open_closed_standard_descriptors();
    launcher.section_name = launcher.argument_count >= 2 ? launcher.arguments[1] : default_launcher_section;
    if (launcher.argument_count >= 3) {
        launcher.config_root = read_config_file(launcher.arguments[2]);
        if (launcher.config_root == nullptr) {
            log_error("Unable to read JVM configuration from %s", launcher.arguments[2]);
            return -1;
        }
    } else {
        launcher.config_root = read_system_config();
    }
    return 0;
}

// Reads an exit status written as one to three decimal digits, 0 to 255,
// into *status. Returns 0, or -1 for anything else.
int read_exit_status(const char* text, int* status)
{
    int value = 0;
    int digits = 0;
    for (; text[digits] >= '0' && text[digits] <= '9' && digits < 3; ++digits)
        value = value * 10 + (text[digits] - '0');
    if (digits == 0 || text[digits] != '\0' || value > 255)
        return -1;
    *status = value;
    return 0;
}

// Reads `key` of the launcher section, "yes" or "no" (`default_value` when
// absent), into *value. Returns 0, or -1 after logging any other value.
int read_yes_no_setting(const char* key, const char* default_value, bool* value)
{
    const char* text = launcher_setting(key, default_value);
    *value = std::strcmp(text, "yes") == 0;
    if (!*value && std::strcmp(text, "no") != 0) {
        log_error("Invalid value %s for %s", text, key);
        return -1;
    }
    return 0;
}

// Reads the launcher section's keys into the state, expanding variables
// first when asked to. Every key is checked here, so that a wrong value ends
// the run before anything is loaded. Returns 0, or -1 after logging why.
int read_launcher_settings()
{
    if (read_yes_no_setting("passargs", default_pass_arguments, &launcher.pass_arguments) != 0
        || read_yes_no_setting("expand", default_expand_variables, &launcher.expand_variables) != 0
        || (launcher.expand_variables && expand_configuration() != 0))
        return -1;
    launcher.vm_library_name = launcher_setting("jvm", default_vm_library);
    launcher.main_class_name = launcher_setting("mainclass", default_main_class);
    launcher.main_argument_string = launcher_setting("mainargs", default_main_arguments);
    const char* class_cache_folder = launcher_setting("classcache", "");
    launcher.class_cache_folder = class_cache_folder[0] != '\0' ? class_cache_folder : nullptr;
    const char* fail_status = launcher_setting("failstatus", nullptr);
    if (fail_status != nullptr && read_exit_status(fail_status, &launcher.fail_status) != 0) {
        log_error("Invalid value %s for failstatus", fail_status);
        return -1;
    }
    return 0;
}

int stop_java_vm()
{
    if (launcher.vm->DetachCurrentThread() != JNI_OK) {
        log_error("Could not detach main thread");
        return -1;
    }
    // Waits for the application's non-daemon threads before it returns, and
    // writes the class cache's archive, if it is to.
    launcher.vm->DestroyJavaVM();
    launcher.vm = nullptr;
    finish_class_cache(&launcher.class_cache, launcher.main_called);
    return 0;
}

int end_launch(int exit_status)
{
    launcher.exit_status = exit_status;
    launcher.next_step = launch_end;
    return exit_status;
}

} // namespace

bool take_step(launch_step step)
{
    if (launcher.next_step != step || step >= launcher.stop)
        return false;
    launcher.next_step = static_cast<launch_step>(step + 1);
    return true;
}

const char* launcher_setting(const char* key, const char* default_value)
{
    return get_config_value(launcher.config_root, launcher.section_name, key, default_value);
}

int continue_launch(launch_step stop)
{
    launcher.stop = stop;
    if (take_step(launch_configuration) && choose_configuration() != 0)
        return end_launch(1);
    if (take_step(launch_settings) && read_launcher_settings() != 0)
        return end_launch(1);
    if (start_java_vm() != 0)
        return end_launch(1);

    // A misconfigured main class is reported by a VM that did start, and
    // whatever the main class did, the VM is shut down the same way; its
    // failure gives the run the status that failstatus asks for.
    if (run_main_class(launcher.main_class_name, launcher.main_argument_string) != 0) {
        launcher.exit_status = launcher.fail_status;
        if (launcher.next_step < launch_shutdown)
            launcher.next_step = launch_shutdown;
    }

    if (take_step(launch_shutdown) && stop_java_vm() != 0)
        return end_launch(1);
    return launcher.exit_status;
}

int launcher_main(int32_t argument_count, char** arguments)
{
    launcher.argument_count = argument_count;
    launcher.arguments = arguments;
    continue_launch(launch_vm_creation);
    // The VM gives the -Xss size to the threads it starts, not to the one
    // that creates it and runs main: that thread is started here with it.
    // Without the option the launch stays on the process's first thread,
    // whose stack is the ulimit's.
    const size_t stack_size = launcher.next_step == launch_vm_creation ? requested_stack_size(launcher.init_args) : 0;
    return stack_size != 0 ? finish_launch_on_stack(stack_size) : continue_launch(launch_end);
}
