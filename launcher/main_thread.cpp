// SPDX-License-Identifier: Apache-2.0
#include "launcher/launch_steps.h"

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

int continue_launch_on_stack(size_t stack_size, launch_step stop)
{
    // In whole pages, and never below 64 KiB: on less, creating the VM
    // overflows the stack before the VM can refuse the size itself (the java
    // command's floor is the same). A stack that cannot be had leaves the
    // launch on this thread, where the VM judges the size.
    constexpr size_t smallest_stack = size_t{64} << 10;
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t size = std::max({stack_size, smallest_stack, static_cast<size_t>(PTHREAD_STACK_MIN)});
    pthread_attr_t attributes;
    pthread_t thread;
    bool started = false;
    if (!__builtin_add_overflow(size, page - 1, &size) && pthread_attr_init(&attributes) == 0) {
        started = pthread_attr_setstacksize(&attributes, size / page * page) == 0
            && pthread_create(&thread, &attributes, continue_launch_until, &stop) == 0;
        pthread_attr_destroy(&attributes);
    }
    if (!started)
        return continue_launch(stop);
    pthread_join(thread, nullptr);
    return launcher.exit_status;
}
