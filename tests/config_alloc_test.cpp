// SPDX-License-Identifier: Apache-2.0
// Makes the Nth allocation fail, for every N that reading, parsing or
// splitting makes, until a run completes: each failure must be reported by
// the result and leave nothing allocated. See failing_allocator.h for how.
#include "args/args.h"
#include "config/config.h"
#include "tests/support/config_text.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Reported with the test's output: the number of allocation sites driven.
void report_sites(const char* what, int sites)
{
    std::printf("%s: %d allocation failure sites driven, each ended cleanly\n", what, sites);
    testing::Test::RecordProperty("failure_sites", sites);
}

TEST(ConfigAllocation, EveryFailedAllocationGivesNullAndLeavesNothing)
{
    const char text[] = "[main]\nclass = a.B\nempty\n= nameless\n[]\n[second]\nk=v^41\n";
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        allocations = {true, 0, n, 0};
        const config_ptr root(parse_config_text(text));
        allocations.counting = false;
        if (allocations.calls < n) { // no allocation failed: the parse is complete
            EXPECT_EQ(dump_config(root.get()),
                      "[main]\nclass=a.B\nempty\n(null)=nameless\n[(null)]\n[second]\nk=vA\n");
            EXPECT_GT(n, 10); // else the allocator was not wrapped at all
            report_sites("parse_config_text", n - 1);
            break;
        }
        EXPECT_EQ(root, nullptr);
        EXPECT_EQ(allocations.live, 0);
    }
}

// A configuration as the README shows one, in CR LF, with escapes and the
// odd lines a hand-edited file has.
const char representative_config[] =
    "; velta-java\r\n"
    "[java]\r\n"
    "jvm = /usr/lib/jvm/java-17-openjdk-amd64/lib/server/libjvm.so\r\n"
    "mainclass = com.example.App\r\n"
    "mainargs = --port 8080 \"a value with spaces\"\r\n"
    "\r\n"
    "[java.classpaths]\r\n"
    "/opt/app/app.jar\r\n"
    "/opt/app/lib/*\r\n"
    "[java.options]\r\n"
    "-Xmx256m\r\n"
    "-Xbootclasspath/a:/opt/x.jar\r\n"
    "[java.properties]\r\n"
    "app.mode = production\r\n"
    "app.padded = ^20kept^20\r\n"
    "app.flag\r\n";

// Reads `text` from a file with allocation 1, 2, 3, ... failing until a read
// makes no more allocations than the one set to fail. Every failed read must
// give null and leave nothing allocated; the complete one must give what the
// whole text parses to. Returns the number of allocation sites driven.
int sweep_reading(const std::string& text)
{
    scratch_folder scratch;
    const std::string path = scratch.file("app.conf");
    write_file(path, text);
    const config_ptr whole(parse_config_text(text.c_str()));
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        allocations = {true, 0, n, 0};
        const config_ptr root(read_config_file(path.c_str()));
        allocations.counting = false;
        if (allocations.calls < n) {
            EXPECT_EQ(dump_config(root.get()), dump_config(whole.get()));
            return n - 1;
        }
        EXPECT_EQ(root, nullptr);
        EXPECT_EQ(allocations.live, 0);
    }
}

TEST(ConfigAllocation, ReadingAFileReportsEveryFailedAllocationByNull)
{
    const int sites = sweep_reading(representative_config);
    EXPECT_GT(sites, 20);
    report_sites("read_config_file", sites);
}

TEST(ConfigAllocation, ReadingALineLongerThanTheReadBufferSurvivesEveryFailedAllocation)
{
    // The long value makes the reader grow its buffer.
    EXPECT_GT(sweep_reading("[main]\nclass = a.B\nlong = " + std::string(100000, 'v') + "\n[second]\nk=v^41\n"), 8);
}

TEST(ArgsAllocation, FailedAllocationStopsFillingAfterTheStoredArguments)
{
    const char text[] = "--port 8080 \"a value with spaces\" '' 'it\"s' \xc3\xbcn\xc3\xaf last";
    const int32_t count = split_arguments(text, nullptr);
    ASSERT_EQ(count, 7);
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        char* vector[7] = {};
        allocations = {true, 0, n, 0};
        const int32_t stored = split_arguments(text, vector);
        allocations.counting = false;
        if (allocations.calls < n) {
            EXPECT_EQ(stored, count);
            EXPECT_STREQ(vector[2], "a value with spaces");
            EXPECT_STREQ(vector[6], "last");
            report_sites("split_arguments", n - 1);
        } else {
            EXPECT_EQ(stored, n - 1);
            EXPECT_EQ(allocations.live, n - 1); // exactly the stored arguments
        }
        for (int32_t i = 0; i < stored; ++i)
            std::free(vector[i]);
        if (allocations.calls < n)
            break;
    }
}

} // namespace
