#include "launcher/launcher.h"
#include "platform/platform.h"

launcher_state launcher;

int choose_configuration(int32_t argument_count, char** arguments)
{
    launcher.section_name = argument_count >= 2 ? arguments[1] : default_launcher_section;
    if (argument_count >= 3) {
        launcher.config_root = read_config_file(arguments[2]);
        if (launcher.config_root == nullptr) {
            syslog(log_priority_error, "Unable to read JVM configuration from %s", arguments[2]);
            return -1;
        }
    } else {
        launcher.config_root = read_system_config();
    }
    return 0;
}

const char* launcher_setting(const char* key, const char* default_value)
{
    return get_config_value(launcher.config_root, launcher.section_name, key, default_value);
}

int stop_java_vm()
{
    if (launcher.vm->DetachCurrentThread() != JNI_OK) {
        syslog(log_priority_error, "Could not detach main thread");
        return -1;
    }
    // Waits for the application's non-daemon threads before it returns.
    launcher.vm->DestroyJavaVM();
    return 0;
}

int launcher_main(int32_t argument_count, char** arguments)
{
    if (choose_configuration(argument_count, arguments) != 0)
        return 1;
    if (start_java_vm() != 0)
        return 1;

    // Looked up only now, so that a misconfigured class is reported by a VM
    // that did start.
    const char* main_class = launcher_setting("mainclass", default_main_class);
    const char* main_arguments = launcher_setting("mainargs", default_main_arguments);
    // Whatever the main class did, the VM is shut down the same way.
    run_main_class(main_class, main_arguments);

    return stop_java_vm() == 0 ? 0 : 1;
}
