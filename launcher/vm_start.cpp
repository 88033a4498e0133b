#include "launcher/launcher.h"
#include "platform/platform.h"

int prepare_vm_init_args()
{
    if (build_vm_init_args() != 0) {
        syslog(log_priority_error, "Out of memory building the JVM options");
        return -1;
    }
    return 0;
}

void* open_vm_library(const char* library_name)
{
    // The library stays loaded for the life of the process: the VM runs from it.
    void* library = dlopen(library_name, vm_library_load_mode);
    if (library == nullptr)
        syslog(log_priority_error, "Error loading JVM %s", library_name);
    return library;
}

create_java_vm_entry find_create_java_vm(void* library)
{
    // Typed as the creation function itself, so the call through it goes
    // through the right function type.
    const auto create = reinterpret_cast<create_java_vm_entry>(dlsym(library, "JNI_CreateJavaVM"));
    if (create == nullptr)
        syslog(log_priority_error, "Unable to find CreateJavaVM");
    return create;
}

int create_java_vm(create_java_vm_entry create)
{
    const jint result = create(&launcher.vm, reinterpret_cast<void**>(&launcher.env), &launcher.init_args);
    if (result != JNI_OK) {
        syslog(log_priority_error, "Error %d creating java vm", static_cast<int>(result));
        return -1;
    }
    return 0;
}

int start_java_vm()
{
    if (prepare_vm_init_args() != 0)
        return -1;
    void* library = open_vm_library(launcher_setting("jvm", default_vm_library));
    if (library == nullptr)
        return -1;
    const create_java_vm_entry create = find_create_java_vm(library);
    if (create == nullptr)
        return -1;
    return create_java_vm(create);
}
