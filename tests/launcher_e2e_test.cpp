// SPDX-License-Identifier: Apache-2.0
// The real velta-java binary on generated configurations: against every JDK
// under /usr/lib/jvm with -Xcheck:jni, and against stand-in VM libraries.
// What the launcher logged is captured by the syslog stand-in preloaded into
// it.
#include "tests/support/jdks.h"
#include "tests/support/run_process.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

// A launch of velta-java on one configuration, in a scratch folder that also
// receives what the Java side writes to the file ${out}. It runs in the
// folder of the test classes, so that a class taken from the working folder
// shows, with a variable whose value holds quotes and spaces.
struct java_launch {
    scratch_folder scratch;
    launch_result result;
    std::string out;

    java_launch(const std::string& libjvm, const std::string& launcher_section, const std::string& extra_sections,
                const std::vector<int>& closed, const std::map<std::string, std::string>& environment = {},
                const std::vector<std::string>& wrapper = {})
    {
        out = scratch.file("out");
        const std::string config = scratch.file("launcher.conf");
        write_file(config, "[java]\njvm=" + libjvm + "\n" + launcher_section
                               + "[java.classpaths]\n" VELTA_TEST_JAR "\n/nonexistent/dir\n"
                               + "[java.options]\n-Xcheck:jni\n-Xshare:auto\n"
                               + "[java.properties]\nvelta.out=" + out + "\nfile.encoding=UTF-8\nvelta.flag\n"
                               + extra_sections);
        std::vector<std::string> command = wrapper;
        command.insert(command.end(), {VELTA_JAVA, "java", config});
        std::map<std::string, std::string> variables = environment;
        variables.emplace("VELTA_TEST_INJECTED", "bob\" --mode \"admin");
        result = launch(command, variables, VELTA_TEST_CLASSES, closed);
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
    // `closed` is closed for velta-java, which runs with `environment` added,
    // under the command `wrapper` when it is not empty.
    launch_result& run(const std::string& launcher_section, const std::string& extra_sections = "",
                       const std::string& jvm = "", const std::vector<int>& closed = {},
                       const std::map<std::string, std::string>& environment = {},
                       const std::vector<std::string>& wrapper = {})
    {
        launches.push_back(std::make_unique<java_launch>(jvm.empty() ? GetParam().libjvm : jvm, launcher_section,
                                                         extra_sections, closed, environment, wrapper));
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
    const struct {
        const char* section;
        const char* arguments;
    } cases[] = {
        {"mainargs= alpha \"beta gamma\"  'delta' \xc3\xbcn\xc3\xaf \"\" 'it\"s'\n",
         "count 6\n[alpha]\n[beta gamma]\n[delta]\n[\xc3\xbcn\xc3\xaf]\n[]\n[it\"s]\n"},
        // A value lands inside the argument it is written in.
        {"expand=yes\nmainargs=--user \"${VELTA_TEST_INJECTED}\" --mode safe x${VELTA_TEST_INJECTED} $${HOME}\n",
         "count 6\n[--user]\n[bob\" --mode \"admin]\n[--mode]\n[safe]\n[xbob\" --mode \"admin]\n[${HOME}]\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section);
        const launch_result& result = run(std::string("mainclass=velta.test.Echo\n") + c.section);
        EXPECT_EQ(result.process.status, 0);
        EXPECT_EQ(result.logged, "");
        EXPECT_EQ(result.process.output, "");
        EXPECT_EQ(result.process.errors, "");
        EXPECT_EQ(out(), std::string(c.arguments)
                             + "java.class.path " VELTA_TEST_JAR ":/nonexistent/dir\nvelta.flag \nvelta.value null\n");
    }
}

TEST_P(OnEveryJdk, EmptyArgumentsGiveAnEmptyArray)
{
    const launch_result& result = run("mainclass=velta.test.Echo\nmainargs\n");
    EXPECT_EQ(result.process.status, 0);
    EXPECT_EQ(out().substr(0, 8), "count 0\n");
}

// A class file of `name` extending `super_name`, without members, of class-file version `major`.
std::string class_file(const std::string& name, const std::string& super_name = "java/lang/Object", size_t major = 61)
{
    const auto u2 = [](size_t value) { return std::string{static_cast<char>(value >> 8), static_cast<char>(value)}; };
    return "\xCA\xFE\xBA\xBE" + u2(0) + u2(major) + u2(5) + "\x07" + u2(2) + "\x01" + u2(name.size()) + name + "\x07"
         + u2(4) + "\x01" + u2(super_name.size()) + super_name + u2(0x21) + u2(1) + u2(3) + std::string(8, '\0');
}

TEST_P(OnEveryJdk, MainClassFailuresAreReportedAndEndWithTheFailStatus)
{
    // Classes that exist but cannot be loaded, on the class path "crafted".
    scratch_folder crafted;
    std::filesystem::create_directories(crafted.file("velta/test"));
    write_file(crafted.file("velta/test/Newer.class"), class_file("velta/test/Newer", "java/lang/Object", 99));
    write_file(crafted.file("velta/test/Orphan.class"), class_file("velta/test/Orphan", "velta/test/Absent", 52));
    write_file(crafted.file("velta/test/Broken.class"), "\xCA\xFE\xBA\xBE");
    const std::string newer = "java.lang.UnsupportedClassVersionError: velta/test/Newer has been compiled by a more recent version of the "
        "Java Runtime (class file version 99.0), this version of the Java Runtime only recognizes class file versions up to "
        + std::to_string(GetParam().major + 44) + ".0";
    const struct {
        std::string section;
        std::string logged;
        std::string described; // by the VM, on standard error
        int status;
    } cases[] = {
        {"mainclass=velta.test.Newer\nclasspaths=crafted\nfailstatus=5\n",
         "3 Unable to load main class velta.test.Newer: " + newer + "\n", "Exception in thread \"main\" " + newer, 5},
        {"mainclass=velta.test.Orphan\nclasspaths=crafted\n", "3 Unable to load main class velta.test.Orphan: "
         "java.lang.NoClassDefFoundError: velta/test/Absent\n", "java.lang.NoClassDefFoundError: velta/test/Absent\n", 0},
        {"mainclass=velta.test.Broken\nclasspaths=crafted\n", "3 Unable to load main class velta.test.Broken: "
         "java.lang.ClassFormatError: Truncated class file\n", "java.lang.ClassFormatError: Truncated class file\n", 0},
        {"mainclass=velta.test.ThrowingInitializer\n", "3 Unable to load main class velta.test.ThrowingInitializer: java.lang."
         "NumberFormatException: For input string: \"not a number\"\n", "ExceptionInInitializerError\nCaused by: java.lang.Number", 0},
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
        // Entries that all vanish (the working folder holds no jar) are not
        // the working folder, which holds the class.
        {"mainclass=velta.test.Echo\nfailstatus=5\nclasspaths=vanishing\n[vanishing]\n*\n/nonexistent/*\n= " VELTA_TEST_JAR "\n",
         "3 Unable to find main class velta.test.Echo\n", "", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section);
        const launch_result& result = run(c.section, "[crafted]\n" + crafted.path + "\n");
        EXPECT_EQ(result.process.status, c.status);
        EXPECT_EQ(result.logged, c.logged);
        EXPECT_EQ(result.process.output, "");
        EXPECT_NE(result.process.errors.find(c.described), std::string::npos) << result.process.errors.substr(0, 400);
        EXPECT_TRUE(c.logged.rfind("3 Unable to find", 0) != 0 || result.process.errors.empty())
            << "the stack trace of a missing class, only the VM's own frames: " << result.process.errors;
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
    // -Xint makes the depth depend on the stack alone. Without a size, or
    // with 0, main's stack is the VM's default, whatever the process's limit.
    scratch_folder scratch;
    const std::string config = scratch.file("depth.conf");
    for (const char* limit : {"64", "8192", "unlimited"}) {
        for (const std::vector<std::string>& size : {std::vector<std::string>{}, {"-Xss16m"}, {"-Xss0"}}) {
            SCOPED_TRACE(limit + (size.empty() ? "" : " " + size[0]));
            write_file(config, "[java]\njvm=" + GetParam().libjvm + "\nmainclass=velta.test.Depth\n[java.classpaths]\n"
                               VELTA_TEST_JAR "\n[java.options]\n-Xcheck:jni\n-Xint\n" + (size.empty() ? "" : size[0] + "\n"));
            std::vector<std::string> java_command = {GetParam().java, "-Xcheck:jni", "-Xint"};
            java_command.insert(java_command.end(), size.begin(), size.end());
            java_command.insert(java_command.end(), {"-cp", VELTA_TEST_JAR, "velta.test.Depth"});
            const process_result java = run_process(with_stack_limit(limit, java_command), {});
            last = launch(with_stack_limit(limit, {VELTA_JAVA, "java", config}));
            ASSERT_EQ(last.process.status, 0) << last.process.errors;
            const double ratio = std::stod(last.process.output) / std::stod(java.output);
            EXPECT_GE(ratio, 0.95) << last.process.output << " against " << java.output;
            EXPECT_LE(ratio, 1.05) << last.process.output << " against " << java.output;
        }
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
    // The VM would split it, and read "lon.jar" in the working folder.
    std::filesystem::create_symlink(VELTA_TEST_JAR, lib.file("co:lon.jar"));
    const std::string& libjvm = GetParam().libjvm;
    const launch_result& result = run("mainclass=velta.test.Echo\nclasspaths=wildcard\noptions=written\n",
                                      "[wildcard]\n= /nonexistent.jar\n" + lib.path + "/*\n[written]\n-Xcheck:jni\n"
                                      "--add-opens=java.base/java.lang=ALL-UNNAMED\n-Dvelta.value = set\n",
                                      libjvm.substr(0, libjvm.rfind("/lib/server/libjvm.so")));
    EXPECT_EQ(result.process.status, 0);
    EXPECT_EQ(result.logged, "");
    EXPECT_EQ(out(), "count 0\njava.class.path " + lib.path + "/velta-test.jar\nvelta.flag \nvelta.value set\n");
}

// DIGEST.jsa or DIGEST.aot: no temp archive is left.
bool is_archive_name(const std::string& name)
{
    return name.size() == 20 && name.find_first_not_of("0123456789abcdef") == 16
        && (name.substr(16) == ".jsa" || name.substr(16) == ".aot");
}

// The files of a cache folder but the sums kept beside its archives, once no
// temporary file is left in it: the maker of an AOT cache works on after the
// launch that recorded it.
std::vector<std::string> archives_in(const std::string& folder)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    std::vector<std::string> names = names_in(folder);
    while (std::any_of(names.begin(), names.end(), [](const std::string& name) { return name.ends_with(".tmp"); })
           && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        names = names_in(folder);
    }
    std::erase_if(names, [](const std::string& name) { return name.ends_with(".sum"); });
    return names;
}

// The keys and sections of launches that share a class cache: their options
// are part of an archive's digest, so velta.out is the same file for each,
// and -Xlog:class+load shows where each class came from. "options=stack"
// and "classpaths=folders" before these keys override them.
struct cached_launches {
    scratch_folder scratch;
    std::string cache = scratch.file("home/.cache/velta"); // made as mkdir -p makes it
    std::string keys = "classcache=" + cache + "\noptions=logged\nproperties=fixed\n";
    std::string sections = "[logged]\n-Xcheck:jni\n-Xlog:class+load\n[stack]\n-Xcheck:jni\n-Xlog:class+load\n-Xss4m\n"
                           "[folders]\n" VELTA_TEST_JAR "\n" + scratch.file("classes") + "\n[fixed]\nvelta.out="
                         + scratch.file("out") + "\n";
    std::string out() const { return read_file(scratch.file("out")); }
};

// A class loaded from a dynamic archive ("... (top)") or an AOT cache.
const std::string from_archive = " source: shared objects file";

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
        const std::vector<std::string> before = archives_in(cache);
        const launch_result& first = run(section, cached.sections);
        EXPECT_EQ(first.process.status, c.status);
        EXPECT_EQ(first.logged, c.logged);
        EXPECT_EQ(first.process.output.find(c.main_class + from_archive), std::string::npos);
        struct stat folder;
        ASSERT_EQ(stat(cache.c_str(), &folder), 0);
        EXPECT_EQ(folder.st_mode & 07777, 0700u);
        std::vector<std::string> added;
        for (const std::string& name : archives_in(cache)) {
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
        // The VM wrote or recorded into memory, and maps the very file that
        // was checked; what another process would find at the paths is none
        // of its own files.
        const bool aot = GetParam().major >= 25;
        EXPECT_EQ(probed, aot ? "-Xlog:aot*=off,cds*=off\n-XX:AOTMode=record\n-XX:AOTConfiguration=/proc/self/task/PID/fd/N\n"
                              : "-Xlog:cds=off,cds+dynamic=off\n-XX:ArchiveClassesAtExit=/proc/PID/fd/N\n");
        EXPECT_EQ(cached.out(), (aot ? "-Xlog:aot*=off,cds*=off\n-XX:AOTMode=auto\n-XX:AOTCache=/proc/self/task/PID/fd/N\n"
                                     : "-Xlog:cds=off,cds+dynamic=off\n-XX:SharedArchiveFile=/proc/self/task/PID/fd/N\n")
                                    + ("maps " + archive + " of " + getpwuid(geteuid())->pw_name + "\n"));

        // Another class path, a jar rebuilt, or one a manifest names rebuilt
        // is another cache, which holds the classes the program finds now.
        const std::string app = cached.scratch.file("app.jar"), lib = cached.scratch.file("lib.jar");
        const auto jar = [](const std::string& path, const std::string& manifest, const std::string& name) {
            write_file(path, zip({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n" + manifest}, {name + ".class", class_file(name)}}));
        };
        jar(app, "Class-Path: lib.jar\n", "velta/gen/One");
        jar(lib, "", "velta/gen/Lib1");
        const std::string probing = section + "mainargs=classes velta.gen.One velta.gen.Two velta.gen.Lib1 velta.gen.Lib2\n";
        const std::string sections = cached.sections + "[app]\n" VELTA_TEST_JAR "\n" + app + "\n";
        const struct {
            const char* name;
            std::function<void()> change;
            std::string keys;
            const char* found;
        } changes[] = {
            {"another class path", [] {}, "classpaths=app\n", "One found\nvelta.gen.Two missing\nvelta.gen.Lib1 found"},
            {"the jar rebuilt", [&] { jar(app, "Class-Path: lib.jar\n", "velta/gen/Two"); }, "classpaths=app\n",
             "One missing\nvelta.gen.Two found\nvelta.gen.Lib1 found"},
            {"a jar its manifest names rebuilt", [&] { jar(lib, "", "velta/gen/Lib2"); }, "classpaths=app\n",
             "One missing\nvelta.gen.Two found\nvelta.gen.Lib1 missing\nvelta.gen.Lib2 found"},
        };
        for (const auto& change : changes) {
            SCOPED_TRACE(change.name);
            const size_t caches = archives_in(cache).size();
            change.change();
            for (int mapped = 0; mapped < 2; ++mapped) {
                const launch_result& probe = run(probing + change.keys, sections);
                EXPECT_EQ(archives_in(cache).size(), caches + 1);
                EXPECT_NE(cached.out().find("velta.gen." + std::string(change.found) + "\n"), std::string::npos) << cached.out();
                EXPECT_EQ(probe.process.output.find("velta.test.CacheProbe" + from_archive) != std::string::npos, mapped == 1);
            }
        }
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
    const std::vector<std::string> names = archives_in(cached.cache);
    ASSERT_EQ(names.size(), 1u);
    ASSERT_TRUE(is_archive_name(names[0])) << names[0];
    EXPECT_NE(run(section, cached.sections).process.output.find("velta.test.Echo" + from_archive), std::string::npos);

    // Cut short after its header, as a full disk or a copy cut short leaves
    // it: JDK 17 maps such a file and dies of SIGBUS. Later JDKs check the
    // length themselves and start without the archive.
    const std::string archive = cached.cache + "/" + names[0];
    std::filesystem::resize_file(archive, 60000);
    std::filesystem::remove(cached.scratch.file("out"));
    const launch_result& cut = run(section, cached.sections);
    EXPECT_EQ(cut.process.status, 0);
    EXPECT_EQ(cached.out().substr(0, 12), "count 1\n[x]\n");
    EXPECT_EQ(cut.process.output.find("velta.test.Echo" + from_archive), std::string::npos);
    // Its bytes no longer sum to what was kept: it is never handed to the
    // VM, and is written anew at once (an AOT cache need not be as long).
    EXPECT_EQ(archives_in(cached.cache), names);
    EXPECT_GT(std::filesystem::file_size(archive), 60000u);
    EXPECT_NE(run(section, cached.sections).process.output.find("velta.test.Echo" + from_archive), std::string::npos);

    // Changed bytes would crash the VM that maps them, or load broken
    // classes: the next launch runs without them and writes the archive
    // anew, and the one after that maps it.
    std::string bytes = read_file(archive);
    for (size_t at = 8192; at < bytes.size(); at += 4099)
        bytes[at] = static_cast<char>(~bytes[at]);
    write_file(archive, bytes);
    std::filesystem::remove(cached.scratch.file("out"));
    EXPECT_EQ(run(section, cached.sections).process.status, 0);
    EXPECT_EQ(cached.out().substr(0, 12), "count 1\n[x]\n");
    EXPECT_EQ(archives_in(cached.cache), names);
    EXPECT_NE(run(section, cached.sections).process.output.find("velta.test.Echo" + from_archive), std::string::npos);
}

TEST_P(OnEveryJdk, ClassCacheNeverChangesHowTheProgramEndsOrWhatItPrints)
{
    const cached_launches cached;
    const std::string& cache = cached.cache;
    const std::string refused = "3 Not using class cache " + cache + ": ", kept = "3 Not keeping class cache archive in " + cache + ": ";
    std::string deep = cached.scratch.path;
    while (deep.size() < 2000)
        deep += "/" + std::string(200, 'd');
    std::filesystem::create_directories(deep += "/cache");
    std::filesystem::create_directories(cached.scratch.file("many"));
    for (int i = 0; i < 300; ++i)
        std::filesystem::create_symlink(VELTA_TEST_JAR, cached.scratch.file("many/" + std::to_string(i) + ".jar"));
    // A file that a java command the program starts holds open for writing.
    const std::string victim = cached.scratch.file("victim");
    write_file(victim, "kept\n");
    // The folder is a file system of 64 KiB, which the archive does not fit.
    const std::vector<std::string> full = {"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                                           "mount -t tmpfs -o size=64k,mode=0700 none \"$0\" && exec \"$@\"", cache};
    const struct {
        const char* name;
        std::string folder;
        std::string arguments; // of velta.test.CacheProbe
        std::string keys;
        std::map<std::string, std::string> environment;
        std::vector<std::string> wrapper;
        std::string logged; // with the cache
        bool maps;          // the next launch maps the archive
    } cases[] = {
        {"System.exit, the file system full", cache, "exit 3", "", {}, full, kept + "No space left on device\n", false},
        {"SIGTERM, the file system full", cache, "terminate", "", {}, full, kept + "No space left on device\n", false},
        {"the folder removed while main runs", cache, "remove " + cache, "", {}, {}, kept + "No such file or directory\n", false},
        {"a folder path of 2,000 bytes", deep, "", "", {}, {}, "", true},
        {"a folder named with \":\"", cached.scratch.file("a:b"), "", "", {}, {}, "", true},
        {"java started with the program's input arguments", cache, "relaunch " + victim, "", {}, {}, "", true},
        {"-Xshare:off in JAVA_TOOL_OPTIONS", cache, "", "", {{"JAVA_TOOL_OPTIONS", "-Xshare:off"}}, {},
         refused + "the option -Xshare:off in JAVA_TOOL_OPTIONS sets class-data sharing itself\n", false},
        {"300 jars and 256 files", cache, "", "classpaths=many\n", {}, {"/bin/sh", "-c", "ulimit -n 256 && exec \"$@\"", "sh"},
         refused + "the class path has 301 entries, and a VM that writes an archive keeps each open, more than half "
                   "of the 256 files this process may open\n", false},
    };
    const std::string sections =
        cached.sections + "[plain]\n-Xcheck:jni\n[many]\n" VELTA_TEST_JAR "\n" + cached.scratch.file("many") + "/*\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.wrapper == full && geteuid() != 0)
            continue; // only root may mount
        // Without the VM's class-loading log, which tells the two apart.
        const std::string section = "mainclass=velta.test.CacheProbe\nmainargs=" + c.arguments + "\n" + c.keys + "options=plain\n";
        std::filesystem::create_directories(cache);
        const launch_result without = run(section + cached.keys.substr(cached.keys.find('\n') + 1), sections, "", {},
                                          c.environment, c.wrapper);
        for (int round = 0; round < 2; ++round) {
            std::filesystem::create_directories(cache);
            const launch_result& with = run(section + "classcache=" + c.folder + "\n" + cached.keys, sections, "", {},
                                            c.environment, c.wrapper);
            EXPECT_EQ(with.process.status, without.process.status);
            EXPECT_EQ(with.process.output, without.process.output);
            EXPECT_EQ(with.process.errors, without.process.errors);
            // An AOT cache is made, and what fails there logged, after the launch.
            EXPECT_EQ(with.logged, GetParam().major >= 25 && c.logged.starts_with(kept) ? "" : c.logged);
            (void)archives_in(c.folder);
        }
        EXPECT_EQ(cached.out().find("maps " + c.folder + "/") != std::string::npos, c.maps) << cached.out();
        EXPECT_EQ(read_file(victim), "kept\n");
    }
}

// Another user swaps folders on the way to the cache while root launches: the
// cache is never reached through them, and nothing that user wrote is mapped.
TEST_P(OnEveryJdk, ClassCacheIsNeverReachedThroughAFolderAnotherUserMayChange)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "the other user is run by root";
    const cached_launches cached;
    const std::string ww = cached.scratch.file("ww"), link = cached.scratch.file("link");
    ASSERT_EQ(chmod(cached.scratch.path.c_str(), 0711), 0);
    ASSERT_TRUE(mkdir(ww.c_str(), 0) == 0 && chmod(ww.c_str(), 0777) == 0 && mkdir((ww + "/real").c_str(), 0700) == 0
                && mkdir((ww + "/evil").c_str(), 0755) == 0 && chown((ww + "/evil").c_str(), 65534, 65534) == 0);
    std::filesystem::create_symlink("ww/real", link);
    const std::string config = cached.scratch.file("race.conf");
    write_file(config, "[java]\njvm=" + GetParam().libjvm + "\nmainclass=velta.test.CacheProbe\nclasscache=" + cached.cache
                           + "\n" + cached.keys + "[java.classpaths]\n" VELTA_TEST_JAR "\n" + cached.sections);
    // The digest does not depend on the folder: the other user's archive,
    // valid for this class path, is given the name the launch looks for.
    const std::string report = launch({VELTA_JAVA_CHECK, "java", config}).process.output;
    const size_t named = report.find("  archive: " + cached.cache + "/");
    ASSERT_NE(named, std::string::npos) << report;
    const std::string evil = ww + "/evil/" + report.substr(named + 12 + cached.cache.size(), 20);
    const std::string nobody = "exec /usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups -- ";
    ASSERT_EQ(run_process({"/bin/sh", "-c", nobody + "\"$@\"", "sh", GetParam().java, "-XX:ArchiveClassesAtExit=" + evil,
                           "-Dvelta.out=/dev/null", "-cp", VELTA_TEST_JAR, "velta.test.CacheProbe"}, {}).status, 0);
    write_file(config, read_file(config).replace(read_file(config).find(cached.cache), cached.cache.size(), link));

    std::thread other([&] {
        run_process({"/bin/sh", "-c", nobody + "timeout 8 /bin/sh -c 'cd \"$0\" && while :; do mv real x; mv evil real; "
                                               "mv real evil; mv x real; done' \"$0\"", ww}, {});
    });
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(7); std::chrono::steady_clock::now() < end;) {
        std::filesystem::remove(cached.scratch.file("out"));
        last = launch({VELTA_JAVA, "java", config});
        EXPECT_EQ(last.process.status, 0);
        EXPECT_EQ(last.logged, "3 Not using class cache " + link + ": " + ww + " on the way to it is writable by group or others\n");
        EXPECT_EQ(cached.out(), "") << "the cache took part";
    }
    other.join();
}

// A jar run by velta-java's mainjar and by java -jar from the same folder:
// the program (JarView) must see the same and end the same; where java
// refuses the jar, velta-java logs its own message instead.
TEST_P(OnEveryJdk, RunsAJarAsJavaJarDoes)
{
    scratch_folder scratch;
    std::filesystem::copy_file(VELTA_TEST_JAR, scratch.file("lib.jar"));
    const std::string view = "Main-Class: velta.test.JarView\nClass-Path: lib.jar\n";
    const struct {
        const char* name;
        std::string manifest;
        uint64_t method; // 0 stored, 8 deflated; 1: the JDK's jar tool adds the manifest to the test programs' jar
        zip_layout layout;
        std::string refused;
    } cases[] = {
        {"the JDK's jar tool, classes inside, every attribute",
         "Main-Class: velta.test.JarView\nLauncher-Agent-Class: velta.test.JarView\nAdd-Exports: java.base/jdk.internal.misc\n"
         "Add-Opens: java.base/java.lang no.such/p java.base/no.such\nEnable-Native-Access: ALL-UNNAMED\n", 1, {}, ""},
        {"stored after a script, Class-Path with a missing jar", "Class-Path: missing.jar lib.jar\n"
         "Main-Class: velta.test.JarView\nAdd-Opens: java.base/java.util\n", 0, {"#!/bin/sh\nexec java -jar \"$0\"\n", false, false, ""}, ""},
        {"folded inside names, CR line ends, zip64", "Manifest-Version: 1.0\rMain-Class: velta.test.Ja\r rView\rClass-P"
         "ath: li\r b.jar\rLauncher-Agent-Class: velta.test.JarView\r\r", 8, {"", true, false, ""}, ""},
        {"an agent that cannot start", view + "Launcher-Agent-Class: velta.test.Missing\n", 8, {},
         "Error loading Java agent velta.test.Missing from JAR app.jar"},
        {"native access for a module", view + "Enable-Native-Access: java.base\n", 8, {},
         "Invalid value java.base for Enable-Native-Access in JAR app.jar"},
    };
    const std::string jar_tool = GetParam().java.substr(0, GetParam().java.size() - 4) + "jar";
    write_file(scratch.file("c.conf"), "[java]\njvm=" + GetParam().libjvm + "\nmainjar=app.jar\nmainargs=a 'b c'\n"
                                       "[java.options]\n-Xcheck:jni\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.method == 1) {
            std::filesystem::copy_file(VELTA_TEST_JAR, scratch.file("app.jar"), std::filesystem::copy_options::overwrite_existing);
            write_file(scratch.file("manifest"), c.manifest);
            ASSERT_EQ(run_process({jar_tool, "--update", "--file", "app.jar", "--manifest", "manifest"}, {}, scratch.path).status, 0);
        } else {
            write_file(scratch.file("app.jar"), zip({{"META-INF/MANIFEST.MF", c.manifest, c.method}}, c.layout));
        }
        const process_result java = run_process({GetParam().java, "-jar", "app.jar", "a", "b c"}, {}, scratch.path);
        last = launch({VELTA_JAVA, "java", scratch.file("c.conf")}, {}, scratch.path);
        EXPECT_EQ(last.process.status, java.status) << java.errors;
        EXPECT_EQ(last.process.output, java.output);
        EXPECT_EQ(last.logged, java.status == 0 ? "" : "3 " + c.refused + "\n");
        EXPECT_EQ(java.status == 0 ? last.process.errors : "", "");
        EXPECT_EQ(last.process.errors.find("WARNING"), std::string::npos) << last.process.errors;
    }
    // With classcache (and -Xss, which moves the launch to a thread of its
    // own), JarView, from the jar Class-Path names, is mapped at the second launch.
    write_file(scratch.file("app.jar"), zip({{"META-INF/MANIFEST.MF", view}}));
    write_file(scratch.file("c.conf"), "[java]\njvm=" + GetParam().libjvm + "\nmainjar=app.jar\nclasscache=cache\n"
                                       "[java.options]\n-Xcheck:jni\n-Xss4m\n-Xlog:class+load\n");
    launch({VELTA_JAVA, "java", scratch.file("c.conf")}, {}, scratch.path);
    (void)archives_in(scratch.file("cache"));
    last = launch({VELTA_JAVA, "java", scratch.file("c.conf")}, {}, scratch.path);
    EXPECT_NE(last.process.output.find("velta.test.JarView" + from_archive), std::string::npos) << last.process.output;
}

INSTANTIATE_TEST_SUITE_P(Jdk, OnEveryJdk, testing::ValuesIn(installed_jdks()),
                         [](const testing::TestParamInfo<jdk>& param) { return param.param.name; });

TEST(StandInVm, ReceivesTheConfiguredOptionsExactly)
{
    scratch_folder scratch;
    write_file(scratch.file("c.conf"), "[app]\njvm=" VELTA_FAKE_JVM "\nproperties=props\n"
                                       "[java.classpaths]\nx\ny\nz = w\n[java.options]\n-Xmx64m\n-Xbootclasspath/a:/b\n"
                                       "[props]\nk = v\nflag\n");
    // A child that the VM forks and that ends with _exit is no end of the VM.
    const launch_result result = launch({VELTA_JAVA, "app", scratch.file("c.conf")},
                                        {{"VELTA_FAKE_JVM_RECORD", scratch.file("vm")}, {"VELTA_FAKE_JVM_RESULT", "-3"},
                                         {"VELTA_FAKE_JVM_CHILD_EXIT", "5"}});
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

// Where a system log listens, each message goes to it once, and to standard
// error too when a person reads that at a terminal. Where none listens, as in
// most containers, or the log does not read and its queue is full, each goes
// to standard error at once instead of being lost or waited on.
TEST(SystemLog, EachMessageReachesTheLogOnceAndAPersonAtOnce)
{
    scratch_folder scratch;
    write_file(scratch.file("c.conf"), "[java]\njvm=/nonexistent/libjvm.so\n");
    const std::string message = "velta-java: Error loading JVM /nonexistent/libjvm.so\n";
    const struct {
        const char* log;
        const char* standard_error;
        bool logged;
        bool printed;
    } cases[] = {
        {"listen", "file", true, false},  {"listen", "terminal", true, true}, {"full", "file", false, true},
        {"absent", "file", false, true}, {"absent", "terminal", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.log) + " " + c.standard_error);
        const auto start = std::chrono::steady_clock::now();
        const process_result run = run_process(
            {VELTA_SYSTEM_LOG, c.log, c.standard_error, scratch.file("log"), VELTA_JAVA, "java", scratch.file("c.conf")}, {});
        if (run.status == 77)
            GTEST_SKIP() << "no mount namespace here (it needs root) to stand a system log in";
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.errors, c.printed ? message : "");
        EXPECT_EQ(read_file(scratch.file("log")), c.logged ? "<11>" + message : "");
        EXPECT_EQ(run.output, "");
    }
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
        {VELTA_JAVA, "-version", "velta-java " VELTA_VERSION "\n"},
        {VELTA_JAVA, "-h", "Usage: velta-java [SECTION [CONFIG-FILE]]\n"},
        {VELTA_JAVA_CHECK, "-version", "velta-java-check " VELTA_VERSION "\n"},
        {VELTA_JAVA_CHECK, "-h", "Usage: velta-java-check [--start]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.option);
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

TEST(StandInVm, WrongSettingsUndefinedVariablesAndJarsThatCannotRunEndTheRunBeforeTheVm)
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
        // The test programs' jar has a manifest without Main-Class.
        {"mainjar=" VELTA_TEST_JAR "\n", "3 No Main-Class in JAR " VELTA_TEST_JAR "\n"},
        {"mainjar=" VELTA_JAVA "\nmainclass=velta.test.Echo\n", "3 Unable to read JAR " VELTA_JAVA "\n"},
        {"mainjar=/nonexistent.jar\n", "3 Unable to read JAR /nonexistent.jar\n"},
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
