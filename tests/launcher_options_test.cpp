// SPDX-License-Identifier: Apache-2.0
// The VM's init-args record as the launcher builds it from configuration.
#include "config/config.h"
#include "platform/platform.h"
#include "tests/support/launcher_state.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct options_case {
    const char* name;
    const char* section;
    const char* text;
    std::vector<std::string> expected;
};

std::vector<std::string> built_options(const char* section, const char* text)
{
    release_launcher_state();
    launcher.section_name = section;
    launcher.config_root = parse_config_text(text);
    EXPECT_EQ(build_launch_options(), 0);
    const JavaVMInitArgs& args = launcher.init_args;
    EXPECT_EQ(args.version, 0x00010002);
    EXPECT_EQ(args.ignoreUnrecognized, JNI_FALSE);
    for (jint i = 0; i < args.nOptions; ++i)
        EXPECT_EQ(args.options[i].extraInfo, nullptr);
    const std::vector<std::string> options = option_strings(args);
    release_launcher_state();
    return options;
}

const options_case options_cases[] = {
    {"no section, and an empty main jar, give no option", "java", "[java]\nmainclass=x\nmainjar\n", {}},
    {"empty class-path section gives the bare option", "java", "[java]\n[java.classpaths]\n",
     {"-Djava.class.path="}},
    {"class-path entries are joined with the platform separator and keep their own", "java",
     "[java.classpaths]\nx\ny\n/opt/app=1.0.jar\nz : w\n", {"-Djava.class.path=x:y:/opt/app=1.0.jar:z:w"}},
    {"a drive-letter entry comes back without the blanks around its separator", "java",
     "[java.classpaths]\nC : \\lib\\app.jar\n", {"-Djava.class.path=C:\\lib\\app.jar"}},
    {"nameless class-path entries are left out", "java", "[java.classpaths]\n=\n= /opt/lib.jar\nx\n:y\n",
     {"-Djava.class.path=x"}},
    {"order is class path, options, properties, each in list order", "java",
     "[java.properties]\np1=v1\np2\n[java.options]\n-Xmx64m\n-Xss1m\n[java.classpaths]\n/a\n",
     {"-Djava.class.path=/a", "-Xmx64m", "-Xss1m", "-Dp1=v1", "-Dp2"}},
    {"either separator gives = in a property", "java", "[java.properties]\na:1\nb = 2\n",
     {"-Da=1", "-Db=2"}},
    {"options keep the separator they were written with, without the blanks around it", "java",
     "[java.options]\n-Dx=y\n--add-opens=java.base/java.lang=ALL-UNNAMED\n-Xbootclasspath/a : /x\n-XX:+UseG1GC\n"
     "-XX:MaxRAMPercentage=75\n-agentlib:jdwp=transport=dt_socket,server=y\n-Dempty =\n",
     {"-Dx=y", "--add-opens=java.base/java.lang=ALL-UNNAMED", "-Xbootclasspath/a:/x", "-XX:+UseG1GC",
      "-XX:MaxRAMPercentage=75", "-agentlib:jdwp=transport=dt_socket,server=y", "-Dempty"}},
    {"keys of the launcher section name the sections", "app",
     "[app]\nclasspaths=cp\noptions=opt\nproperties=prop\n[cp]\n/x\n[opt]\n-Xss1m\n[prop]\nk=v\n"
     "[java.options]\n-Xignored\n",
     {"-Djava.class.path=/x", "-Xss1m", "-Dk=v"}},
    {"the defaults do not follow the launcher section's name", "app", "[app.options]\n-Xno\n[java.options]\n-Xyes\n",
     {"-Xyes"}},
    {"one section named for options and properties gives each entry twice", "java",
     "[java]\noptions=both\nproperties=both\n[both]\n-Xa:1\n", {"-Xa:1", "-D-Xa=1"}},
    {"a key naming a missing section gives nothing for it", "java", "[java]\nclasspaths=nowhere\n[java.classpaths]\n/x\n",
     {}},
    {"a key without value names the empty section, not the default", "java",
     "[java]\noptions\n[java.options]\n-Xno\n", {}},
    {"an escape to byte 0 names the empty section", "java", "[java]\noptions=^\n[^]\n-Xyes\n", {"-Xyes"}},
    {"a main jar comes first, before the class-path section's entries", "java",
     "[java]\nmainjar=/opt/app.jar\n[java.classpaths]\n/x\n", {"-Djava.class.path=/opt/app.jar:/x"}},
    {"nameless options and properties are left out", "java",
     "[java.options]\n=-Xbare\n-Xkept\n[java.properties]\n:v\nk\n", {"-Xkept", "-Dk"}},
};

TEST(VmOptions, BuildsTheOptionsFromTheNamedSections)
{
    for (const options_case& c : options_cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(built_options(c.section, c.text), c.expected);
    }
}

TEST(VmOptions, ClassPathWildcardsStandForTheJarsOfTheirFolder)
{
    namespace fs = std::filesystem;
    scratch_folder scratch;
    const std::string s = scratch.path;
    for (const char* folder : {"/lib/sub", "/lib/sub.jar", "/a:b", "/empty"})
        fs::create_directories(s + folder);
    // The VM would split "co:lon.jar" into two entries.
    for (const char* file : {"/lib/b.jar", "/lib/a.jar", "/lib/A.JAR", "/lib/c.Jar", "/lib/notes.txt", "/lib/sub/deep.jar",
                             "/lib/co:lon.jar", "/a:b/z.jar"})
        write_file(s + file, "");
    fs::create_symlink("a.jar", s + "/lib/link.jar");
    fs::create_symlink("nowhere.jar", s + "/lib/broken.jar");
    fs::create_symlink("sub", s + "/lib/folder.jar");

    const struct {
        const char* name;
        std::string entries;
        std::string class_path;
    } cases[] = {
        {"files and links to files named .jar or .JAR, sorted bytewise", s + "/lib/*",
         s + "/lib/A.JAR:" + s + "/lib/a.jar:" + s + "/lib/b.jar:" + s + "/lib/link.jar"},
        {"a lone * is the current folder", "*", "A.JAR:a.jar:b.jar:link.jar"},
        {"a folder without jars, or none, gives no entry and no separator", "x\n" + s + "/empty/*\n" + s + "/none/*\ny",
         "x:y"},
        {"entries that all give nothing name no folder, least of all the working one",
         s + "/empty/*\n=*\n" + s + "/none/*\n^\n^", empty_class_path},
        {"a folder whose name holds a separator", s + "/a:b/*", s + "/a:b/z.jar"},
        {"a * anywhere else stays as written", "*.jar\n" + s + "/lib*\n*/x\nx:*\nx=*", "*.jar:" + s + "/lib*:*/x:x:*:x=*"},
    };
    const fs::path started_in = fs::current_path();
    fs::current_path(s + "/lib");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(built_options("java", ("[java.classpaths]\n" + c.entries + "\n").c_str()),
                  std::vector<std::string>{"-Djava.class.path=" + c.class_path});
    }
    fs::current_path(started_in);
}

TEST(VmOptions, NullConfigurationGivesNoOption)
{
    release_launcher_state();
    launcher.section_name = "java";
    ASSERT_EQ(build_launch_options(), 0);
    EXPECT_EQ(launcher.init_args.nOptions, 0);
    EXPECT_EQ(launcher.init_args.version, JNI_VERSION_1_2);
    release_launcher_state();
}

TEST(VmOptions, TheLastStackSizeOptionSizesMainsStack)
{
    const struct {
        std::vector<const char*> options;
        size_t expected;
    } cases[] = {
        {{}, 0}, {{"-Xmx1g", "-XX:+UseG1GC", "-Xs", "-XX:ThreadStackSizes=1", "-xss1m"}, 0},
        {{"-Xss2048"}, 2048}, {{"-Xss3k"}, 3 << 10}, {{"-Xss3K"}, 3 << 10}, {{"-Xss2m"}, 2 << 20},
        {{"-Xss2M"}, 2 << 20}, {{"-Xss1g"}, 1 << 30}, {{"-Xss1G"}, 1 << 30},
        {{"-XX:ThreadStackSize=4096"}, 4 << 20}, {{"-XX:ThreadStackSize=1k"}, 1 << 20},
        {{"-Xss1m", "-Xss2m"}, 2 << 20}, {{"-Xss1m", "-XX:ThreadStackSize=4096", "-Xmx1g"}, 4 << 20},
        {{"-XX:ThreadStackSize=4096", "-Xss1m"}, 1 << 20}, {{"-Xss1m", "-Xss0"}, 0},
        // A size that cannot be read, even after one that can, leaves the
        // VM to judge it.
        {{"-Xss1m", "-Xss"}, 0}, {{"-Xss1m", "-Xss1t"}, 0}, {{"-Xss1m", "-Xss0x100000"}, 0},
        {{"-Xss1m", "-Xss1mb"}, 0}, {{"-Xss1m", "-Xss-1"}, 0}, {{"-Xss1m", "-Xss 1m"}, 0},
        {{"-Xss1m", "-Xss18446744073709551616"}, 0}, {{"-Xss1m", "-Xss17179869184g"}, 0},
        {{"-Xss1m", "-XX:ThreadStackSize=18014398509481984"}, 0},
    };
    for (const auto& c : cases) {
        std::vector<JavaVMOption> options;
        std::string trace;
        for (const char* option : c.options) {
            options.push_back({const_cast<char*>(option), nullptr});
            trace += std::string(option) + " ";
        }
        SCOPED_TRACE(trace);
        const JavaVMInitArgs init_args{JNI_VERSION_1_2, static_cast<jint>(options.size()), options.data(), JNI_FALSE};
        EXPECT_EQ(requested_stack_size(init_args), c.expected);
    }
}

} // namespace
