// SPDX-License-Identifier: Apache-2.0
// velta-java-check against velta-java: the same configurations through both
// real binaries, with stand-in VM libraries and the JDK the build found.
// The launcher's messages are captured by the syslog stand-in preloaded into
// both; the checker must print them on standard error instead.
#include "tests/support/run_process.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string first_line(const std::string& text)
{
    return text.substr(0, text.find('\n') + 1);
}

std::vector<std::string> lines_after(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line.substr(prefix.size()));
    }
    return found;
}

// The numbered lines of the "VM options: N" block, without their numbers.
std::vector<std::string> printed_options(const std::string& output)
{
    std::vector<std::string> found;
    std::istringstream in(output.substr(output.find("VM options: ")));
    std::string line;
    std::getline(in, line);
    const int count = std::stoi(line.substr(12));
    for (int i = 1; i <= count && std::getline(in, line); ++i) {
        const std::string number = "  " + std::to_string(i) + ": ";
        EXPECT_EQ(line.rfind(number, 0), 0u) << line;
        found.push_back(line.substr(number.size()));
    }
    return found;
}

TEST(Checker, ReportsEachLaunchFailureWithTheLaunchersOwnMessage)
{
    scratch_folder scratch;
    const std::string jar_section = "[java.classpaths]\n" VELTA_TEST_JAR "\n";
    const struct {
        const char* name;
        std::string config; // "" for no file at all
        bool start;
        std::map<std::string, std::string> environment;
    } cases[] = {
        {"configuration unreadable", "", false, {}},
        {"configuration without a section", "# nothing\n", false, {}},
        {"setting refused", "[java]\njvm=" VELTA_FAKE_JVM "\npassargs=1\n", false, {}},
        {"variable undefined", "[java]\nexpand=yes\njvm=${VELTA_UNDEFINED}\n", false, {}},
        {"main jar without Main-Class", "[java]\njvm=" VELTA_FAKE_JVM "\nmainjar=" VELTA_TEST_JAR "\n", false, {}},
        {"VM library missing", "[java]\njvm=/nonexistent/libjvm.so\n", false, {}},
        {"VM library named by an empty value", "[java]\njvm=\n", false, {}},
        {"folder without lib/server/libjvm.so", "[java]\njvm=/\n", false, {}},
        {"library without JNI_CreateJavaVM", "[java]\njvm=" VELTA_NO_CREATE_VM "\n", false, {}},
        {"library with JNI_CreateJavaVM at address 0", "[java]\njvm=" VELTA_ZERO_CREATE_VM "\n", false, {}},
        {"VM creation refused", "[java]\njvm=" VELTA_FAKE_JVM "\n", true, {{"VELTA_FAKE_JVM_RESULT", "-3"}}},
        {"main class missing", "[java]\njvm=" VELTA_BUILD_JVM "\nmainclass=velta.test.Missing\n" + jar_section, true, {}},
        {"no main method", "[java]\njvm=" VELTA_BUILD_JVM "\nmainclass=velta.test.NoMain\n" + jar_section, true, {}},
        {"argument array too large for the heap",
         "[java]\njvm=" VELTA_BUILD_JVM "\nmainclass=velta.test.Echo\nmainargs=" + std::string(32 << 20, 'x')
             + "\n[java.options]\n-Xmx16m\n-XX:+UseSerialGC\n" + jar_section,
         true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string config = c.config.empty() ? scratch.file("missing.conf") : scratch.file("launcher.conf");
        std::filesystem::remove(config);
        if (!c.config.empty())
            write_file(config, c.config);

        const launch_result launched = launch({VELTA_JAVA, "java", config}, c.environment);
        ASSERT_EQ(launched.logged.substr(0, 2), "3 ");
        const std::string message = launched.logged.substr(2);
        EXPECT_EQ(first_line(message), message) << "the launcher logged more than one message";

        std::vector<std::string> arguments = {VELTA_JAVA_CHECK, "java", config};
        if (c.start)
            arguments.insert(arguments.begin() + 1, "--start");
        const launch_result checked = launch(arguments, c.environment);
        EXPECT_EQ(checked.process.status, 1);
        EXPECT_EQ(first_line(checked.process.errors), message);
        EXPECT_EQ(checked.logged, "") << "the checker wrote to the system log";
    }
}

TEST(Checker, ListsExactlyTheOptionsTheStandInVmReceives)
{
    scratch_folder scratch;
    write_file(scratch.file("c.conf"), "[app]\njvm=" VELTA_FAKE_JVM "\nclasspaths=cp\nproperties=props\n"
                                       "[cp]\n/a.jar\n= /nameless.jar\nC:/b\n" + scratch.path + "/*\n[java.options]\n"
                                       "-Xmx64m\n-Xbootclasspath/a : /x.jar\n--add-opens=java.base/java.lang=ALL-UNNAMED\n"
                                       "=nameless\n-Xss1m^20\n[props]\nk = v = w\nflag\nspaced: ^20a b^20\n");
    write_file(scratch.file("lib.jar"), "");
    const std::vector<std::string> expected = {"-Djava.class.path=/a.jar:C:/b:" + scratch.file("lib.jar"), "-Xmx64m",
                                               "-Xbootclasspath/a:/x.jar", "--add-opens=java.base/java.lang=ALL-UNNAMED",
                                               "-Xss1m ", "-Dk=v = w", "-Dflag", "-Dspaced= a b "};

    const launch_result launched = launch({VELTA_JAVA, "app", scratch.file("c.conf")},
                                          {{"VELTA_FAKE_JVM_RECORD", scratch.file("launcher-vm")}});
    EXPECT_EQ(lines_after(read_file(scratch.file("launcher-vm")), "option "), expected);

    const launch_result checked = launch({VELTA_JAVA_CHECK, "app", scratch.file("c.conf")},
                                         {{"VELTA_FAKE_JVM_RECORD", scratch.file("checker-vm")}});
    EXPECT_EQ(checked.process.status, 0) << checked.process.errors;
    EXPECT_EQ(printed_options(checked.process.output), expected);
    EXPECT_EQ(read_file(scratch.file("checker-vm")), "") << "the VM was created without --start";

    // With --start the checker hands the VM the same record the launcher does.
    const launch_result started = launch({VELTA_JAVA_CHECK, "--start", "app", scratch.file("c.conf")},
                                         {{"VELTA_FAKE_JVM_RECORD", scratch.file("checker-vm")},
                                          {"VELTA_FAKE_JVM_RESULT", "0"}});
    EXPECT_EQ(started.process.status, 1);
    EXPECT_EQ(started.process.errors, "Unable to find main class velta.os.Shell\n");
    const std::string launcher_record = read_file(scratch.file("launcher-vm"));
    const std::string checker_record = read_file(scratch.file("checker-vm"));
    EXPECT_EQ(checker_record.substr(0, launcher_record.size()), launcher_record);
    EXPECT_EQ(checker_record.substr(launcher_record.size()), "FindClass velta/os/Shell\nDetachCurrentThread\nDestroyJavaVM\n");
}

TEST(Checker, PrintsEveryStepInOrderEachValueOnOneLine)
{
    // The VM library named by a JDK folder, in a file that starts with a
    // byte-order mark.
    scratch_folder scratch;
    const std::string jdk = scratch.file("jdk");
    std::filesystem::create_directories(jdk + "/lib/server");
    std::filesystem::create_symlink(VELTA_FAKE_JVM, jdk + "/lib/server/libjvm.so");
    const std::string config = scratch.file("c.conf");
    write_file(config, "\xEF\xBB\xBF[java]\njvm=" + jdk + "//\nmainclass=com.example.App$$Inner\n"
                       "mainargs= one \"two  three\" '' 'it\"s' ${CONFDIR} x^0Ay^7F ^FF^5E \xc3\xbc^ED^A0^80\n"
                       "options=opts\npassargs=yes\nexpand=yes\nclasscache=${CONFDIR}/cache\nmainjar=${CONFDIR}/app.jar\n"
                       "[opts]\n-Xmx64m\n");
    write_file(scratch.file("app.jar"), zip({{"META-INF/MANIFEST.MF", "Main-Class: com.example.App\nClass-Path: c.conf "
                                              "lib/\nAdd-Opens: java.base/java.lang\nLauncher-Agent-Class: a\x01" "b\n"}}));
    const std::string arguments = "one two  three  it\"s " + scratch.path + " x^0Ay^7F ^FF^5E \xc3\xbc^ED^A0^80 five six";
    const launch_result checked = launch({VELTA_JAVA_CHECK, "java", config, "five six"});
    EXPECT_EQ(checked.process.status, 0);
    // The stand-in VM belongs to no JDK.
    const std::string no_cache = "Not using class cache " + scratch.file("cache") + ": no JDK version found for "
                               + std::filesystem::canonical(VELTA_FAKE_JVM).string() + "\n";
    EXPECT_EQ(checked.process.errors, no_cache);
    EXPECT_EQ(checked.process.output,
              "Configuration: " + config + "\n"
              "Launcher section: [java]\n"
              "  jvm = " + jdk + "//\n"
              "  mainclass = com.example.App$Inner\n"
              "  mainargs = one \"two  three\" '' 'it\"s' ${CONFDIR} x^0Ay^7F ^FF^5E \xc3\xbc^ED^A0^80\n"
              "  classpaths = java.classpaths (default; no such section)\n"
              "  options = opts\n"
              "  properties = java.properties (default; no such section)\n"
              "  failstatus = 0 (default)\n"
              "  passargs = yes\n"
              "  expand = yes\n"
              "  classcache = " + scratch.file("cache") + "\n"
              "  mainjar = " + scratch.file("app.jar") + "\n"
              "  ready = (empty) (default)\n"
              "VM library: " + jdk + "//\n"
              "  a JDK folder: loads " + jdk + "/lib/server/libjvm.so\n"
              "  loads: yes\n"
              "  exports JNI_CreateJavaVM: yes\n"
              "VM options: 2\n"
              "  1: -Djava.class.path=" + scratch.file("app.jar") + "\n"
              "  2: -Xmx64m\n"
              "Class path: 1 entries\n"
              "  1: " + scratch.file("app.jar") + "\n"
              "Main jar: " + scratch.file("app.jar") + "\n"
              "  Main-Class: com.example.App\n"
              "  Class-Path: c.conf lib/\n"
              "    1: " + config + "\n"
              "    2: " + scratch.file("lib/") + "\n"
              "warning: Class-Path entry " + scratch.file("lib/") + " does not exist\n"
              "  Launcher-Agent-Class: a^01b\n"
              "  Add-Opens: java.base/java.lang\n"
              "  option added: -Dsun.java.command=" + scratch.file("app.jar") + " " + arguments + "\n"
              "Main class: com.example.App$Inner (mainclass, in place of the main jar's Main-Class)\n"
              "  as FindClass takes it: com/example/App$Inner\n"
              "warning: main class com.example.App$Inner is in none of the class-path entries; a class of the JDK's "
              "own modules is still possible (--start tells)\n"
              "Main arguments: 9\n"
              "  1: [one]\n"
              "  2: [two  three]\n"
              "  3: []\n"
              "  4: [it\"s]\n"
              "  5: [" + scratch.path + "]\n"
              "  6: [x^0Ay^7F]\n"
              "  7: [^FF^5E]\n"
              "  8: [\xc3\xbc^ED^A0^80]\n"
              "  9: [five six]\n"
              "Class cache: " + scratch.file("cache") + "\n"
              "  not used: " + no_cache.substr(no_cache.find(": ") + 2));
    // A report that cannot be written, or has no standard output, is an error, not silence.
    for (const char* lost : {" >/dev/full", " >&-"}) {
        const process_result full = run_process({"/bin/sh", "-c", VELTA_JAVA_CHECK " java " + config + lost}, {});
        EXPECT_EQ(full.status, 1);
        EXPECT_NE(full.errors.find("velta-java-check: cannot write to standard output"), std::string::npos) << full.errors;
    }
}

TEST(Checker, StartsTheRealVmAndResolvesMainWithoutCallingIt)
{
    scratch_folder scratch;
    const std::string cache = scratch.file("cache");
    write_file(scratch.file("c.conf"), "[java]\njvm=" VELTA_BUILD_JVM "\nmainclass=velta.test.Echo\nmainargs=a b\n"
                                       "classcache=" + cache + "\n[java.classpaths]\n" VELTA_TEST_JAR "\n"
                                       "[java.options]\n-Xcheck:jni\n[java.properties]\nvelta.out=" + scratch.file("out") + "\n");
    // Without --start the report changes nothing, not even the cache.
    const std::string report = launch({VELTA_JAVA_CHECK, "java", scratch.file("c.conf")}).process.output;
    EXPECT_NE(report.find("Class cache: " + cache + "\n  folder: missing; a launch makes it, mode 0700\n  archive: "
                          + cache + "/"),
              std::string::npos) << report;
    EXPECT_NE(report.find(".jsa (missing: a launch writes it once main has run)\n  option added first: "
                          "-Xlog:cds=off,cds+dynamic=off\n  option added last: -XX:ArchiveClassesAtExit=/proc/PID/fd/N "
                          "(a file in memory, copied to the archive once main has run)\n"),
              std::string::npos) << report;
    EXPECT_FALSE(std::filesystem::exists(cache));

    const launch_result started = launch({VELTA_JAVA_CHECK, "--start", "java", scratch.file("c.conf")});
    EXPECT_EQ(started.process.status, 0);
    EXPECT_EQ(started.process.errors, "");
    const std::string output = started.process.output;
    ASSERT_NE(output.find("Start:"), std::string::npos) << output;
    EXPECT_EQ(output.substr(output.find("Start:")),
              "Start:\n  VM created\n  main class loaded, main(String[]) found\n"
              "  String[2] of main arguments made; main not called\n  VM destroyed\n");
    EXPECT_EQ(output.find("WARNING"), std::string::npos) << "-Xcheck:jni: " << output;
    EXPECT_FALSE(std::filesystem::exists(scratch.file("out"))) << "main ran";
    EXPECT_EQ(names_in(cache), std::vector<std::string>{}) << "an archive of a VM that never ran main was kept";

    // Once a launch has made the archive, a launch maps it.
    EXPECT_EQ(launch({VELTA_JAVA, "java", scratch.file("c.conf")}).process.status, 0);
    EXPECT_NE(launch({VELTA_JAVA_CHECK, "java", scratch.file("c.conf")})
                  .process.output.find(".jsa (exists)\n  option added first: -Xlog:cds=off,cds+dynamic=off\n"
                                       "  option added last: -XX:SharedArchiveFile=/proc/self/task/PID/fd/N (the archive, opened)\n"),
              std::string::npos);
    write_file(scratch.file("instance.conf"), "[java]\njvm=" VELTA_BUILD_JVM "\nmainclass=velta.test.InstanceMainWithoutArguments\n"
                                              "[java.classpaths]\n" VELTA_TEST_JAR "\n");
    const launch_result instance = launch({VELTA_JAVA_CHECK, "--start", "java", scratch.file("instance.conf")});
    EXPECT_EQ(instance.process.status, 0);
    EXPECT_NE(instance.process.output.find("  main class loaded, instance main() found\n"), std::string::npos)
        << instance.process.output;
}

// The report and the launch apply the same rules; the report changes
// nothing, and never blocks.
TEST(Checker, TellsWhyALaunchWouldLeaveTheClassCacheOutAndWhatItWouldRemove)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounts, and the other user, need root";
    scratch_folder scratch;
    ASSERT_EQ(chmod(scratch.path.c_str(), 0755), 0);
    const std::string cache = scratch.file("cache"), config = scratch.file("c.conf"), other = "00000000000000ab";
    write_file(config, "[java]\njvm=" VELTA_BUILD_JVM "\nmainclass=velta.test.Echo\nclasscache=" + cache
                           + "\n[java.classpaths]\n" VELTA_TEST_JAR "\n[java.properties]\nvelta.out=/dev/null\n");
    ASSERT_EQ(chmod(config.c_str(), 0644), 0);
    const std::string report = launch({VELTA_JAVA_CHECK, "java", config}).process.output;
    const std::string name = report.substr(report.find("  archive: " + cache + "/") + 12 + cache.size(), 20);
    const std::string digest = name.substr(0, 16);
    const std::vector<std::string> nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    const std::vector<std::string> read_only = {
        "/usr/bin/unshare", "-m", "/bin/sh", "-c",
        "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && exec \"$@\"", cache};
    const std::string refused = "Not using class cache " + cache + ": ";
    const struct {
        const char* name;
        mode_t mode;
        std::vector<std::string> files; // made in the folder: a FIFO when it ends in ".jsa", else a file
        std::vector<std::string> wrapper;
        std::vector<std::string> reported; // lines of the report
        std::string logged;                // by the launch, and the report on standard error
        std::vector<std::string> left;     // in the folder after the launch
    } cases[] = {
        {"a FIFO at the archive's name", 0700, {name}, {}, {"  not used: " + name + " is not a regular file"},
         refused + name + " is not a regular file\n", {name}},
        // The last file is held locked, as a live launch holds its own.
        {"the files of launches that died", 0700,
         {name + ".x", digest + ".00aa.map", digest + ".4242.tmp", other + ".jsa", other + ".5.map", digest + ".1.tmp"}, {},
         {"  archive: " + cache + "/" + name + " (a launch that used it died: a launch writes it anew once main has run)",
          "  left by a launch that died: " + cache + "/" + digest + ".00aa.map (a launch removes it, and the archive it names)",
          "  left by a launch that died: " + cache + "/" + digest + ".4242.tmp (a launch removes it)",
          "  left by a launch that died: " + cache + "/" + other + ".5.map (a launch removes it, and the archive it names)"},
         "", {digest + ".1.tmp", name, digest + ".sum"}},
        {"a read-only mount", 0700, {}, read_only, {"  not used: the folder cannot be written: Read-only file system"},
         refused + "the folder cannot be written: Read-only file system\n", {}},
        {"mode 0500, for its user", 0500, {}, nobody, {"  not used: the folder cannot be written: Permission denied"},
         refused + "the folder cannot be written: Permission denied\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(cache);
        ASSERT_EQ(mkdir(cache.c_str(), 0700), 0);
        for (const std::string& file : c.files)
            file == name ? (void)mkfifo((cache + "/" + file).c_str(), 0600) : write_file(cache + "/" + file, "");
        ASSERT_EQ(c.wrapper == nobody ? chown(cache.c_str(), 65534, 65534) : 0, 0);
        ASSERT_EQ(chmod(cache.c_str(), c.mode), 0);
        if (!c.files.empty() && c.files[0] == name + ".x")
            std::filesystem::rename(cache + "/" + name + ".x", cache + "/" + name);
        const int held = c.files.size() < 2 ? -1 : open((cache + "/" + c.files.back()).c_str(), O_RDONLY | O_NONBLOCK);
        flock(held, LOCK_EX);
        const std::vector<std::string> before = names_in(cache);
        std::vector<std::string> command = c.wrapper;
        command.insert(command.end(), {VELTA_JAVA_CHECK, "java", config});
        const launch_result checked = launch(command);
        EXPECT_EQ(checked.process.status, 0);
        for (const std::string& line : c.reported)
            EXPECT_NE(checked.process.output.find(line + "\n"), std::string::npos) << checked.process.output;
        EXPECT_EQ(checked.process.errors, c.logged);
        EXPECT_EQ(names_in(cache), before) << "the report changed the folder";
        command[c.wrapper.size()] = VELTA_JAVA;
        const launch_result launched = launch(command);
        EXPECT_EQ(launched.process.status, 0);
        EXPECT_EQ(launched.logged, c.logged.empty() ? "" : "3 " + c.logged);
        EXPECT_EQ(names_in(cache), c.left);
        close(held);
    }
}

TEST(Checker, ReportsAVmThatEndsTheProcessAndFails)
{
    scratch_folder scratch;
    const struct {
        const char* name;
        const char* section;
        const char* printed;
        const char* errors;
    } cases[] = {
        {"a heap too small: HotSpot's _exit", "mainclass=velta.test.Echo\n[java.options]\n-Xmx1k\n",
         "VM exited with status 1\n", "Java VM exited with status 1 while starting\n"},
        {"System.exit in a static initializer", "mainclass=velta.test.ExitWhileLoading\n",
         "VM exited with status 7\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(scratch.file("c.conf"), std::string("[java]\njvm=" VELTA_BUILD_JVM "\nclasscache=")
                                               + scratch.file("cache") + "\n" + c.section + "[java.classpaths]\n"
                                               VELTA_TEST_JAR "\n");
        const launch_result started = launch({VELTA_JAVA_CHECK, "--start", "java", scratch.file("c.conf")});
        EXPECT_EQ(started.process.status, 1);
        const std::string& output = started.process.output;
        EXPECT_EQ(output.substr(output.size() - std::min(output.size(), std::strlen(c.printed))), c.printed) << output;
        EXPECT_EQ(started.process.errors, c.errors);
        EXPECT_EQ(names_in(scratch.file("cache")), std::vector<std::string>{}) << "an archive was kept";
    }
}

TEST(Checker, WarnsOfWhatALaunchWouldNotReport)
{
    scratch_folder scratch;
    std::filesystem::create_directories(scratch.file("classes/velta/test"));
    write_file(scratch.file("classes/velta/test/Folder.class"), "");
    // Root reads any folder: the checker then runs as the user nobody.
    ASSERT_TRUE(chmod(scratch.path.c_str(), 0755) == 0 && mkdir(scratch.file("locked").c_str(), 0) == 0);
    write_file(scratch.file("folder.jar"), zip({{"META-INF/MANIFEST.MF", "Main-Class: velta.test.Folder\nClass-Path: classes/\n"}}));
    write_file(scratch.file("dropped.jar"), zip({{"META-INF/MANIFEST.MF", "Main-Class: a.B\nClass-Path: x:y.jar\n"}}));
    const struct {
        const char* name;
        std::string sections;
        std::string printed;  // must be in the report
        bool writable;        // the configuration is writable by others
        bool as_nobody = false;
    } cases[] = {
        {"main class in a jar", "mainclass=velta.test.Echo\n", "  found in: " VELTA_TEST_JAR "\n", false},
        {"main class in a folder", "mainclass=velta.test.Folder\n", "  found in: " + scratch.file("classes") + "\n", false},
        {"main class on no entry", "mainclass=velta.test.Nowhere\n", "warning: main class velta.test.Nowhere is in none", false},
        {"a missing entry", "", "  3: /nonexistent.jar\nwarning: class-path entry /nonexistent.jar does not exist\n", false},
        {"a misspelled section", "options=opts\n", "warning: options names section [opts], which the configuration does not have\n", false},
        {"a wildcard without jars", "classpaths=wild\n[wild]\n" + scratch.file("classes") + "/*\n",
         "warning: class-path entry " + scratch.file("classes") + "/* matches no jar\n", false},
        {"main class in a folder of the main jar's Class-Path", "mainjar=" + scratch.file("folder.jar") + "\n",
         "  found in: " + scratch.file("classes/") + "\n", false},
        {"a Class-Path that leaves the main jar out", "mainjar=" + scratch.file("dropped.jar") + "\n",
         "warning: the Class-Path of " + scratch.file("dropped.jar") + " names a URL scheme the VM has no handler for", false},
        {"no warning: a main jar without Main-Class, run with mainclass", "mainjar=" VELTA_TEST_JAR "\nmainclass=a.B\n",
         "  Main-Class: none; mainclass names the class, and the manifest asks for nothing\n", false},
        {"a configuration others may write", "", "is writable by group or others", true},
        {"a wildcard folder that cannot be read", "classpaths=wild\n[wild]\n" + scratch.file("locked") + "/*\n",
         "warning: class-path entry " + scratch.file("locked") + "/* cannot be read: Permission denied\n", false, true},
        {"no warning: a stack size for main", "options=stack\n[stack]\n-Xss2m\n",
         "-Xss2m\nMain's stack: 2097152 bytes, on a thread of its own\n", false},
        {"ready without NOTIFY_SOCKET", "ready=port 8080\n", "port 8080\nwarning: ready is set but NOTIFY_SOCKET is not", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string config = scratch.file("c.conf");
        write_file(config, "[java]\njvm=" VELTA_FAKE_JVM "\n" + c.sections + "[java.classpaths]\n" VELTA_TEST_JAR "\n"
                               + scratch.file("classes") + "\n/nonexistent.jar\n");
        chmod(config.c_str(), c.writable ? 0666 : 0644);
        std::vector<std::string> command = {VELTA_JAVA_CHECK, "java", config};
        if (c.as_nobody && geteuid() == 0)
            command.insert(command.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
        const launch_result checked = launch(command);
        EXPECT_EQ(checked.process.status, 0);
        EXPECT_NE(checked.process.output.find(c.printed), std::string::npos) << checked.process.output;
    }
}

TEST(Checker, ListsTheOptionsTheVmTakesFromTheEnvironment)
{
    scratch_folder scratch;
    const std::string config = scratch.file("c.conf");
    write_file(config, "[java]\njvm=" VELTA_BUILD_JVM "\nmainclass=velta.test.Echo\n[java.classpaths]\n" VELTA_TEST_JAR
                       "\n[java.properties]\nvelta.out=" + scratch.file("out") + "\n");
    const std::map<std::string, std::string> environment = {{"JAVA_TOOL_OPTIONS", " -Dvelta.value='a  b'\t-Xint "},
                                                            {"_JAVA_OPTIONS", "\"-Dvelta.flag=c d\""}};
    const launch_result checked = launch({VELTA_JAVA_CHECK, "java", config}, environment);
    EXPECT_EQ(checked.process.status, 0);
    EXPECT_EQ(printed_options(checked.process.output),
              (std::vector<std::string>{"-Dvelta.value=a  b (from JAVA_TOOL_OPTIONS)", "-Xint (from JAVA_TOOL_OPTIONS)",
                                        "-Djava.class.path=" VELTA_TEST_JAR, "-Dvelta.out=" + scratch.file("out"),
                                        "-Dvelta.flag=c d (from _JAVA_OPTIONS)"}));
    // The VM splits them the same way.
    const launch_result launched = launch({VELTA_JAVA, "java", config}, environment);
    EXPECT_EQ(launched.process.status, 0);
    const std::string out = read_file(scratch.file("out"));
    EXPECT_NE(out.find("velta.flag c d\nvelta.value a  b\n"), std::string::npos) << out;
}

TEST(Checker, ReadsTheSystemConfigurationWhenNoFileIsNamed)
{
    write_file(VELTA_CHECK_SYSTEM_CONFIG, "[app]\njvm=" VELTA_FAKE_JVM "\n");
    const launch_result present = launch({VELTA_JAVA_CHECK_SYSCONFIG, "app"});
    std::filesystem::remove(VELTA_CHECK_SYSTEM_CONFIG);
    EXPECT_EQ(present.process.status, 0);
    EXPECT_EQ(first_line(present.process.output), "Configuration: " VELTA_CHECK_SYSTEM_CONFIG " (the system configuration)\n");

    const launch_result missing = launch({VELTA_JAVA_CHECK_SYSCONFIG});
    EXPECT_EQ(missing.process.status, 1);
    EXPECT_EQ(first_line(missing.process.output), "Configuration: " VELTA_CHECK_SYSTEM_CONFIG
                                                  " (the system configuration; not read: missing, unreadable or "
                                                  "without a section, so every key takes its default)\n");
    EXPECT_EQ(missing.process.errors, "Error loading JVM jvm.dll\n");
}

TEST(Checker, TakesOptionsBeforeTheSectionAndRefusesUnknownOnes)
{
    scratch_folder scratch;
    write_file(scratch.file("app.conf"), "[app]\njvm=" VELTA_FAKE_JVM "\nmainargs=fixed\npassargs=yes\n");
    const struct {
        std::vector<std::string> arguments;
        int status;
        const char* output_start;
        const char* errors_start;
        std::string output_holds = "";
    } cases[] = {
        {{VELTA_JAVA_CHECK, "--help"}, 0, "Usage: velta-java-check [--start]", ""},
        {{VELTA_JAVA_CHECK, "--start", "--help"}, 0, "Usage: velta-java-check [--start]", ""},
        {{VELTA_JAVA_CHECK, "--bogus"}, 2, "", "velta-java-check: unknown option --bogus\nUsage:"},
        {{VELTA_JAVA_CHECK, "java", "/nonexistent.conf", "--help"}, 1, "", "Unable to read JVM configuration"},
        {{VELTA_JAVA_CHECK, "java", "/nonexistent.conf", "--", "--help"}, 1, "", "Unable to read JVM configuration"},
        {{VELTA_JAVA_CHECK, "--", "--start", "/nonexistent.conf"}, 1, "", "Unable to read JVM configuration from /nonexistent.conf\n"},
        // After the configuration file, everything is main's, as velta-java passes it.
        {{VELTA_JAVA_CHECK, "app", scratch.file("app.conf"), "--", "one", "--start"}, 0, "Configuration: ", "",
         "Main arguments: 4\n  1: [fixed]\n  2: [--]\n  3: [one]\n  4: [--start]\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const launch_result result = launch(c.arguments);
        EXPECT_EQ(result.process.status, c.status);
        EXPECT_EQ(result.process.output.rfind(c.output_start, 0), 0u) << result.process.output;
        EXPECT_EQ(result.process.errors.rfind(c.errors_start, 0), 0u) << result.process.errors;
        EXPECT_NE(result.process.output.find(c.output_holds), std::string::npos) << result.process.output;
    }
}

} // namespace
