// SPDX-License-Identifier: Apache-2.0
// The real velta-java binary on generated configurations: against every JDK
// under /usr/lib/jvm with -Xcheck:jni, and against stand-in VM libraries.
// What the launcher logged is captured by the syslog stand-in preloaded into
// it.
#include "tests/support/jdks.h"
#include "tests/support/run_process.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

// A launch of velta-java on one configuration, in a scratch folder that also
// receives what the Java side writes to the file ${out}.
struct java_launch {
    scratch_folder scratch;
    launch_result result;
    std::string out;

    java_launch(const std::string& libjvm, const std::string& launcher_section, const std::string& extra_sections,
                const std::vector<int>& closed)
    {
        out = scratch.file("out");
        const std::string config = scratch.file("launcher.conf");
        write_file(config, "[java]\njvm=" + libjvm + "\n" + launcher_section
                               + "[java.classpaths]\n" VELTA_TEST_JAR "\n/nonexistent/dir\n"
                               + "[java.options]\n-Xcheck:jni\n-Xshare:auto\n"
                               + "[java.properties]\nvelta.out=" + out + "\nfile.encoding=UTF-8\nvelta.flag\n"
                               + extra_sections);
        result = launch({VELTA_JAVA, "java", config}, {}, "", closed);
        out = read_file(out);
    }
};

class OnEveryJdk : public testing::TestWithParam<jdk> {
protected:
    void TearDown() override
    {
        // -Xcheck:jni reports misuse as warnings on either stream.
        EXPECT_EQ(last.process.output.find("WARNING"), std::string::npos) << last.process.output;
        EXPECT_EQ(last.process.errors.find("WARNING"), std::string::npos) << last.process.errors;
    }

    // `jvm` replaces the JDK's libjvm.so as the key "jvm"; each descriptor in
    // `closed` is closed for velta-java.
    launch_result& run(const std::string& launcher_section, const std::string& extra_sections = "",
                       const std::string& jvm = "", const std::vector<int>& closed = {})
    {
        launches.push_back(std::make_unique<java_launch>(jvm.empty() ? GetParam().libjvm : jvm, launcher_section,
                                                         extra_sections, closed));
        last = launches.back()->result;
        return launches.back()->result;
    }
    const std::string& out() const { return launches.back()->out; }

    std::vector<std::unique_ptr<java_launch>> launches;
    launch_result last{};
};

TEST(Jdks, Jdk17IsAmongThemAndAllAreAtLeast17)
{
    const std::vector<jdk> jdks = installed_jdks();
    EXPECT_TRUE(std::any_of(jdks.begin(), jdks.end(), [](const jdk& j) { return j.major == 17; }));
    for (const jdk& j : jdks)
        EXPECT_GE(j.major, 17) << j.name;
}

TEST_P(OnEveryJdk, RunsMainWithQuotedAndNonAsciiArguments)
{
    const launch_result& result = run("mainclass=velta.test.Echo\nmainargs= alpha \"beta gamma\"  'delta' \xc3\xbcn\xc3\xaf \"\" 'it\"s'\n");
    EXPECT_EQ(result.process.status, 0);
    EXPECT_EQ(result.logged, "");
    EXPECT_EQ(result.process.output, "");
    EXPECT_EQ(result.process.errors, "");
    EXPECT_EQ(out(), "count 6\n[alpha]\n[beta gamma]\n[delta]\n[\xc3\xbcn\xc3\xaf]\n[]\n[it\"s]\n"
                     "java.class.path " VELTA_TEST_JAR ":/nonexistent/dir\nvelta.flag \nvelta.value null\n");
}

TEST_P(OnEveryJdk, EmptyArgumentsGiveAnEmptyArray)
{
    const launch_result& result = run("mainclass=velta.test.Echo\nmainargs\n");
    EXPECT_EQ(result.process.status, 0);
    EXPECT_EQ(out().substr(0, 8), "count 0\n");
}

TEST_P(OnEveryJdk, MainClassFailuresAreReportedAndEndWithTheFailStatus)
{
    const struct {
        const char* section;
        const char* logged;
        const char* described; // by the VM, on standard error
        int status;
    } cases[] = {
        {"mainclass=velta.test.Missing\nfailstatus=9\n", "3 Unable to find main class velta.test.Missing\n", "", 9},
        {"mainclass=velta.test.NoMain\nfailstatus=255\n", "3 Class velta.test.NoMain does not have a main method\n", "", 255},
        {"mainclass\n", "3 Unable to find main class \n", "", 0},
        {"mainclass=velta.test.%s%n\n", "3 Unable to find main class velta.test.%s%n\n", "", 0},
        {"", "3 Unable to find main class velta.os.Shell\n", "", 0},
        {"mainclass=velta.test.Throws\nfailstatus=1\n", "", "java.lang.IllegalStateException: thrown by velta.test.Throws", 1},
        {"mainclass=velta.test.Recurse\nfailstatus=0\n", "", "java.lang.StackOverflowError", 0},
        {"mainclass=velta.test.PrivateConstructor\nfailstatus=3\n",
         "3 Class velta.test.PrivateConstructor does not have a non-private constructor without arguments\n", "", 3},
        {"mainclass=velta.test.ThrowingConstructor\nfailstatus=4\n", "",
         "Exception in thread \"main\" java.lang.IllegalStateException: thrown by the constructor of velta.test.ThrowingConstructor", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section);
        const launch_result& result = run(c.section);
        EXPECT_EQ(result.process.status, c.status);
        EXPECT_EQ(result.logged, c.logged);
        EXPECT_EQ(result.process.output, "");
        EXPECT_NE(result.process.errors.find(c.described), std::string::npos) << result.process.errors.substr(0, 400);
    }
}

TEST_P(OnEveryJdk, MainMethodsOfJdk25RunInTheJavaCommandsOrder)
{
    const struct {
        const char* section;
        const char* printed;
    } cases[] = {
        {"mainclass=velta.test.InstanceMain\nmainargs=a b\n", "main(String[]) of velta.test.InstanceMain with 2 arguments\n"},
        {"mainclass=velta.test.InheritedMain\n", "main(String[]) of velta.test.InheritedMain with 0 arguments\n"},
        {"mainclass=velta.test.StaticMainWithoutArguments\nmainargs=a\n", "static main()\n"},
        {"mainclass=velta.test.InstanceMainWithoutArguments\n", "main() of velta.test.InstanceMainWithoutArguments\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section);
        const launch_result& result = run(c.section);
        EXPECT_EQ(result.process.status, 0);
        EXPECT_EQ(result.logged + result.process.errors + result.process.output, c.printed);
    }
}

TEST_P(OnEveryJdk, MainsExceptionGoesToTheUncaughtExceptionHandler)
{
    // Without a handler of the program's, the VM's prints it as under java.
    const std::string reported = run_process({GetParam().java, "-cp", VELTA_TEST_JAR, "velta.test.Throws"}, {}).errors;
    const std::string handled = "handled in main: java.lang.IllegalStateException: thrown by velta.test.Handled\n";
    const struct {
        const char* section;
        int status;
        std::string printed;
        std::string errors;
    } cases[] = {
        {"mainclass=velta.test.Handled\n", 0, handled, ""},
        {"mainclass=velta.test.Handled\nmainargs=3\n", 3, handled, ""},
        {"mainclass=velta.test.Throws\n", 0, "", reported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section);
        const launch_result& result = run(c.section);
        EXPECT_EQ(result.process.status, c.status);
        EXPECT_EQ(result.process.output, c.printed);
        EXPECT_EQ(result.process.errors, c.errors);
    }
}

TEST_P(OnEveryJdk, SystemExitEndsTheProcessWithItsStatus)
{
    EXPECT_EQ(run("mainclass=velta.test.Exit\nmainargs=7\n").process.status, 7);
}

TEST_P(OnEveryJdk, DestroyWaitsForNonDaemonThreads)
{
    const launch_result& result = run("mainclass=velta.test.Linger\n");
    EXPECT_EQ(result.process.status, 0);
    EXPECT_EQ(out(), "lingered\n");
}

TEST_P(OnEveryJdk, TellsTheServiceManagerOnceMainReturnedOrThisProcessListens)
{
    scratch_folder scratch;
    uint16_t port = 0, others = 0;
    close(tcp_socket("::", &port, true, 0));
    const int held = tcp_socket("::", &others, true, 0);
    const std::string path = scratch.file("notify"), listens = "ready=port \t" + std::to_string(port) + "\n";
    const struct { const char* name; std::string keys, notify_socket; bool told; } cases[] = {
        {"main returned", "ready=main\n", path, true},
        {"main threw", "ready=main\nmainclass=velta.test.Throws\n", path, false},
        {"an IPv4 listener", listens + "options=v4\n", "@velta-ready-" + std::to_string(getpid()), true},
        {"a dual-stack listener", listens, path, true},
        {"another process's listener", "ready=port " + std::to_string(others) + "\n", path, false},
        {"no key", "", path, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(path);
        const int receiver = notify_receiver(c.notify_socket);
        setenv("NOTIFY_SOCKET", c.notify_socket.c_str(), 1);
        std::string told; // each datagram, and velta.out as it was when it came
        std::thread receiving([&] {
            char datagram[16];
            for (ssize_t got; (got = recv(receiver, datagram, sizeof datagram, 0)) > 0;)
                told += std::string(datagram, static_cast<size_t>(got)) + " after " + read_file(scratch.file("out"));
        });
        const launch_result& result = run(c.keys + "mainclass=velta.test.Linger\nmainargs=" + std::to_string(port)
                                              + "\nproperties=p\n", "[v4]\n-Xcheck:jni\n-Djava.net.preferIPv4Stack=true\n"
                                              "[p]\nvelta.out=" + scratch.file("out") + "\n");
        shutdown(receiver, SHUT_RD); // what came is still read, then recv returns 0
        receiving.join();
        close(receiver);
        EXPECT_EQ(result.process.status, 0);
        EXPECT_EQ(told, c.told ? "READY=1 after started\n" : "") << "before main returned, or after its thread ended";
    }
    unsetenv("NOTIFY_SOCKET");
    close(held);
}

TEST_P(OnEveryJdk, MainClassNamesLongerThan128BytesRun)
{
    const launch_result& result = run("mainclass=velta.test."
        "a_package_name_long_enough_to_push_the_fully_qualified_name_of_its_main_class_well_past_128_bytes_in_all"
        ".LongNamedMain\nmainargs=long\n");
    EXPECT_EQ(result.process.status, 0);
    EXPECT_EQ(result.logged, "");
    EXPECT_EQ(out().substr(0, 15), "count 1\n[long]\n");
}

TEST_P(OnEveryJdk, ThousandsOfArgumentsStayWithinTheLocalReferenceBudget)
{
    std::string arguments;
    for (int i = 0; i < 5000; ++i)
        arguments += "a" + std::to_string(i) + " ";
    const launch_result& result = run("mainclass=velta.test.Echo\nmainargs=" + arguments + "\n");
    EXPECT_EQ(result.process.status, 0);
    EXPECT_EQ(out().substr(0, 19), "count 5000\n[a0]\n[a1");
    EXPECT_NE(out().find("[a4999]\n"), std::string::npos);
}

TEST_P(OnEveryJdk, AnArgumentTheVmCannotHoldIsReportedAndMainNotCalled)
{
    // A 32 MB argument does not fit a 16 MB heap: its byte array fails with
    // an exception pending, and no JNI call may follow it.
    const launch_result& result = run("mainclass=velta.test.Echo\nfailstatus=3\noptions=small\nmainargs=first "
                                          + std::string(32 << 20, 'x') + " last\n",
                                      "[small]\n-Xcheck:jni\n-Xmx16m\n-XX:+UseSerialGC\n");
    EXPECT_EQ(result.process.status, 3);
    EXPECT_EQ(result.logged, "3 Error creating command arguments\n");
    EXPECT_EQ(out(), "");
}

TEST_P(OnEveryJdk, ClosedStandardDescriptorsAreNullDevicesNotTheVmsFiles)
{
    for (const int closed : {0, 1, 2}) {
        SCOPED_TRACE(closed);
        const launch_result& result = run("mainclass=velta.test.Descriptors\n", "", "", {closed});
        EXPECT_EQ(result.process.status, 0);
        EXPECT_EQ(out().substr(0, 5), "in -1");
        EXPECT_NE(out().find("fd " + std::to_string(closed) + " /dev/null\n"), std::string::npos) << out();
    }
}

// `command` run with its stack limited to `limit` (ulimit -s: KiB, or
// "unlimited").
std::vector<std::string> with_stack_limit(const std::string& limit, std::vector<std::string> command)
{
    command.insert(command.begin(), {"/bin/sh", "-c", "ulimit -s " + limit + " && exec \"$@\"", "sh"});
    return command;
}

TEST_P(OnEveryJdk, XssSizesMainsStackAsUnderTheJavaCommand)
{
    // -Xint makes the depth depend on the stack alone.
    scratch_folder scratch;
    const std::string config = scratch.file("depth.conf");
    write_file(config, "[java]\njvm=" + GetParam().libjvm + "\nmainclass=velta.test.Depth\n"
                       "[java.classpaths]\n" VELTA_TEST_JAR "\n[java.options]\n-Xcheck:jni\n-Xint\n-Xss32m\n");
    for (const char* limit : {"2048", "8192", "unlimited"}) {
        SCOPED_TRACE(limit);
        const process_result java = run_process(
            with_stack_limit(limit, {GetParam().java, "-Xcheck:jni", "-Xint", "-Xss32m", "-cp", VELTA_TEST_JAR, "velta.test.Depth"}), {});
        last = launch(with_stack_limit(limit, {VELTA_JAVA, "java", config}));
        ASSERT_EQ(last.process.status, 0) << last.process.errors;
        const double ratio = std::stod(last.process.output) / std::stod(java.output);
        EXPECT_GE(ratio, 0.95) << last.process.output << " against " << java.output;
        EXPECT_LE(ratio, 1.05) << last.process.output << " against " << java.output;
    }
}

TEST_P(OnEveryJdk, AVmThatCannotStartIsReported)
{
    // HotSpot refuses some options by its result, and ends the process
    // itself for others, with its reason on standard output.
    const struct {
        const char* options;
        const char* logged;
        const char* printed;
    } cases[] = {
        {"-Xno-such-option\n", "3 Error -1 creating java vm\n", ""},
        {"-XX:+NoSuchFlag\n", "3 Error -6 creating java vm\n", ""},
        {"-Xmx1k\n", "3 Java VM exited with status 1 while starting\n", "Too small maximum heap"},
        {"-Xss1m\n-Xmx1k\n", "3 Java VM exited with status 1 while starting\n", "Too small maximum heap"},
        // On a thread of 64 KiB the VM gets as far as refusing the size itself.
        {"-Xss1k\n", "3 Error -1 creating java vm\n", "The Java thread stack size specified is too small"},
        {"-XX:+UseSerialGC\n-XX:+UseG1GC\n", "3 Java VM exited with status 1 while starting\n",
         "Multiple garbage collectors selected"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const launch_result& result = run("options=bad\nfailstatus=7\n", std::string("[bad]\n") + c.options);
        EXPECT_EQ(result.process.status, 1);
        EXPECT_EQ(result.logged, c.logged);
        EXPECT_NE(result.process.output.find(c.printed), std::string::npos) << result.process.output;
    }
}

TEST_P(OnEveryJdk, TakesTheJdkFolderWildcardsAndSeparatorsAsWritten)
{
    // Before, the VM refused --add-opens:..., and -Dvelta.value:set set a
    // property named "velta.value:set".
    scratch_folder lib;
    std::filesystem::create_symlink(VELTA_TEST_JAR, lib.file("velta-test.jar"));
    write_file(lib.file("notes.txt"), "");
    const std::string& libjvm = GetParam().libjvm;
    const launch_result& result = run("mainclass=velta.test.Echo\nclasspaths=wildcard\noptions=written\n",
                                      "[wildcard]\n= /nonexistent.jar\n" + lib.path + "/*\n[written]\n-Xcheck:jni\n"
                                      "--add-opens=java.base/java.lang=ALL-UNNAMED\n-Dvelta.value = set\n",
                                      libjvm.substr(0, libjvm.rfind("/lib/server/libjvm.so")));
    EXPECT_EQ(result.process.status, 0);
    EXPECT_EQ(result.logged, "");
    EXPECT_EQ(out(), "count 0\njava.class.path " + lib.path + "/velta-test.jar\nvelta.flag \nvelta.value set\n");
}

// DIGEST.jsa: no temp archive is left.
bool is_archive_name(const std::string& name)
{
    return name.size() == 20 && name.find_first_not_of("0123456789abcdef") == 16 && name.substr(16) == ".jsa";
}

// The keys and sections of launches that share a class cache: their options
// are part of an archive's digest, so velta.out is the same file for each,
// and -Xlog:class+load shows where each class came from. "options=stack"
// and "classpaths=folders" before these keys override them.
struct cached_launches {
    scratch_folder scratch;
    std::string cache = scratch.file("cache");
    std::string keys = "classcache=" + cache + "\noptions=logged\nproperties=fixed\n";
    std::string sections = "[logged]\n-Xcheck:jni\n-Xlog:class+load\n[stack]\n-Xcheck:jni\n-Xlog:class+load\n-Xss4m\n"
                           "[folders]\n" VELTA_TEST_JAR "\n" + scratch.file("classes") + "\n[fixed]\nvelta.out="
                         + scratch.file("out") + "\n";
    std::string out() const { return read_file(scratch.file("out")); }
};

const std::string from_archive = " source: shared objects file (top)";

TEST_P(OnEveryJdk, ClassCacheMapsTheSecondLaunchFromAnArchiveWrittenUnderATempName)
{
    const cached_launches cached;
    const std::string& cache = cached.cache;
    const std::string shared = cached.scratch.file("shared");
    ASSERT_TRUE(mkdir(shared.c_str(), 0) == 0 && chmod(shared.c_str(), 0770) == 0);
    std::filesystem::create_directories(cached.scratch.file("classes/velta"));
    const std::string refused = "3 Not using class cache ";
    const struct {
        std::string main_class;
        std::string keys;
        int status;
        std::string logged;
        bool kept; // main ran: the archive is kept
    } cases[] = {
        {"velta.test.CacheProbe", "", 0, "", true},
        {"velta.test.Exit", "mainargs=7\n", 7, "", true}, // System.exit: the archive is renamed at exit()
        {"velta.test.Echo", "options=stack\n", 0, "", true}, // the launch on a thread of its own
        {"velta.test.Missing", "failstatus=3\n", 3, "3 Unable to find main class velta.test.Missing\n", false},
        {"velta.test.Echo", "classcache=" + shared + "\n", 0, refused + shared + ": writable by group or others\n", false},
        {"velta.test.Echo", "classpaths=folders\n", 0,
         refused + cache + ": the class path holds the folder " + cached.scratch.file("classes") + ", which is not empty\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.main_class + " " + c.keys);
        const std::string section = "mainclass=" + c.main_class + "\n" + c.keys + cached.keys;
        const std::vector<std::string> before = names_in(cache);
        const launch_result& first = run(section, cached.sections);
        EXPECT_EQ(first.process.status, c.status);
        EXPECT_EQ(first.logged, c.logged);
        EXPECT_EQ(first.process.output.find("(top)"), std::string::npos);
        struct stat folder;
        ASSERT_EQ(stat(cache.c_str(), &folder), 0);
        EXPECT_EQ(folder.st_mode & 07777, 0700u);
        std::vector<std::string> added;
        for (const std::string& name : names_in(cache)) {
            EXPECT_TRUE(is_archive_name(name)) << name;
            if (std::find(before.begin(), before.end(), name) == before.end())
                added.push_back(name);
        }
        ASSERT_EQ(added.size(), c.kept ? 1u : 0u);
        if (!c.kept)
            continue;
        const std::string archive = cache + "/" + added[0];
        const std::string probed = cached.out();
        const launch_result& second = run(section, cached.sections);
        EXPECT_EQ(second.process.status, c.status);
        EXPECT_NE(second.process.output.find(c.main_class + from_archive), std::string::npos);
        if (c.main_class != "velta.test.CacheProbe")
            continue;
        // While main ran, the VM was to write under a name of its process's
        // own, and nothing was at the archive's name.
        const std::string pid = probed.substr(4, probed.find('\n') - 4);
        EXPECT_EQ(probed, "pid " + pid + "\n-Xlog:cds=off,cds+dynamic=off\n-XX:ArchiveClassesAtExit="
                              + archive.substr(0, archive.size() - 4) + "." + pid + ".tmp\nholds \n");
        EXPECT_EQ(cached.out().substr(cached.out().find('\n')),
                  "\n-Xlog:cds=off,cds+dynamic=off\n-XX:SharedArchiveFile=" + archive + "\nholds " + added[0] + "\n");

        // Another class path is another archive.
        run(section + "classpaths=alone\n", cached.sections + "[alone]\n" VELTA_TEST_JAR "\n");
        EXPECT_EQ(cached.out().find("-XX:SharedArchiveFile"), std::string::npos) << cached.out();
        EXPECT_EQ(names_in(cache).size(), before.size() + 2);
    }
}

TEST_P(OnEveryJdk, ClassCacheTakesTwoLaunchesAtOnceAndNeverMapsATruncatedArchive)
{
    const cached_launches cached;
    const std::string section = "mainclass=velta.test.Echo\nmainargs=x\n" + cached.keys;
    std::unique_ptr<java_launch> at_once[2];
    const std::vector<int> none;
    std::thread other([&] { at_once[1] = std::make_unique<java_launch>(GetParam().libjvm, section, cached.sections, none); });
    at_once[0] = std::make_unique<java_launch>(GetParam().libjvm, section, cached.sections, none);
    other.join();
    EXPECT_EQ(at_once[0]->result.process.status + at_once[1]->result.process.status, 0);
    EXPECT_EQ(at_once[0]->result.logged + at_once[1]->result.logged, "");
    const std::vector<std::string> names = names_in(cached.cache);
    ASSERT_EQ(names.size(), 1u);
    ASSERT_TRUE(is_archive_name(names[0])) << names[0];
    EXPECT_NE(run(section, cached.sections).process.output.find("velta.test.Echo" + from_archive), std::string::npos);

    // Cut short after its header, as a full disk or a copy cut short leaves
    // it: JDK 17 maps such a file and dies of SIGBUS. Later JDKs check the
    // length themselves and start without the archive.
    const std::string archive = cached.cache + "/" + names[0];
    const auto whole_size = std::filesystem::file_size(archive);
    std::filesystem::resize_file(archive, 60000);
    std::filesystem::remove(cached.scratch.file("out"));
    const launch_result& cut = run(section, cached.sections);
    EXPECT_EQ(cut.process.status, 0);
    EXPECT_EQ(cached.out().substr(0, 12), "count 1\n[x]\n");
    EXPECT_EQ(cut.process.output.find("(top)"), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(archive), GetParam().major == 17 ? whole_size : 60000);
}

INSTANTIATE_TEST_SUITE_P(Jdk, OnEveryJdk, testing::ValuesIn(installed_jdks()),
                         [](const testing::TestParamInfo<jdk>& param) { return param.param.name; });

TEST(StandInVm, ReceivesTheConfiguredOptionsExactly)
{
    scratch_folder scratch;
    write_file(scratch.file("c.conf"), "[app]\njvm=" VELTA_FAKE_JVM "\nproperties=props\n"
                                       "[java.classpaths]\nx\ny\nz = w\n[java.options]\n-Xmx64m\n-Xbootclasspath/a:/b\n"
                                       "[props]\nk = v\nflag\n");
    const launch_result result = launch({VELTA_JAVA, "app", scratch.file("c.conf")},
                                        {{"VELTA_FAKE_JVM_RECORD", scratch.file("vm")}, {"VELTA_FAKE_JVM_RESULT", "-3"}});
    EXPECT_EQ(result.process.status, 1);
    EXPECT_EQ(result.logged, "3 Error -3 creating java vm\n");
    EXPECT_EQ(read_file(scratch.file("vm")),
              "version 0x00010002\nignoreUnrecognized 0\nnOptions 5\n"
              "option -Djava.class.path=x:y:z=w\noption -Xmx64m\noption -Xbootclasspath/a:/b\n"
              "option -Dk=v\noption -Dflag\n");
}

TEST(StandInVm, LauncherFailuresBeforeTheVmAreLoggedNotPrinted)
{
    scratch_folder scratch;
    write_file(scratch.file("none.conf"), "[java]\njvm=" VELTA_NO_CREATE_VM "\n");
    write_file(scratch.file("empty.conf"), "");
    const struct {
        std::vector<std::string> arguments;
        std::string logged;
    } cases[] = {
        {{VELTA_JAVA, "java", scratch.file("none.conf")}, "3 Unable to find CreateJavaVM\n"},
        {{VELTA_JAVA, "java", scratch.file("empty.conf")}, "3 Unable to read JVM configuration from " + scratch.file("empty.conf") + "\n"},
        {{VELTA_JAVA, "java", scratch.path}, "3 Unable to read JVM configuration from " + scratch.path + "\n"},
        {{VELTA_JAVA, "java", "/nonexistent"}, "3 Unable to read JVM configuration from /nonexistent\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        const launch_result result = launch(c.arguments);
        EXPECT_EQ(result.process.status, 1);
        EXPECT_EQ(result.logged, c.logged);
        EXPECT_EQ(result.process.output + result.process.errors, "");
    }
}

// Where no system log listens, as in most containers, messages go to
// standard error instead of being lost; where one listens, only to it.
TEST(SystemLog, MessagesReachTheSystemLogOrElseStandardError)
{
    scratch_folder scratch;
    write_file(scratch.file("c.conf"), "[java]\njvm=/nonexistent/libjvm.so\n");
    const std::vector<std::string> velta_java = {VELTA_JAVA, "java", scratch.file("c.conf")};
    std::vector<std::string> listening = {VELTA_SYSTEM_LOG, "listen", scratch.file("log")};
    listening.insert(listening.end(), velta_java.begin(), velta_java.end());
    std::vector<std::string> absent = {VELTA_SYSTEM_LOG, "absent"};
    absent.insert(absent.end(), velta_java.begin(), velta_java.end());

    const process_result with_log = run_process(listening, {});
    if (with_log.status == 77)
        GTEST_SKIP() << "no mount namespace here (it needs root) to stand a system log in";
    EXPECT_EQ(with_log.status, 1);
    EXPECT_EQ(with_log.errors, "");
    const std::string logged = read_file(scratch.file("log"));
    EXPECT_EQ(logged.substr(0, 4), "<11>") << logged;
    EXPECT_NE(logged.find(" velta-java: Error loading JVM /nonexistent/libjvm.so\n"), std::string::npos) << logged;

    const process_result without_log = run_process(absent, {});
    EXPECT_EQ(without_log.status, 1);
    EXPECT_EQ(without_log.errors, "velta-java: Error loading JVM /nonexistent/libjvm.so\n");
    EXPECT_EQ(without_log.output, "");
}

TEST(Program, HelpAndVersionArePrintedNotTakenAsSections)
{
    const struct {
        const char* program;
        const char* option;
        const char* printed;
    } cases[] = {
        {VELTA_JAVA, "--help", "Usage: velta-java [SECTION [CONFIG-FILE]]\n"},
        {VELTA_JAVA, "--version", "velta-java " VELTA_VERSION "\n"},
        {VELTA_JAVA_CHECK, "--version", "velta-java-check " VELTA_VERSION "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const launch_result result = launch({c.program, c.option, "/nonexistent.conf"});
        EXPECT_EQ(result.process.status, 0);
        EXPECT_EQ(result.process.output.substr(0, std::strlen(c.printed)), c.printed);
        EXPECT_EQ(result.logged + result.process.errors, "");
        // Output that cannot be written is an error, not silence.
        const process_result full = run_process({"/bin/sh", "-c", std::string(c.program) + " " + c.option + " >/dev/full"}, {});
        EXPECT_EQ(full.status, 1);
        EXPECT_NE(full.errors.find("cannot write to standard output"), std::string::npos) << full.errors;
    }
}

TEST(StandInVm, PassedArgumentsAndExpandedValuesReachTheVmAndMainUnchanged)
{
    scratch_folder scratch;
    write_file(scratch.file("c.conf"), "[app]\njvm=${VELTA_TEST_JVM}\nexpand=yes\npassargs=yes\nmainclass=app.Main$Inner\n"
                                       "mainargs=${CONFDIR} $${HOME}\n[java.classpaths]\n${CONFDIR}/lib/*\n");
    std::filesystem::create_directories(scratch.file("lib"));
    write_file(scratch.file("lib/a.jar"), "");
    const std::map<std::string, std::string> environment = {
        {"VELTA_TEST_JVM", VELTA_FAKE_JVM}, {"VELTA_FAKE_JVM_RECORD", scratch.file("vm")},
        {"VELTA_FAKE_JVM_RESULT", "0"}, {"VELTA_FAKE_JVM_CLASS", "app/Main$Inner"}};
    // A relative configuration path is taken from the working folder.
    const struct {
        const char* working_folder;
        std::string config;
        std::string folder;
    } cases[] = {
        {"", scratch.file("c.conf"), scratch.path},
        {"/", scratch.file("c.conf").substr(1), scratch.path},
        {scratch.path.c_str(), ".//c.conf", scratch.path + "/."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        std::filesystem::remove(scratch.file("vm"));
        const launch_result result = launch({VELTA_JAVA, "app", c.config, "two words", "", "${HOME}"}, environment,
                                            c.working_folder);
        EXPECT_EQ(result.process.status, 0);
        EXPECT_EQ(result.logged, "");
        const std::string record = read_file(scratch.file("vm"));
        const std::string creation = "version 0x00010002\nignoreUnrecognized 0\nnOptions 1\noption -Djava.class.path="
                                   + c.folder + "/lib/a.jar\nFindClass app/Main$Inner\n";
        EXPECT_EQ(record.substr(0, creation.size()), creation);
        EXPECT_NE(record.find("CallStaticVoidMethod 5\nargument " + c.folder + "\nargument ${HOME}\n"
                              "argument two words\nargument \nargument ${HOME}\n"),
                  std::string::npos) << record;
    }
}

TEST(StandInVm, WrongSettingsAndUndefinedVariablesEndTheRunBeforeTheVm)
{
    scratch_folder scratch;
    struct setting_case { std::string section, logged; };
    std::vector<setting_case> cases = {
        {"passargs=maybe\n", "3 Invalid value maybe for passargs\n"},
        {"passargs\n", "3 Invalid value  for passargs\n"},
        {"expand=true\n", "3 Invalid value true for expand\n"},
        {"expand=NO\n", "3 Invalid value NO for expand\n"},
        {"expand=yes\nmainclass=${VELTA_UNSET}.Main\n", "3 Undefined variable VELTA_UNSET\n"},
        {"expand=yes\n[java.options]\n-Xmx1m\n-Xss${VELTA_UNSET_TOO}\n", "3 Undefined variable VELTA_UNSET_TOO\n"},
    };
    for (const std::string value : {"", "port", "port 0", "port 65536", "port 08080", "port8080", "Main"})
        cases.push_back({"ready=" + value + "\n", "3 Invalid value " + value + " for ready\n"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section);
        write_file(scratch.file("c.conf"), "[java]\njvm=" VELTA_FAKE_JVM "\n" + c.section);
        const launch_result result = launch({VELTA_JAVA, "java", scratch.file("c.conf")},
                                            {{"VELTA_FAKE_JVM_RECORD", scratch.file("vm")}});
        EXPECT_EQ(result.process.status, 1);
        EXPECT_EQ(result.logged, c.logged);
        EXPECT_EQ(read_file(scratch.file("vm")), "") << "the VM was created";
    }
}

// velta-java-test-sysconfig reads its system configuration from
// VELTA_TEST_SYSTEM_CONFIG, which these tests write and remove.
class SystemConfiguration : public testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(VELTA_TEST_SYSTEM_CONFIG); }
};

TEST_F(SystemConfiguration, IsUsedWhenNoFileIsNamed)
{
    scratch_folder scratch;
    write_file(VELTA_TEST_SYSTEM_CONFIG, "[java]\njvm=" VELTA_FAKE_JVM "\n[java.options]\n-Xjava\n"
                                         "[app]\njvm=" VELTA_FAKE_JVM "\nproperties=app.properties\nexpand=yes\n"
                                         "[app.properties]\nfolder=${CONFDIR}\n");
    const std::string folder = std::filesystem::path(VELTA_TEST_SYSTEM_CONFIG).parent_path();
    const struct {
        std::vector<std::string> arguments;
        std::string option;
    } cases[] = {
        {{VELTA_JAVA_SYSCONFIG}, "option -Xjava\n"},
        {{VELTA_JAVA_SYSCONFIG, "app"}, "option -Dfolder=" + folder + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        std::filesystem::remove(scratch.file("vm"));
        const launch_result result = launch(c.arguments, {{"VELTA_FAKE_JVM_RECORD", scratch.file("vm")}});
        EXPECT_EQ(result.logged, "3 Error -1 creating java vm\n");
        EXPECT_NE(read_file(scratch.file("vm")).find(c.option), std::string::npos);
    }
}

TEST_F(SystemConfiguration, MissingFileMeansEveryDefault)
{
    const launch_result result = launch({VELTA_JAVA_SYSCONFIG});
    EXPECT_EQ(result.process.status, 1);
    EXPECT_EQ(result.logged, "3 Error loading JVM jvm.dll\n");
}

} // namespace
