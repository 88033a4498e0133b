#include "launcher/launcher.h"
#include "platform/platform.h"

int start_java_vm()
{
    if (build_vm_init_args() != 0) {
        syslog(log_priority_error, "Out of memory building the JVM options");
        return -1;
    }

    const char* library_name = get_config_value(launcher.config_root, launcher.section_name, "jvm", "jvm.dll");
    // The library stays loaded for the life of the process: the VM runs from it.
    void* library = dlopen(library_name, vm_library_load_mode);
    if (library == nullptr) {
        syslog(log_priority_error, "Error loading JVM %s", library_name);
        return -1;
    }
    // Typed as the creation function itself, so the call below goes through
    // the right function type.
    const auto create_java_vm = reinterpret_cast<decltype(&JNI_CreateJavaVM)>(dlsym(library, "JNI_CreateJavaVM"));
    if (create_java_vm == nullptr) {
        syslog(log_priority_error, "Unable to find CreateJavaVM");
        return -1;
    }
    const jint result = create_java_vm(&launcher.vm, reinterpret_cast<void**>(&launcher.env), &launcher.init_args);
    if (result != JNI_OK) {
        syslog(log_priority_error, "Error %d creating java vm", static_cast<int>(result));
        return -1;
    }
    return 0;
}
