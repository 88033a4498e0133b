// The class cache's decisions on a scratch JDK and folder: the digest, the
// folder rules, the JDK version, the options it adds and the rename at exit.
// What it logs goes to the file VELTA_LOG_CAPTURE names (log_capture.cpp).
#include "launcher/class_cache.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

// A JDK of `version` with a stand-in libjvm.so, a jar, and a cache folder yet to be made.
struct scratch_jdk {
    scratch_folder root;
    std::string library = root.file("jdk/lib/server/libjvm.so");
    std::string jar = root.file("app.jar");
    std::string cache = root.file("cache");
    std::string refused = "3 Not using class cache " + cache + ": ";
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
    const auto count = static_cast<int32_t>(options.size());
    EXPECT_EQ(make_class_cache_digest(jdk.library.c_str(), main_class, options.data(), count, &digest), 0);
    return digest;
}

// prepare_class_cache; returns what it logged.
std::string prepare(const scratch_jdk& jdk, std::vector<std::string> texts, class_cache_plan* plan)
{
    const std::string log = jdk.root.file("syslog");
    std::filesystem::remove(log);
    setenv("VELTA_LOG_CAPTURE", log.c_str(), 1);
    std::vector<JavaVMOption> options = make_options(texts);
    const int result = prepare_class_cache(jdk.cache.c_str(), jdk.library.c_str(), "app.Main", options.data(),
                                           static_cast<int32_t>(options.size()), plan);
    EXPECT_EQ(result == 0, plan->option != nullptr);
    return read_file(log);
}

// Writes `bytes` to `path` and sets its old modification time moved by `seconds`.
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

TEST(ClassCache, FolderIsUsedOnlyWhenNoOneElseCanWriteIt)
{
    const struct {
        const char* name;
        mode_t mode;     // of a folder made for the case; 0 for none
        uid_t owner;
        const char* cause;
    } cases[] = {
        {"group may read", 0750, 0, nullptr},
        {"group may write", 0770, 0, "writable by group or others"},
        {"others may write, sticky", 01703, 0, "writable by group or others"},
        {"another user's", 0700, 4242, "owned by another user"},
        {"a file", 0, 0, "not a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_folder scratch;
        const std::string folder = scratch.file("cache");
        if (c.mode == 0)
            write_file(folder, "");
        else
            ASSERT_TRUE(mkdir(folder.c_str(), 0) == 0 && chmod(folder.c_str(), c.mode) == 0);
        if (c.owner != 0 && (geteuid() != 0 || chown(folder.c_str(), c.owner, 0) != 0))
            continue; // only root can give a folder away
        EXPECT_STREQ(check_class_cache_folder(folder.c_str()), c.cause);
    }
    EXPECT_STREQ(check_class_cache_folder("/nonexistent/cache"), "No such file or directory");

    // A missing folder is made for this user alone, whatever the umask.
    scratch_folder scratch;
    const mode_t mask = umask(0);
    EXPECT_EQ(check_class_cache_folder(scratch.file("made").c_str()), nullptr);
    umask(mask);
    struct stat info;
    ASSERT_EQ(stat(scratch.file("made").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
}

TEST(ClassCache, MajorVersionComesFromTheReleaseFile)
{
    const std::pair<const char*, int> cases[] = {
        {"JAVA_VERSION=\"17.0.15\"\n", 17}, {"A=1\nJAVA_VERSION=\"25.0.3\"\n", 25}, {"JAVA_VERSION=\"1.8.0_392\"", 8},
        {"JAVA_VERSION=21", 21}, {"JAVA_VERSION=\"19-ea\"", 19}, {"JAVA_RUNTIME_VERSION=\"17.0.15\"\n", -1},
        {"X_JAVA_VERSION=\"17\"\n", -1}, {"JAVA_VERSION=\"\"", -1}, {"", -1}, {"JAVA_VERSION=\"123456789012\"", -1},
    };
    for (const auto& [text, major] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parse_java_major_version(text), major);
    }
    scratch_jdk jdk("25.0.3");
    EXPECT_EQ(read_java_major_version(jdk.library.c_str()), 25);
    EXPECT_EQ(read_java_major_version(jdk.jar.c_str()), -1);
}

// A JDK 17 archive's header (version 11) with one region of `length` bytes at 4096, in a file of `size` bytes.
std::string jdk17_archive(uint64_t length, size_t size)
{
    std::string bytes = std::string("\xa8\xab\x0b\xf0\0\0\0\0\x0b\0\0\0", 12) + std::string(size - 12, '\0');
    const uint64_t offset = 4096;
    bytes.replace(16 + 24, 8, reinterpret_cast<const char*>(&offset), 8);
    return bytes.replace(16 + 40, 8, reinterpret_cast<const char*>(&length), 8);
}

TEST(ClassCache, ArchiveIsWrittenUnderATempNameAndMappedOnlyWhenWhole)
{
    const struct {
        const char* name;
        std::string file; // what the VM left at the temp name, or what lies at the archive's name
        bool whole;
    } cases[] = {
        {"no header yet: a VM stopped while writing", std::string(8192, '\0'), false},
        {"a header", std::string("\xa8\xab\x0b\xf0", 4) + "crc version regions", true},
        {"a JDK 17 archive cut short", jdk17_archive(100, 4195), false},
        {"a whole JDK 17 archive", jdk17_archive(100, 4196), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_jdk jdk;
        class_cache_plan plan;
        EXPECT_EQ(prepare(jdk, {"-Xmx64m"}, &plan), "");
        const std::string archive = plan.archive;
        const std::string temp = plan.temp_archive;
        EXPECT_EQ(archive.size(), jdk.cache.size() + sizeof "/0123456789abcdef.jsa" - 1);
        EXPECT_EQ(temp, archive.substr(0, archive.size() - 4) + "." + std::to_string(getpid()) + ".tmp");
        EXPECT_STREQ(plan.option, ("-XX:ArchiveClassesAtExit=" + temp).c_str());
        EXPECT_FALSE(std::filesystem::exists(temp)); // nothing is left if the VM never writes it
        write_file(temp, c.file);
        EXPECT_EQ(finish_class_cache(&plan, true), c.whole ? 1 : 0);
        EXPECT_EQ(finish_class_cache(&plan, true), 0);
        EXPECT_FALSE(std::filesystem::exists(temp));
        EXPECT_EQ(read_file(archive), c.whole ? c.file : "");
        free_class_cache_plan(&plan);

        // Whatever lies at the archive's name is mapped only when whole, else removed.
        write_file(archive, c.file);
        prepare(jdk, {"-Xmx64m"}, &plan);
        const std::string option = c.whole ? "-XX:SharedArchiveFile=" + archive : "-XX:ArchiveClassesAtExit=" + temp;
        EXPECT_STREQ(plan.option, option.c_str());
        EXPECT_EQ(std::filesystem::exists(archive), c.whole);
        free_class_cache_plan(&plan);

        // A run whose program never ran keeps nothing.
        std::filesystem::remove(archive);
        prepare(jdk, {"-Xmx64m"}, &plan);
        write_file(temp, c.file);
        EXPECT_EQ(finish_class_cache(&plan, false), 0);
        EXPECT_FALSE(std::filesystem::exists(temp) || std::filesystem::exists(archive));
        free_class_cache_plan(&plan);
    }
}

TEST(ClassCache, RefusesWithTheCauseAndAddsNothing)
{
    scratch_jdk jdk;
    std::filesystem::create_directories(jdk.root.file("classes/app"));
    std::filesystem::create_directories(jdk.root.file("empty"));
    const std::string folders =
        "-Djava.class.path=" + jdk.jar + ":" + jdk.root.file("empty") + "::" + jdk.root.file("classes");
    const std::string sets_sharing = " sets class-data sharing itself\n";
    const struct {
        std::vector<std::string> options;
        std::string logged; // "" when the cache is used
    } cases[] = {
        {{"-Xshare:auto"}, ""},
        {{"-Xmx1m", "-Xshare:off"}, jdk.refused + "the option -Xshare:off" + sets_sharing},
        {{"-XX:SharedArchiveFile=/a.jsa"}, jdk.refused + "the option -XX:SharedArchiveFile=/a.jsa" + sets_sharing},
        {{folders},
         jdk.refused + "the class path holds the folder " + jdk.root.file("classes") + ", which is not empty\n"},
        {{folders, "-Djava.class.path=" + jdk.jar}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options[0]);
        class_cache_plan plan;
        EXPECT_EQ(prepare(jdk, c.options, &plan), c.logged);
        free_class_cache_plan(&plan);
    }
    class_cache_plan plan;
    chmod(jdk.cache.c_str(), 0777);
    EXPECT_EQ(prepare(jdk, {}, &plan), jdk.refused + "writable by group or others\n");
    scratch_jdk old("11.0.2");
    EXPECT_EQ(prepare(old, {}, &plan), old.refused + "JDK 11 is older than 17\n");
    EXPECT_FALSE(std::filesystem::exists(old.cache));
    scratch_jdk unknown("");
    EXPECT_EQ(prepare(unknown, {}, &plan), unknown.refused + "no JDK version found for " + unknown.library + "\n");
}

} // namespace
