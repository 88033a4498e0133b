// Makes the Nth allocation fail, for every N that a parse or a split makes.
// Linked with --wrap=malloc,calloc,free: calls from this file and the static
// libraries come here; __real_* reaches the C library, or ASan when sanitized.
#include "args/args.h"
#include "config/config.h"
#include "tests/config_test_support.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void __real_free(void* block);
void* __wrap_malloc(size_t size);
void* __wrap_calloc(size_t count, size_t size);
void __wrap_free(void* block);
}

namespace {

// While armed, allocation number `fail_at` (from 1) fails, and `live`
// counts allocations not yet freed.
struct {
    bool armed = false;
    int calls = 0;
    int fail_at = 0;
    long live = 0;
} hook;

void* count_allocation(void* block)
{
    hook.live += hook.armed && block != nullptr;
    return block;
}

bool next_allocation_fails()
{
    return hook.armed && ++hook.calls == hook.fail_at;
}

} // namespace

extern "C" void* __wrap_malloc(size_t size)
{
    return next_allocation_fails() ? nullptr : count_allocation(__real_malloc(size));
}

extern "C" void* __wrap_calloc(size_t count, size_t size)
{
    return next_allocation_fails() ? nullptr : count_allocation(__real_calloc(count, size));
}

extern "C" void __wrap_free(void* block)
{
    hook.live -= hook.armed && block != nullptr;
    __real_free(block);
}

namespace {

TEST(ConfigAllocation, EveryFailedAllocationGivesNullAndLeavesNothing)
{
    const char text[] = "[main]\nclass = a.B\nempty\n= nameless\n[]\n[second]\nk=v^41\n";
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        hook = {true, 0, n, 0};
        const config_ptr root(parse_config_text(text));
        hook.armed = false;
        if (hook.calls < n) { // no allocation failed: the parse is complete
            EXPECT_EQ(dump_config(root.get()),
                      "[main]\nclass=a.B\nempty=(null)\n(null)=nameless\n[(null)]\n[second]\nk=vA\n");
            EXPECT_GT(n, 10); // else the allocator was not wrapped at all
            break;
        }
        EXPECT_EQ(root, nullptr);
        EXPECT_EQ(hook.live, 0);
    }
}

TEST(ConfigAllocation, EveryFailedAllocationInReadingAFileGivesNullAndLeavesNothing)
{
    // The long value makes the reader grow its buffer.
    const std::string text = "[main]\nclass = a.B\nlong = " + std::string(100000, 'v') + "\n[second]\nk=v^41\n";
    const scratch_folder scratch;
    const std::string path = scratch.file("alloc.conf");
    write_file(path, text);
    const config_ptr whole(parse_config_text(text.c_str()));
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        hook = {true, 0, n, 0};
        const config_ptr root(read_config_file(path.c_str()));
        hook.armed = false;
        if (hook.calls < n) {
            EXPECT_EQ(dump_config(root.get()), dump_config(whole.get()));
            EXPECT_GT(n, 8);
            break;
        }
        EXPECT_EQ(root, nullptr);
        EXPECT_EQ(hook.live, 0);
    }
}

TEST(ArgsAllocation, FailedAllocationStopsFillingAfterTheStoredArguments)
{
    char* vector[3] = {};
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        hook = {true, 0, n, 0};
        const int32_t stored = split_arguments("one 'two words' three", vector);
        hook.armed = false;
        EXPECT_EQ(stored, n - 1);
        EXPECT_EQ(hook.live, n - 1);
        for (int32_t i = 0; i < stored; ++i)
            std::free(vector[i]);
    }
}

} // namespace
