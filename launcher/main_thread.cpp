// SPDX-License-Identifier: Apache-2.0
#include "launcher/launch_steps.h"

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Reads `text` as HotSpot reads a size: decimal digits, then at most one of
// k/K, m/M and g/G. Returns false for anything else and for a size that
// does not fit.
bool parse_size(const char* text, size_t* size)
{
    if (*text < '0' || *text > '9')
        return false;
    size_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (__builtin_mul_overflow(value, 10u, &value)
            || __builtin_add_overflow(value, static_cast<size_t>(*text - '0'), &value))
            return false;
    }
    // Setting bit 5 lower-cases K, M and G and turns no other byte into k, m
    // or g.
    const char suffix = static_cast<char>(*text | 0x20);
    const unsigned shift = suffix == 'k' ? 10 : suffix == 'm' ? 20 : suffix == 'g' ? 30 : 0;
    if (shift != 0)
        ++text;
    return *text == '\0' && !__builtin_mul_overflow(value, size_t{1} << shift, size);
}

// The record that JNI_GetDefaultJavaVMInitArgs fills for a caller of JNI
// version 1.1, as that version laid it out; HotSpot still fills its version
// and javaStackSize for such a caller (and returns JNI_ERR, the version
// being one it no longer creates VMs for).
struct jdk_1_1_init_args {
    jint version;
    char** properties;
    jint check_source;
    jint native_stack_size;
    jint java_stack_size;
    jint min_heap_size;
    jint max_heap_size;
    jint verify_mode;
    char* class_path;
    void* vfprintf_hook;
    void* exit_hook;
    void* abort_hook;
    jint enable_class_gc;
    jint enable_verbose_gc;
    jint disable_async_gc;
    jint verbose;
    jboolean debugging;
    jint debug_port;
};

void* continue_launch_until(void* stop)
{
    continue_launch(*static_cast<launch_step*>(stop));
    return nullptr;
}

} // namespace

size_t requested_stack_size(const JavaVMInitArgs& init_args)
{
    constexpr char xss[] = "-Xss";
    constexpr char thread_stack_size[] = "-XX:ThreadStackSize=";
    size_t requested = 0;
    for (jint i = 0; i < init_args.nOptions; ++i) {
        const char* option = init_args.options[i].optionString;
        size_t size = 0;
        if (std::strncmp(option, xss, sizeof xss - 1) == 0)
            requested = parse_size(option + sizeof xss - 1, &size) ? size : 0;
        else if (std::strncmp(option, thread_stack_size, sizeof thread_stack_size - 1) == 0)
            requested = parse_size(option + sizeof thread_stack_size - 1, &size)
                    && !__builtin_mul_overflow(size, size_t{1} << 10, &size) ? size : 0;
    }
    return requested;
}

size_t main_stack_size(const JavaVMInitArgs& init_args, void* library)
{
    if (const size_t requested = requested_stack_size(init_args); requested != 0)
        return requested;
    // What the java command asks for too. The VM says its default before it
    // has read any option, so -XX:ThreadStackSize does not change it.
    const auto get_defaults = reinterpret_cast<decltype(&JNI_GetDefaultJavaVMInitArgs)>(
        dlsym(library, "JNI_GetDefaultJavaVMInitArgs"));
    jdk_1_1_init_args defaults{};
    defaults.version = JNI_VERSION_1_1;
    if (get_defaults != nullptr)
        (void)get_defaults(&defaults);
    return defaults.java_stack_size > 0 ? static_cast<size_t>(defaults.java_stack_size) : 0;
}

int continue_launch_on_stack(size_t stack_size, launch_step stop)
{
    // In whole pages, and never below 64 KiB: on less, creating the VM
    // overflows the stack before the VM can refuse the size itself (the java
    // command's floor is the same). Without a size, the thread library's
    // default, as under the java command. A thread that cannot be had leaves
    // the launch on this thread, where the VM judges the size.
    constexpr size_t smallest_stack = size_t{64} << 10;
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t size = std::max({stack_size, smallest_stack, static_cast<size_t>(PTHREAD_STACK_MIN)});
    pthread_attr_t attributes;
    pthread_t thread;
    bool started = false;
    if (!__builtin_add_overflow(size, page - 1, &size) && pthread_attr_init(&attributes) == 0) {
        started = (stack_size == 0 || pthread_attr_setstacksize(&attributes, size / page * page) == 0)
            && pthread_create(&thread, &attributes, continue_launch_until, &stop) == 0;
        pthread_attr_destroy(&attributes);
    }
    if (!started)
        return continue_launch(stop);
    pthread_join(thread, nullptr);
    return launcher.exit_status;
}
