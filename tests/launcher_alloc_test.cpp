// SPDX-License-Identifier: Apache-2.0
// Makes the Nth allocation of the launcher's own code fail, for every N, in
// building the VM options and in a whole run of launcher_main against the
// stand-in VM, until a run completes. Every run must end cleanly: failure
// reported by result, or one message and the launcher's exit status, nothing
// left allocated, and never a VM created from half-built options. See
// failing_allocator.h for how the failures are injected.
#include "config/config.h"
#include "launcher/launcher.h"
#include "tests/support/launcher_state.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

void report_sites(const char* what, int sites)
{
    std::printf("%s: %d allocation failure sites driven, each ended cleanly\n", what, sites);
    testing::Test::RecordProperty("failure_sites", sites);
}

TEST(VmOptionsAllocation, EveryFailedAllocationGivesMinusOneAndLeavesNoOption)
{
    // Two wildcards: the second's failures come after the first's listing,
    // whose names outgrow the first buffer.
    scratch_folder lib;
    const std::string long_name = std::string(250, 'l') + ".jar";
    for (const std::string& name : {std::string("b.jar"), std::string("a.jar"), long_name})
        write_file(lib.file(name), "");
    release_launcher_state();
    launcher.section_name = "java";
    launcher.config_root = parse_config_text(("[java.classpaths]\n/opt/app.jar\n" + lib.path + "/*\nC: \\x.jar\n"
                                              + lib.path + "/*\n[java.options]\n-Xmx256m\n= nameless\n-Xss1m\n"
                                                           "[java.properties]\napp.mode = production\napp.flag\n")
                                                 .c_str());
    ASSERT_NE(launcher.config_root, nullptr);
    const std::string jars = lib.path + "/a.jar:" + lib.path + "/b.jar:" + lib.file(long_name);
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        launcher.init_args = JavaVMInitArgs{};
        allocations = {true, 0, n, 0};
        const int result = build_launch_options();
        allocations.fail_at = 0;
        if (allocations.calls < n) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(option_strings(launcher.init_args),
                      (std::vector<std::string>{"-Djava.class.path=/opt/app.jar:" + jars + ":C:\\x.jar:" + jars,
                                                "-Xmx256m", "-Xss1m", "-Dapp.mode=production", "-Dapp.flag"}));
            free_vm_options(launcher.init_args.nOptions, launcher.init_args.options);
            launcher.init_args = JavaVMInitArgs{};
            EXPECT_EQ(allocations.live, 0);
            allocations.counting = false;
            report_sites("build_vm_init_args", n - 1);
            break;
        }
        allocations.counting = false;
        EXPECT_EQ(result, -1);
        EXPECT_EQ(launcher.init_args.nOptions, 0);
        EXPECT_EQ(launcher.init_args.options, nullptr);
        EXPECT_EQ(allocations.live, 0);
    }
    release_launcher_state();
}

// A main class name longer than the launcher's 128-byte buffer, so that its
// conversion allocates too.
const std::string long_class = "com.example." + std::string(130, 'n') + ".App";

std::string slashed(std::string dotted)
{
    for (char& c : dotted)
        c = c == '.' ? '/' : c;
    return dotted;
}

// How each run ended: the one message it logged (empty for a complete run),
// its exit status, and what the stand-in VM saw after its creation.
struct outcome {
    int status;
    std::string after_creation;
};

TEST(LauncherAllocation, EveryFailedAllocationEndsTheRunCleanly)
{
    scratch_folder scratch;
    // The VM library named by a JDK folder, a main jar whose Main-Class
    // mainclass overrides, and a class-path wildcard. The JDK's version lets
    // the class cache take part.
    const std::string jdk = scratch.file("jdk");
    std::filesystem::create_directories(jdk + "/lib/server");
    std::filesystem::copy_file(VELTA_FAKE_JVM, jdk + "/lib/server/libjvm.so");
    write_file(jdk + "/release", "JAVA_VERSION=\"17.0.15\"\n");
    std::filesystem::create_directories(scratch.file("lib"));
    write_file(scratch.file("lib/x.jar"), "");
    write_file(scratch.file("app.jar"), zip({{"META-INF/MANIFEST.MF", "Main-Class: ignored.Main\nClass-Path: lib/x.jar y.jar\n"}}));
    const std::string config = scratch.file("app.conf");
    write_file(config, "[java]\njvm=" + jdk + "\nexpand=yes\npassargs=yes\nclasscache=${CONFDIR}/cache\nmainclass=" + long_class
                           + "\nmainargs=alpha \"beta $$gamma\" ''\nmainjar=${CONFDIR}/app.jar\n"
                             "[java.classpaths]\n${CONFDIR}/lib/*\n"
                             "[java.options]\n-Xmx64m\n[java.properties]\napp.mode=production\napp.$$flag\n");
    const std::string syslog = scratch.file("syslog");
    const std::string vm = scratch.file("vm");
    setenv("VELTA_LOG_CAPTURE", syslog.c_str(), 1);
    setenv("VELTA_FAKE_JVM_RECORD", vm.c_str(), 1);
    setenv("VELTA_FAKE_JVM_RESULT", "0", 1);
    setenv("VELTA_FAKE_JVM_DETACH", "0", 1);
    setenv("VELTA_FAKE_JVM_CLASS", slashed(long_class).c_str(), 1);

    // The VM is created from the complete options or not at all, with the
    // class cache's options first and last, or, when the cache could not
    // be made ready, without them; the command line comes after them all,
    // unseen by the cache's digest.
    std::string configured[] = {"-Djava.class.path=" + scratch.path + "/app.jar:" + scratch.file("lib/x.jar"), "-Xmx64m",
                                "-Dapp.mode=production", "-Dapp.$flag"};
    std::string options;
    for (const std::string& option : configured)
        options += "option " + option + "\n";
    const std::string command = "option -Dsun.java.command=" + scratch.file("app.jar") + " alpha beta $gamma  passed\n";
    // The VM writes the archive into a file in memory, named by a descriptor.
    const std::string creation = "version 0x00010002\nignoreUnrecognized 0\nnOptions 7\noption "
                               + std::string(class_cache_quiet_options[class_cache_dynamic_archive]) + "\n" + options
                               + "option -XX:ArchiveClassesAtExit=/proc/PID/fd/N\n" + command;
    const std::string creation_without_cache = "version 0x00010002\nignoreUnrecognized 0\nnOptions 5\n" + options + command;
    const std::string shutdown = "DetachCurrentThread\nDestroyJavaVM\n";
    const std::string found_main = "FindClass " + slashed(long_class) + "\nGetStaticMethodID main\n";
    const std::string main_called = "FindClass java/lang/String\nFindClass java/lang/String\n"
                                    "FindClass java/lang/String\nFindClass java/lang/String\nFindClass java/lang/String\n"
                                    "CallStaticVoidMethod 4\nargument alpha\nargument beta $gamma\nargument \nargument passed\n";
    const std::map<std::string, outcome> outcomes = {
        {"3 Unable to read JVM configuration from " + config + "\n", {1, ""}},
        // The JDK folder's library path among them.
        {"3 Out of memory building the JVM options\n", {1, ""}},
        // The converted name could not be allocated: see docs/reliability.md.
        {"3 Unable to find main class " + long_class + "\n", {0, creation + shutdown}},
        {"3 Error creating command arguments\n", {0, creation + found_main + shutdown}},
        // The launch goes on without the class cache.
        {"3 Not using class cache " + scratch.file("cache") + ": out of memory\n",
         {0, creation_without_cache + found_main + main_called + shutdown}},
        {"", {0, creation + found_main + main_called + shutdown}},
    };
    std::map<std::string, int> sites_per_message;

    std::string arguments[] = {"velta-java", "java", config, "passed"};
    char* argv[] = {arguments[0].data(), arguments[1].data(), arguments[2].data(), arguments[3].data()};
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        std::filesystem::remove(syslog);
        std::filesystem::remove(vm);
        release_launcher_state();
        allocations = {true, 0, n, 0};
        const int status = launcher_main(4, argv);
        allocations.fail_at = 0;
        const bool completed = allocations.calls < n;
        // What the run kept for the life of the process is all it holds.
        release_launcher_state();
        allocations.counting = false;
        EXPECT_EQ(allocations.live, 0);

        const std::string logged = read_file(syslog);
        const auto expected = outcomes.find(logged);
        ASSERT_NE(expected, outcomes.end()) << "unexpected messages: " << logged;
        EXPECT_EQ(logged.empty(), completed);
        EXPECT_EQ(status, expected->second.status);
        std::string recorded = read_file(vm);
        const std::string descriptors = "/proc/" + std::to_string(getpid()) + "/fd/";
        if (const size_t at = recorded.find(descriptors); at != std::string::npos)
            recorded.replace(at, recorded.find('\n', at) - at, "/proc/PID/fd/N");
        EXPECT_EQ(recorded, expected->second.after_creation);
        if (completed) {
            EXPECT_EQ(sites_per_message.size(), outcomes.size() - 1) << "a kind of failure was never driven";
            report_sites("launcher_main", n - 1);
            for (const auto& [message, sites] : sites_per_message)
                std::printf("  %d ending with: %s", sites, message.c_str());
            break;
        }
        ++sites_per_message[logged];
    }
    unsetenv("VELTA_FAKE_JVM_CLASS");
}

} // namespace
