// SPDX-License-Identifier: Apache-2.0
// Starting and stopping the Java VM: its library, the class cache's part in
// its options, its creation and its end.
#include "launcher/launch_steps.h"
#include "launcher/text.h"
#include "platform/platform.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// A folder named as the VM library is a JDK (/usr/lib/jvm/default-java, say,
// which stays right across updates): its server VM is the library. Only a
// name holding a "/" can be one: a bare name is the loader's to find, never a
// folder that happens to lie in the working folder. Sets *jdk_vm_library for
// a folder. Returns 0, or -1 when memory ran out.
int find_jdk_vm_library(const char* name, char** jdk_vm_library)
{
    struct stat info;
    if (std::strchr(name, '/') == nullptr || stat(name, &info) != 0 || !S_ISDIR(info.st_mode))
        return 0;
    static const char server_vm[] = "/lib/server/libjvm.so";
    // "/usr/lib/jvm/default-java/" names the same folder, without a "//".
    size_t length = std::strlen(name);
    while (length > 1 && name[length - 1] == '/')
        --length;
    char* path = static_cast<char*>(std::malloc(length + sizeof server_vm));
    if (path == nullptr)
        return -1;
    put_text(path, put_text(path, 0, name, length), server_vm, sizeof server_vm);
    *jdk_vm_library = path;
    return 0;
}

// Set once the handler below is registered: an exit can happen at most once.
bool class_cache_exit_handler_registered;

// System.exit ends the process in exit(), once the VM has written the
// archive or its record; DestroyJavaVM is never reached then.
void finish_class_cache_at_exit()
{
    finish_class_cache(&launcher.class_cache, launcher.main_called);
}

// Nothing in the class cache's steps ends the launch: a cache that cannot be
// used is reported, and the launch goes on as without it.
void go_without_class_cache(const char* folder, const char* cause)
{
    log_error("Not using class cache %s: %s", folder, cause);
}

} // namespace

int open_vm_library(const char* name, char** jdk_vm_library, void** library, create_java_vm_entry* create_vm)
{
    if (find_jdk_vm_library(name, jdk_vm_library) != 0) {
        log_error("Out of memory building the JVM options");
        return -1;
    }
    // dlopen("") would give the program itself, and with it any
    // JNI_CreateJavaVM that a preloaded library put in the global scope.
    if (name[0] != '\0')
        *library = dlopen(*jdk_vm_library != nullptr ? *jdk_vm_library : name, vm_library_load_mode);
    if (*library == nullptr) {
        log_error("Error loading JVM %s", name);
        return -1;
    }
    // Typed as the creation function itself, so the call through it goes
    // through the right function type.
    *create_vm = reinterpret_cast<create_java_vm_entry>(dlsym(*library, "JNI_CreateJavaVM"));
    if (*create_vm == nullptr) {
        log_error("Unable to find CreateJavaVM");
        return -1;
    }
    return 0;
}

void plan_class_cache_use(const char* folder, void* library, const char* main_class, const JavaVMInitArgs* init_args,
                          class_cache_plan* plan)
{
    if (folder == nullptr)
        return;
    char vm_library_file[PATH_MAX];
    // Planned on the configured options alone: the digest must not see the
    // cache's own.
    if (plan_class_cache(folder, find_library_file(library, vm_library_file), main_class, init_args->options,
                         init_args->nOptions, plan)
        != 0)
        go_without_class_cache(folder, plan->refusal);
}

void make_class_cache_ready(const char* folder, class_cache_plan* plan, JavaVMInitArgs* init_args)
{
    if (!plan->used)
        return;
    if (!class_cache_exit_handler_registered) {
        class_cache_exit_handler_registered = std::atexit(finish_class_cache_at_exit) == 0;
        if (!class_cache_exit_handler_registered) {
            free_class_cache_plan(plan);
            go_without_class_cache(folder, "out of memory");
            return;
        }
    }
    if (ready_class_cache(plan, init_args) != 0)
        go_without_class_cache(folder, plan->refusal);
}

int create_java_vm(create_java_vm_entry create_vm, JavaVMInitArgs* init_args, JavaVM** vm, JNIEnv** env)
{
    const jint result = create_vm(vm, reinterpret_cast<void**>(env), init_args);
    if (result != JNI_OK) {
        log_error("Error %d creating java vm", static_cast<int>(result));
        return -1;
    }
    return 0;
}

int stop_java_vm(JavaVM** vm)
{
    if ((*vm)->DetachCurrentThread() != JNI_OK) {
        log_error("Could not detach main thread");
        return -1;
    }
    // Waits for the application's non-daemon threads before it returns, and
    // writes the class cache's archive or record, if it is to.
    (*vm)->DestroyJavaVM();
    *vm = nullptr;
    return 0;
}
