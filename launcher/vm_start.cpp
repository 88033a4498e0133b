#include "launcher/launch.h"
#include "platform/platform.h"

namespace {

int prepare_vm_init_args()
{
    if (build_vm_init_args() != 0) {
        log_error("Out of memory building the JVM options");
        return -1;
    }
    return 0;
}

int open_vm_library()
{
    // The library stays loaded for the life of the process: the VM runs from it.
    launcher.vm_library = dlopen(launcher.vm_library_name, vm_library_load_mode);
    if (launcher.vm_library == nullptr) {
        log_error("Error loading JVM %s", launcher.vm_library_name);
        return -1;
    }
    // Typed as the creation function itself, so the call through it goes
    // through the right function type.
    launcher.create_vm = reinterpret_cast<create_java_vm_entry>(dlsym(launcher.vm_library, "JNI_CreateJavaVM"));
    if (launcher.create_vm == nullptr) {
        log_error("Unable to find CreateJavaVM");
        return -1;
    }
    return 0;
}

int create_java_vm()
{
    launcher.creating_vm = true;
    const jint result = launcher.create_vm(&launcher.vm, reinterpret_cast<void**>(&launcher.env), &launcher.init_args);
    launcher.creating_vm = false;
    if (result != JNI_OK) {
        log_error("Error %d creating java vm", static_cast<int>(result));
        return -1;
    }
    return 0;
}

} // namespace

int start_java_vm()
{
    if (take_step(launch_vm_options) && prepare_vm_init_args() != 0)
        return -1;
    if (take_step(launch_vm_library) && open_vm_library() != 0)
        return -1;
    if (take_step(launch_vm_creation) && create_java_vm() != 0)
        return -1;
    return 0;
}
