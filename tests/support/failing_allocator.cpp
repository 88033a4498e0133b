// SPDX-License-Identifier: Apache-2.0
#include "tests/support/failing_allocator.h"

#include <cstddef>

allocation_hook allocations{};

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void __real_free(void* block);
void* __wrap_malloc(size_t size);
void* __wrap_calloc(size_t count, size_t size);
void __wrap_free(void* block);
}

namespace {

bool next_allocation_fails()
{
    return allocations.counting && ++allocations.calls == allocations.fail_at;
}

void* count_new_block(void* block)
{
    allocations.live += allocations.counting && block != nullptr;
    return block;
}

} // namespace

extern "C" void* __wrap_malloc(size_t size)
{
    return next_allocation_fails() ? nullptr : count_new_block(__real_malloc(size));
}

extern "C" void* __wrap_calloc(size_t count, size_t size)
{
    return next_allocation_fails() ? nullptr : count_new_block(__real_calloc(count, size));
}

extern "C" void __wrap_free(void* block)
{
    allocations.live -= allocations.counting && block != nullptr;
    __real_free(block);
}
