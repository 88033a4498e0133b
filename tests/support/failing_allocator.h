// SPDX-License-Identifier: Apache-2.0
// Allocation failures on demand, for a test executable linked with
// -Wl,--wrap=malloc,--wrap=calloc,--wrap=free: the calls made from the
// executable's own objects and its static libraries (the product code, which
// allocates with malloc and calloc only) come here, while shared libraries
// (the C++ runtime, the stand-in VM, the syslog capture) keep the real
// allocator. The wrappers reach glibc's allocator, or AddressSanitizer's in a
// sanitized build.
#pragma once

struct allocation_hook {
    bool counting; // while set, allocations and frees are counted
    int calls;     // allocation calls made while counting
    int fail_at;   // the call, counted from 1, that returns null; 0 for none
    long live;     // blocks allocated while counting and not yet freed; a
                   // block made before counting started must be freed after
                   // it stops
};

// The one hook of the process; a test sets it whole, e.g. {true, 0, n, 0}.
extern allocation_hook allocations;
