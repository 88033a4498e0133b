// SPDX-License-Identifier: Apache-2.0
// What the class cache decides without a VM to show it: what the digest
// covers, the folder rules, when a file is a whole archive, and why a launch
// goes without the cache. The end-to-end tests run it with real VMs.
#include "launcher/class_cache.h"
#include "tests/support/run_process.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

// A JDK of `version` with a stand-in libjvm.so and a jar.
struct scratch_jdk {
    scratch_folder root;
    std::string library = root.file("jdk/lib/server/libjvm.so");
    std::string jar = root.file("app.jar");
    std::string cache = root.file("cache");
    explicit scratch_jdk(const std::string& version = "17.0.15")
    {
        std::filesystem::create_directories(root.file("jdk/lib/server"));
        write_file(root.file("jdk/release"), "IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"" + version + "\"\n");
        write_file(library, "library");
        write_file(jar, "jar");
    }
};

std::vector<JavaVMOption> make_options(std::vector<std::string>& texts)
{
    std::vector<JavaVMOption> options;
    for (std::string& text : texts)
        options.push_back(JavaVMOption{text.data(), nullptr});
    return options;
}

uint64_t digest_of(const scratch_jdk& jdk, std::vector<std::string> texts, const char* main_class = "app.Main")
{
    std::vector<JavaVMOption> options = make_options(texts);
    uint64_t digest = 0;
    EXPECT_EQ(make_class_cache_digest(jdk.library.c_str(), main_class, options.data(),
                                      static_cast<int32_t>(options.size()), &digest), 0);
    return digest;
}

// plan_class_cache with `texts` as the options; returns the refusal.
std::string plan(const scratch_jdk& jdk, std::vector<std::string> texts, class_cache_plan* planned)
{
    std::vector<JavaVMOption> options = make_options(texts);
    plan_class_cache(jdk.cache.c_str(), jdk.library.c_str(), "app.Main", options.data(),
                     static_cast<int32_t>(options.size()), planned);
    return planned->refusal;
}

// The refusal of open_class_cache_folder for `folder`, "" when it may be used.
std::string folder_refusal(const std::string& folder)
{
    class_cache_plan planned;
    empty_class_cache_plan(&planned);
    open_class_cache_folder(folder.c_str(), &planned);
    const std::string refusal = planned.refusal;
    free_class_cache_plan(&planned);
    return refusal;
}

// Writes `bytes` to `path` and moves its modification time by `seconds`.
void rewrite(const std::string& path, const std::string& bytes, time_t seconds)
{
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    write_file(path, bytes);
    const timespec times[2] = {info.st_atim, {info.st_mtim.tv_sec + seconds, info.st_mtim.tv_nsec}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(ClassCache, DigestIsStableAndChangesWithWhatMakesAnArchiveValid)
{
    scratch_jdk jdk;
    const std::string class_path = "-Djava.class.path=" + jdk.jar + ":" + jdk.root.file("later.jar");
    const std::vector<std::string> options = {class_path, "-Xmx64m"};
    const struct {
        const char* name;
        std::function<void()> change;
        std::vector<std::string> options;
        const char* main_class = "app.Main";
    } cases[] = {
        {"the main class", [] {}, options, "app.Other"},
        {"an option", [] {}, {class_path, "-Xmx65m"}},
        {"the option order", [] {}, {"-Xmx64m", class_path}},
        {"where an option ends", [] {}, {class_path, "-Xmx6", "4m"}},
        {"a jar's modification time", [&] { rewrite(jdk.jar, "jar", 1); }, options},
        {"a jar's size", [&] { rewrite(jdk.jar, "jar2", 0); }, options},
        {"a jar replaced by a copy of the same size and times",
         [&] { run_process({"/bin/sh", "-c", "cp -p \"$0\" \"$0.new\" && mv \"$0.new\" \"$0\"", jdk.jar}, {}); }, options},
        {"a missing jar appears", [&] { write_file(jdk.root.file("later.jar"), ""); }, options},
        {"the library's size", [&] { rewrite(jdk.library, "library2", 0); }, options},
        {"the library's modification time", [&] { rewrite(jdk.library, "library2", 1); }, options},
        {"a base archive made beside the library", [&] { write_file(jdk.library + ".jsa", ""); }, options},
        {"JAVA_TOOL_OPTIONS", [] { setenv("JAVA_TOOL_OPTIONS", "-Xint", 1); }, options},
        {"_JAVA_OPTIONS", [] { setenv("_JAVA_OPTIONS", "", 1); }, options},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t before = digest_of(jdk, options);
        EXPECT_EQ(digest_of(jdk, options), before);
        c.change();
        EXPECT_NE(digest_of(jdk, c.options, c.main_class), before);
        unsetenv("JAVA_TOOL_OPTIONS");
        unsetenv("_JAVA_OPTIONS");
    }
}

TEST(ClassCache, FolderIsUsedOnlyWhenNoOneElseCanWriteItOrReplaceIt)
{
    const struct {
        const char* name;
        mode_t grandparent_mode;
        mode_t holder_mode;
        mode_t mode; // of the folder; 0 for a file, 1 for none, 2 for a link to a folder beside the holder
        uid_t owner; // of the folder, or of the holder when the folder is missing
        const char* cause; // after "FOLDER-OF-THE-CASE"
    } cases[] = {
        {"group may read", 0755, 0755, 0750, 0, ""},
        {"another user's", 0755, 0755, 0700, 4242, "owned by another user"},
        {"a file", 0755, 0755, 0, 0, "not a folder"},
        {"in a folder others may write", 0755, 0777, 0700, 0, "/holder on the way to it is writable by group or others"},
        {"under a folder others may write", 0777, 0755, 0700, 0, " on the way to it is writable by group or others"},
        {"missing, in a sticky folder others may write", 0755, 01777, 1, 0, ""},
        {"missing, in another user's folder", 0755, 0755, 1, 4242, "/holder on the way to it belongs to another user"},
        {"a link, followed from a folder that passed", 0755, 0755, 2, 0, ""},
        {"a link to a folder under one others may write", 0777, 0755, 2, 0, " on the way to it is writable by group or others"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_folder scratch;
        const std::string grandparent = scratch.file("g");
        const std::string holder = grandparent + "/holder";
        const std::string folder = holder + "/cache";
        ASSERT_TRUE(mkdir(grandparent.c_str(), 0) == 0 && mkdir(holder.c_str(), 0) == 0);
        if (c.mode == 0) {
            write_file(folder, "");
        } else if (c.mode == 2) {
            ASSERT_EQ(mkdir(scratch.file("g/real").c_str(), 0700), 0);
            std::filesystem::create_symlink("../real", folder);
        } else if (c.mode != 1) {
            ASSERT_TRUE(mkdir(folder.c_str(), 0) == 0 && chmod(folder.c_str(), c.mode) == 0);
        }
        ASSERT_TRUE(chmod(grandparent.c_str(), c.grandparent_mode) == 0 && chmod(holder.c_str(), c.holder_mode) == 0);
        if (c.owner != 0 && (geteuid() != 0 || chown((c.mode == 1 ? holder : folder).c_str(), c.owner, 0) != 0))
            continue; // only root can give a folder away
        const bool names_the_way = c.cause[0] == ' ' || c.cause[0] == '/';
        EXPECT_EQ(folder_refusal(folder), (names_the_way ? grandparent : "") + c.cause);
        EXPECT_EQ(std::filesystem::exists(folder), c.mode != 1) << "a missing folder was made";
    }
    // Missing folders above it are made with it, unless ".." climbs out of them.
    EXPECT_EQ(folder_refusal("/nonexistent/cache"), "");
    EXPECT_EQ(folder_refusal("/nonexistent/../cache"), "No such file or directory");
    EXPECT_EQ(folder_refusal("/tmp//nonexistent-cache//"), "");
}

// A JDK 17 archive's header (version 11) with one region of `length` bytes at 4096, in a file of `size` bytes.
std::string jdk17_archive(uint64_t length, size_t size)
{
    std::string bytes = std::string("\xa8\xab\x0b\xf0\0\0\0\0\x0b\0\0\0", 12) + std::string(size - 12, '\0');
    const uint64_t offset = 4096;
    bytes.replace(16 + 24, 8, reinterpret_cast<const char*>(&offset), 8);
    return bytes.replace(16 + 40, 8, reinterpret_cast<const char*>(&length), 8);
}

TEST(ClassCache, OnlyAWholeArchiveIsKeptOrMapped)
{
    const struct {
        const char* name;
        std::string file; // what the VM wrote into memory, or what lies at the archive's name
        bool whole;
    } cases[] = {
        {"no header yet: a VM stopped while writing", std::string(8192, '\0'), false},
        {"a JDK 17 archive cut short", jdk17_archive(100, 4195), false},
        {"a whole JDK 17 archive", jdk17_archive(100, 4196), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_jdk jdk;
        std::filesystem::create_directories(jdk.cache);
        class_cache_plan planned;
        ASSERT_EQ(plan(jdk, {}, &planned), "");
        char name[NAME_MAX + 1];
        write_class_cache_name(planned.digest, 0, "jsa", name);
        const std::string archive = jdk.cache + "/" + name;
        planned.memory_file = memfd_create("archive", MFD_CLOEXEC);
        ASSERT_EQ(write(planned.memory_file, c.file.data(), c.file.size()), static_cast<ssize_t>(c.file.size()));
        EXPECT_EQ(finish_class_cache(&planned, true), c.whole ? 1 : 0);
        EXPECT_EQ(finish_class_cache(&planned, true), 0);
        const std::string sum = std::string(name, 16) + ".sum";
        const std::vector<std::string> kept = c.whole ? std::vector<std::string>{name, sum} : std::vector<std::string>{};
        EXPECT_EQ(names_in(jdk.cache), kept);
        EXPECT_EQ(read_file(archive), c.whole ? c.file : "");
        free_class_cache_plan(&planned);

        // Mapped only as kept: one byte changed since is an archive to write anew.
        write_file(archive, c.file);
        plan(jdk, {}, &planned);
        EXPECT_EQ(planned.archive >= 0, c.whole);
        free_class_cache_plan(&planned);
        write_file(archive, c.file.substr(0, 4195) + "x");
        plan(jdk, {}, &planned);
        EXPECT_LT(planned.archive, 0);
        free_class_cache_plan(&planned);
    }
}

TEST(ClassCache, RefusesWithTheCauseAndPlansNothing)
{
    scratch_jdk jdk;
    std::filesystem::create_directories(jdk.root.file("classes/app"));
    std::filesystem::create_directories(jdk.root.file("empty"));
    const std::string folders =
        "-Djava.class.path=" + jdk.jar + ":" + jdk.root.file("empty") + "::" + jdk.root.file("classes");
    const struct {
        const char* version;
        std::vector<std::string> options;
        std::string refusal;            // "" when the cache is used
        const char* tool_options = "";  // JAVA_TOOL_OPTIONS, split as the VM splits it
    } cases[] = {
        {"19-ea", {"-Xshare:auto"}, "", "-Xmx1m -Xshare:auto -Dx='a -Xshare:off'"},
        {"17", {}, "the option -XX:ArchiveClassesAtExit=/x in JAVA_TOOL_OPTIONS sets class-data sharing itself",
         "-Dx\t'-XX:ArchiveClassesAtExit'=/x"},
        {"17", {}, "the option -XX:VMOptionsFile=a b in JAVA_TOOL_OPTIONS names a file of options, which may set "
                   "class-data sharing", "\"-XX:VMOptionsFile=a b\""},
        {"17.0.15", {"-Xmx1m", "-Xshare:off"}, "the option -Xshare:off sets class-data sharing itself"},
        {"17.0.15", {"-XX:Flags=.hotspotrc"}, "the option -XX:Flags=.hotspotrc names a file of options, which may set class-data sharing"},
        {"17.0.15", {"--limit-modules=java.base"}, "the option --limit-modules=java.base keeps a VM from making a cache (it would not start)"},
        {"25.0.3", {}, "the JDK has no " + jdk.root.file("jdk/bin/java") + " that this user may run, which makes the cache"},
        {"17.0.15", {folders}, "the class path holds the folder " + jdk.root.file("classes") + ", which is not empty"},
        {"17.0.15", {folders, "-Djava.class.path=" + jdk.jar}, ""},
        {"1.8.0_392", {}, "JDK 8 is older than 17"},
        {"", {}, "no JDK version found for " + jdk.library},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version + std::string(" ") + (c.options.empty() ? "" : c.options.back()));
        write_file(jdk.root.file("jdk/release"), std::string("JAVA_VERSION=\"") + c.version + "\"\n");
        setenv("JAVA_TOOL_OPTIONS", c.tool_options, 1);
        class_cache_plan planned;
        EXPECT_EQ(plan(jdk, c.options, &planned), c.refusal);
        unsetenv("JAVA_TOOL_OPTIONS");
        EXPECT_EQ(planned.used, c.refusal.empty());
        EXPECT_FALSE(std::filesystem::exists(jdk.cache)) << "planning made the folder";
        free_class_cache_plan(&planned);
    }
}

// The making of an AOT cache, by a java of the test's own that takes a
// second and makes what its first option asks for.
TEST(ClassCache, AotCacheIsMadeOnceTheLaunchEndedWithoutTheLaunchWaiting)
{
    const struct {
        const char* name;
        const char* made; // -Dmade=: a whole cache, nothing, or java's status
        bool recorded;    // the VM recorded whole
        bool main_ran;
        std::vector<std::string> kept;
        const char* logged; // after "3 Not keeping class cache archive in FOLDER: JAVA "
    } cases[] = {
        {"made whole", "whole", true, true, {".aot", ".sum"}, ""},
        {"java failed", "3", true, true, {}, "ended with status 3\n"},
        {"java made nothing", "nothing", true, true, {}, "made no whole cache\n"},
        {"main never ran", "whole", true, false, {}, ""},
        {"nothing recorded", "whole", false, true, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_jdk jdk("25.0.3");
        const std::string java = jdk.root.file("jdk/bin/java");
        std::filesystem::create_directories(jdk.root.file("jdk/bin"));
        write_file(java, "#!/bin/sh\nsleep 1\ncase $4 in -Dmade=whole) printf '\\242\\253\\013\\360\\0\\0\\0\\0\\0\\0\\0\\0' >\"${3#*=}\";; "
                         "-Dmade=nothing) ;; *) exit ${4#*=};; esac\n");
        ASSERT_EQ(chmod(java.c_str(), 0755), 0);
        const std::string log = jdk.root.file("log");
        setenv("VELTA_LOG_CAPTURE", log.c_str(), 1);
        std::string made = std::string("-Dmade=") + c.made;
        class_cache_plan planned;
        ASSERT_EQ(plan(jdk, {made}, &planned), "");
        JavaVMInitArgs args{JNI_VERSION_1_2, 1, static_cast<JavaVMOption*>(std::calloc(1, sizeof(JavaVMOption))), JNI_FALSE};
        args.options[0].optionString = made.data();
        ASSERT_EQ(ready_class_cache(&planned, &args), 0);
        ASSERT_EQ(pwrite(planned.memory_file, "\x7c\xa0\xfe\xca", c.recorded ? 4 : 0, 0), c.recorded ? 4 : 0);
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(finish_class_cache(&planned, c.main_ran), c.recorded && c.main_ran ? 1 : 0);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(500));
        // Meanwhile a launch goes without the cache.
        class_cache_plan other;
        plan(jdk, {made}, &other);
        EXPECT_TRUE(other.making || !(c.recorded && c.main_ran));
        free_class_cache_plan(&other);
        free_class_cache_plan(&planned);
        std::vector<std::string> suffixes;
        for (int i = 0; i < 200 && (i == 0 || std::count(suffixes.begin(), suffixes.end(), ".tmp") > 0); ++i) {
            usleep(20000);
            suffixes = names_in(jdk.cache);
            for (std::string& name : suffixes)
                name = name.substr(name.rfind('.'));
        }
        EXPECT_EQ(suffixes, c.kept);
        EXPECT_EQ(read_file(log), c.logged[0] == '\0' ? "" : "3 Not keeping class cache archive in " + jdk.cache + ": "
                                                             + java + " " + c.logged);
        for (int32_t i = 0; i < args.nOptions; ++i) {
            if (args.options[i].optionString != made.data())
                std::free(args.options[i].optionString);
        }
        std::free(args.options);
        unsetenv("VELTA_LOG_CAPTURE");
    }
}

} // namespace
