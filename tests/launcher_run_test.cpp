// SPDX-License-Identifier: Apache-2.0
// The launcher's main function in this process, against stand-in VM
// libraries: its decisions on failures, its exit statuses and what it logs.
// The system log is captured by the syslog stand-in linked into this test.
#include "launcher/launcher.h"
#include "tests/support/launcher_state.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct run_result {
    int status;
    std::string logged;   // "<priority> <message>" lines
    std::string vm_calls; // what the stand-in VM recorded
};

// Runs the launcher on a file holding `config_text`, by default as
// "velta-java java FILE"; "{config}" in `arguments` stands for the file.
run_result run(const std::string& config_text, std::vector<std::string> arguments = {},
               const char* create_result = "0", const char* detach_result = "0")
{
    scratch_folder scratch;
    const std::string config = scratch.file("launcher.conf");
    write_file(config, config_text);
    setenv("VELTA_LOG_CAPTURE", scratch.file("syslog").c_str(), 1);
    setenv("VELTA_FAKE_JVM_RECORD", scratch.file("vm").c_str(), 1);
    setenv("VELTA_FAKE_JVM_RESULT", create_result, 1);
    setenv("VELTA_FAKE_JVM_DETACH", detach_result, 1);

    if (arguments.empty())
        arguments = {"velta-java", "java", "{config}"};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        if (argument == "{config}")
            argument = config;
        argv.push_back(argument.data());
    }
    release_launcher_state();
    run_result result{launcher_main(static_cast<int32_t>(argv.size()), argv.data()), "", ""};
    result.logged = read_file(scratch.file("syslog"));
    result.vm_calls = read_file(scratch.file("vm"));
    return result;
}

class LauncherRun : public testing::Test {
protected:
    void TearDown() override { release_launcher_state(); }
};

std::string fake_vm_section(const std::string& extra = "")
{
    return "[java]\njvm=" VELTA_FAKE_JVM "\n" + extra;
}

TEST_F(LauncherRun, UnreadableConfigurationIsFatalAndNamed)
{
    const run_result result = run("", {"velta-java", "java", "/nonexistent/%s.conf"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.logged, "3 Unable to read JVM configuration from /nonexistent/%s.conf\n");
}

TEST_F(LauncherRun, VmStartFailuresAreFatalWithTheirMessage)
{
    struct failure_case {
        const char* name;
        std::string config;
        const char* create_result;
        std::string logged;
    } cases[] = {
        {"library missing", "[java]\njvm=/nonexistent/libjvm.so\n", "0", "3 Error loading JVM /nonexistent/libjvm.so\n"},
        {"library without the creation entry", "[java]\njvm=" VELTA_NO_CREATE_VM "\n", "0", "3 Unable to find CreateJavaVM\n"},
        {"creation fails with -1", fake_vm_section(), "-1", "3 Error -1 creating java vm\n"},
        {"creation fails with -6", fake_vm_section(), "-6", "3 Error -6 creating java vm\n"},
        {"a folder without lib/server/libjvm.so", "[java]\njvm=/\n", "0", "3 Error loading JVM /\n"},
        // Not the program itself, whose global scope now holds the stand-in
        // VM's JNI_CreateJavaVM.
        {"an empty name loads nothing", "[java]\njvm=\n", "0", "3 Error loading JVM \n"},
        // Not the JDK folder of that name in the working folder.
        {"a name without a slash is the loader's to find", "[java]\njvm=jdk\n", "0", "3 Error loading JVM jdk\n"},
    };
    scratch_folder working;
    std::filesystem::create_directories(working.file("jdk/lib/server"));
    std::filesystem::create_symlink(VELTA_FAKE_JVM, working.file("jdk/lib/server/libjvm.so"));
    const std::filesystem::path started_in = std::filesystem::current_path();
    std::filesystem::current_path(working.path);
    for (const failure_case& c : cases) {
        SCOPED_TRACE(c.name);
        const run_result result = run(c.config, {}, c.create_result);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.logged, c.logged);
        EXPECT_EQ(result.vm_calls.find("DestroyJavaVM"), std::string::npos);
    }
    std::filesystem::current_path(started_in);
}

TEST_F(LauncherRun, OptionsAreBuiltEvenWhenTheLibraryFailsToLoad)
{
    run("[java]\njvm=/nonexistent/libjvm.so\n[java.options]\n-Xmx1m\n");
    EXPECT_EQ(launcher.init_args.nOptions, 1);
}

TEST_F(LauncherRun, FailStatusIsADecimalFrom0To255OrTheRunStopsBeforeTheVm)
{
    const struct {
        const char* value;
        int status;
    } cases[] = {
        {"0", 0}, {"000", 0}, {"7", 7}, {"255", 255}, {"256", -1}, {"0255", -1}, {"-1", -1}, {"+1", -1},
        {"0x10", -1}, {"1.0", -1}, {"1 2", -1}, {"", -1}, {"seven", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const run_result result = run(fake_vm_section(std::string("failstatus=") + c.value + "\nmainclass=x\n"));
        if (c.status < 0) {
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.logged, std::string("3 Invalid value ") + c.value + " for failstatus\n");
            EXPECT_EQ(result.vm_calls, "");
        } else {
            EXPECT_EQ(result.status, c.status);
            EXPECT_EQ(result.logged, "3 Unable to find main class x\n");
        }
    }
}

TEST_F(LauncherRun, MissingMainClassStillDetachesDestroysAndSucceeds)
{
    const run_result result = run(fake_vm_section("mainclass=com.example.App\n"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.logged, "3 Unable to find main class com.example.App\n");
    EXPECT_NE(result.vm_calls.find("FindClass com/example/App\nDetachCurrentThread\nDestroyJavaVM\n"),
              std::string::npos) << result.vm_calls;
}

TEST_F(LauncherRun, FailedDetachIsFatalAndSkipsDestroy)
{
    const run_result result = run(fake_vm_section(), {}, "0", "-1");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.logged, "3 Unable to find main class velta.os.Shell\n3 Could not detach main thread\n");
    EXPECT_NE(result.vm_calls.find("FindClass velta/os/Shell\nDetachCurrentThread\n"), std::string::npos);
    EXPECT_EQ(result.vm_calls.find("DestroyJavaVM"), std::string::npos);
}

TEST_F(LauncherRun, ClassNamesOfAnyLengthAreConvertedWhole)
{
    for (const size_t length : {126u, 127u, 128u, 129u, 4096u}) {
        SCOPED_TRACE(length);
        const std::string dotted = "a." + std::string(length - 2, 'b');
        std::string slashed = dotted;
        slashed[1] = '/';
        const run_result result = run(fake_vm_section("mainclass=" + dotted + "\n"));
        EXPECT_NE(result.vm_calls.find("FindClass " + slashed + "\n"), std::string::npos);
        EXPECT_EQ(result.logged, "3 Unable to find main class " + dotted + "\n");
    }
}

TEST_F(LauncherRun, ArgumentsBeyondTheSecondChangeNothing)
{
    const run_result result = run("", {"velta-java", "app", "/nonexistent.conf", "extra", "more"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.logged, "3 Unable to read JVM configuration from /nonexistent.conf\n");
}

TEST_F(LauncherRun, UnknownSectionTakesEveryDefault)
{
    const run_result result = run(fake_vm_section("mainclass=x\n"), {"velta-java", "other", "{config}"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.logged, "3 Error loading JVM jvm.dll\n");
}

TEST_F(LauncherRun, EmptyFileIsRefusedLikeAMissingOne)
{
    const run_result result = run("# no section\n", {"velta-java", "java", "{config}"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.logged.find("3 Unable to read JVM configuration from /"), std::string::npos);
}

TEST_F(LauncherRun, ExpandReplacesVariablesAndDoubleDollarsOnlyOnce)
{
    setenv("VELTA_TEST_JVM", VELTA_FAKE_JVM, 1);
    setenv("VELTA_TEST_HEAP", "64m", 1);
    setenv("VELTA_TEST_EMPTY", "", 1);
    setenv("VELTA_FAKE_JVM_CLASS", "a/B$C", 1);
    const struct {
        const char* name;
        const char* config; // after a launcher section that expands jvm
        const char* calls;  // part of what the VM saw
        const char* logged;
    } cases[] = {
        {"other dollars stay", "[java.properties]\nk${VELTA_TEST_EMPTY} = $ ${} ${1x} ${x-y} ${X $${X} ${VELTA_TEST_HEAP$\n",
         "option -Dk=$ ${} ${1x} ${x-y} ${X ${X} ${VELTA_TEST_HEAP$\nFindClass a/B$C\n", ""},
        {"a section named twice", "options=o\nproperties=o\n[o]\n$$$$${VELTA_TEST_HEAP}\n", "option $$64m\noption -D$$64m\n", ""},
        {"the launcher section named", "options=java\nmainargs=$$$$ '${VELTA_TEST_EMPTY}'\n",
         "CallStaticVoidMethod 2\nargument $$\nargument \n", ""},
        {"an unset variable", "[java.options]\n-Xmx1m\n${VELTA_TEST_UNSET}\n", "", "3 Undefined variable VELTA_TEST_UNSET\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const run_result result = run(std::string("[java]\njvm=${VELTA_TEST_JVM}\nmainclass=a.B$C\nexpand=yes\n") + c.config);
        EXPECT_EQ(result.status, c.logged[0] != '\0' ? 1 : 0);
        EXPECT_EQ(result.logged, c.logged);
        EXPECT_NE(result.vm_calls.find(c.calls), std::string::npos) << result.vm_calls;
        EXPECT_EQ(result.vm_calls.empty(), c.calls[0] == '\0');
    }
    unsetenv("VELTA_FAKE_JVM_CLASS");
}

} // namespace
