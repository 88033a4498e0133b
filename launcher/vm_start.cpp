// SPDX-License-Identifier: Apache-2.0
#include "launcher/launch.h"
#include "platform/platform.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

int prepare_vm_init_args()
{
    if (build_vm_init_args() != 0) {
        log_error("Out of memory building the JVM options");
        return -1;
    }
    return 0;
}

// A folder named as the VM library is a JDK (/usr/lib/jvm/default-java, say,
// which stays right across updates): its server VM is the library. Sets
// launcher.jdk_vm_library for a folder. Returns 0, or -1 when memory ran out.
int find_jdk_vm_library()
{
    struct stat info;
    if (stat(launcher.vm_library_name, &info) != 0 || !S_ISDIR(info.st_mode))
        return 0;
    static const char server_vm[] = "/lib/server/libjvm.so";
    // "/usr/lib/jvm/default-java/" names the same folder, without a "//".
    size_t length = std::strlen(launcher.vm_library_name);
    while (length > 1 && launcher.vm_library_name[length - 1] == '/')
        --length;
    launcher.jdk_vm_library = static_cast<char*>(std::malloc(length + sizeof server_vm));
    if (launcher.jdk_vm_library == nullptr)
        return -1;
    std::memcpy(launcher.jdk_vm_library, launcher.vm_library_name, length);
    std::memcpy(launcher.jdk_vm_library + length, server_vm, sizeof server_vm);
    return 0;
}

int open_vm_library()
{
    // dlopen("") would give the program itself, and with it any
    // JNI_CreateJavaVM that a preloaded library put in the global scope.
    // The library stays loaded for the life of the process: the VM runs from it.
    if (launcher.vm_library_name[0] != '\0' && find_jdk_vm_library() == 0)
        launcher.vm_library = dlopen(launcher.jdk_vm_library != nullptr ? launcher.jdk_vm_library : launcher.vm_library_name,
                                     vm_library_load_mode);
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

// Set once the handler below is registered: an exit can happen at most once.
bool class_cache_exit_handler_registered;

// System.exit ends the process in exit(), once the VM has written the
// archive; DestroyJavaVM is never reached then.
void finish_class_cache_at_exit()
{
    finish_class_cache(&launcher.class_cache, launcher.main_called);
}

// Nothing in the class cache's steps ends the launch: a cache that cannot be
// used is reported, and the launch goes on as without it.
void go_without_class_cache(const char* cause)
{
    log_error("Not using class cache %s: %s", launcher.class_cache_folder, cause);
}

void plan_class_cache_use()
{
    if (launcher.class_cache_folder == nullptr)
        return;
    char vm_library_file[PATH_MAX];
    // Planned on the configured options alone: the digest must not see the
    // cache's own.
    if (plan_class_cache(launcher.class_cache_folder, find_library_file(launcher.vm_library, vm_library_file),
                         launcher.main_class_name, launcher.init_args.options, launcher.init_args.nOptions,
                         &launcher.class_cache)
        != 0)
        go_without_class_cache(launcher.class_cache.refusal);
}

void make_class_cache_ready()
{
    class_cache_plan* plan = &launcher.class_cache;
    if (!plan->used)
        return;
    if (!class_cache_exit_handler_registered) {
        class_cache_exit_handler_registered = std::atexit(finish_class_cache_at_exit) == 0;
        if (!class_cache_exit_handler_registered) {
            free_class_cache_plan(plan);
            go_without_class_cache("out of memory");
            return;
        }
    }
    if (ready_class_cache(plan, &launcher.init_args) != 0)
        go_without_class_cache(plan->refusal);
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
    (void)check_class_cache_mapped(&launcher.class_cache);
    return 0;
}

} // namespace

int start_java_vm()
{
    if (take_step(launch_vm_options) && prepare_vm_init_args() != 0)
        return -1;
    if (take_step(launch_vm_library) && open_vm_library() != 0)
        return -1;
    if (take_step(launch_class_cache_plan))
        plan_class_cache_use();
    if (take_step(launch_class_cache))
        make_class_cache_ready();
    if (take_step(launch_vm_creation) && create_java_vm() != 0)
        return -1;
    return 0;
}
