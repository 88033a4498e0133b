// SPDX-License-Identifier: Apache-2.0
// The real velta-java binary on hostile input: configuration paths that are
// no configuration file, main-class names the VM must not be handed, and
// argument strings with format sequences, bytes above 127, a megabyte, or a
// hundred thousand arguments. Run against every JDK under /usr/lib/jvm with
// -Xcheck:jni, which must stay silent. What the launcher logged is captured
// by the syslog stand-in preloaded into it.
#include "tests/support/jdks.h"
#include "tests/support/run_process.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Runs velta-java with `arguments` (its own path left out), prefixed by
// `runner` when given.
launch_result launch_java(const std::vector<std::string>& arguments, const std::vector<std::string>& runner = {})
{
    std::vector<std::string> command = runner;
    command.push_back(VELTA_JAVA);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return launch(command);
}

std::string unable_to_read(const std::string& path)
{
    return "3 Unable to read JVM configuration from " + path + "\n";
}

TEST(HostileConfigurationPaths, EachIsRefusedWithStatusOneAndOneMessage)
{
    scratch_folder scratch;
    make_strange_files(scratch);
    const std::string fifo = scratch.file("fifo");

    const std::string cases[] = {
        scratch.path, fifo, scratch.file("socket"), "/dev/zero", "/dev/null", "/proc/self/status",
        "/proc/self/environ", "/sys/devices/system/cpu/online", scratch.file("2GiB.conf"),
        scratch.file("int32max.conf"), scratch.file("dangling.conf"), scratch.file("loop.conf"),
        "/" + std::string(PATH_MAX + 10, 'x'), "", scratch.file("%s%n%p.conf"),
    };
    for (const std::string& path : cases) {
        SCOPED_TRACE(path.substr(0, 80));
        const launch_result result = launch_java({"java", path});
        EXPECT_EQ(result.process.status, 1);
        EXPECT_EQ(result.logged, unable_to_read(path));
        EXPECT_EQ(result.process.output + result.process.errors, "");
    }
}

TEST(HostileConfigurationPaths, AFileWithoutReadPermissionIsRefused)
{
    scratch_folder scratch;
    ASSERT_EQ(chmod(scratch.path.c_str(), 0755), 0);
    const std::string readable = scratch.file("readable.conf");
    const std::string locked = scratch.file("locked.conf");
    write_file(readable, "[java]\njvm=/nonexistent/libjvm.so\n");
    write_file(locked, "[java]\njvm=/nonexistent/libjvm.so\n");
    ASSERT_EQ(chmod(readable.c_str(), 0644), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0200), 0);
    // Root reads any file: the launcher then runs as the user nobody.
    std::vector<std::string> runner;
    if (geteuid() == 0)
        runner = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};

    // The same run on a readable file shows that the launcher, its log
    // capture and the folder are all within that user's reach here.
    const launch_result control = launch_java({"java", readable}, runner);
    if (control.logged != "3 Error loading JVM /nonexistent/libjvm.so\n")
        GTEST_SKIP() << "the user nobody cannot run " VELTA_JAVA " with its log captured here: status "
                     << control.process.status << ", " << control.process.errors;
    const launch_result result = launch_java({"java", locked}, runner);
    EXPECT_EQ(result.process.status, 1);
    EXPECT_EQ(result.logged, unable_to_read(locked));
    EXPECT_EQ(result.process.output + result.process.errors, "");
}

// A launch of velta-java on one JDK, running `main_class` with `main_arguments`
// from the test programs' jar; ${out} is what Echo wrote.
struct java_launch {
    scratch_folder scratch;
    launch_result result;
    std::string out;

    java_launch(const jdk& vm, const std::string& main_class, const std::string& main_arguments)
    {
        const std::string out_path = scratch.file("out");
        const std::string config = scratch.file("launcher.conf");
        write_file(config, "[java]\njvm=" + vm.libjvm + "\nmainclass=" + main_class + "\nmainargs=" + main_arguments
                               + "\n[java.classpaths]\n" VELTA_TEST_JAR "\n[java.options]\n-Xcheck:jni\n-Xshare:auto\n"
                               + "[java.properties]\nvelta.out=" + out_path + "\nfile.encoding=UTF-8\n");
        result = launch_java({"java", config});
        out = read_file(out_path);
    }
};

class OnEveryJdk : public testing::TestWithParam<jdk> {
protected:
    // -Xcheck:jni reports misuse as a warning, or as a fatal error that
    // aborts the VM, on either stream.
    static void expect_silent_vm(const launch_result& result)
    {
        for (const std::string& stream : {result.process.output, result.process.errors}) {
            EXPECT_EQ(stream.find("WARNING"), std::string::npos) << stream.substr(0, 400);
            EXPECT_EQ(stream.find("FATAL"), std::string::npos) << stream.substr(0, 400);
        }
    }
};

TEST_P(OnEveryJdk, HostileMainClassNamesAreReportedNotFound)
{
    const struct {
        const char* name;
        std::string main_class;
    } cases[] = {
        {"format sequences", "velta.test.%s%n%p"},
        {"2-byte UTF-8", "velta.test.\xc3\xbc\xc3\x9f"},
        {"3-byte UTF-8", "velta.test.\xe2\x82\xac"},
        {"the edges of the 2- and 3-byte forms", "velta.test.\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf"},
        {"NUL in modified UTF-8", "velta.test.a\xc0\x80"},
        {"a surrogate pair in modified UTF-8", "velta.test.\xed\xa0\xbd\xed\xb8\x80"},
        {"4-byte UTF-8", "velta.test.\xf0\x9f\x98\x80"},
        {"a byte that is no UTF-8", "velta.test.\xff"},
        {"a lone continuation byte", "velta.test.\x80x"},
        {"a cut sequence", "velta.test.\xe2\x82"},
        {"an overlong form", "velta.test.\xc1\xbf"},
        {"a descriptor", "Lvelta.test.Echo;"},
        {"a megabyte", "velta.test." + std::string(1 << 20, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const java_launch run(GetParam(), c.main_class, "");
        EXPECT_EQ(run.result.process.status, 0);
        // The system log capture keeps the first 8 KiB of a message.
        const std::string expected = "3 Unable to find main class " + c.main_class;
        EXPECT_EQ(run.result.logged, expected.substr(0, 8190) + "\n");
        EXPECT_EQ(run.result.process.output, "");
        expect_silent_vm(run.result);
    }
}

TEST_P(OnEveryJdk, HostileArgumentStringsReachMainIntact)
{
    std::string hundred_thousand;
    std::string hundred_thousand_echoed = "count 100000\n";
    for (int i = 0; i < 100000; ++i) {
        hundred_thousand += "a" + std::to_string(i) + " ";
        hundred_thousand_echoed += "[a" + std::to_string(i) + "]\n";
    }
    const std::string megabyte(1 << 20, 'y');
    const struct {
        const char* name;
        std::string arguments;
        std::string echoed; // the start of what Echo wrote
    } cases[] = {
        {"format sequences", "%s %n \"%p %%\"", "count 3\n[%s]\n[%n]\n[%p %%]\n"},
        // Bytes that are no UTF-8 are decoded as U+FFFD each.
        {"bytes above 127", "\xc3\xbc \xff\xfe a\xc0\x80z", "count 3\n[\xc3\xbc]\n[\xef\xbf\xbd\xef\xbf\xbd]\n"
                                                           "[a\xef\xbf\xbd\xef\xbf\xbdz]\n"},
        {"one argument of a megabyte", "'" + megabyte + "' last", "count 2\n[" + megabyte + "]\n[last]\n"},
        {"a hundred thousand arguments", hundred_thousand, hundred_thousand_echoed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const java_launch run(GetParam(), "velta.test.Echo", c.arguments);
        EXPECT_EQ(run.result.process.status, 0);
        EXPECT_EQ(run.result.logged, "");
        EXPECT_EQ(run.out.substr(0, c.echoed.size()), c.echoed) << run.out.substr(0, 200);
        expect_silent_vm(run.result);
    }
}

INSTANTIATE_TEST_SUITE_P(Jdk, OnEveryJdk, testing::ValuesIn(installed_jdks()),
                         [](const testing::TestParamInfo<jdk>& param) { return param.param.name; });

} // namespace
