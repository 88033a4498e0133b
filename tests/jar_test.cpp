// SPDX-License-Identifier: Apache-2.0
// The jar reader against jars built here and jars other tools wrote
// (tests/data/jar). Each expected outcome is what java -jar did with such a
// jar: it ran (0), had no Main-Class (-2), or refused the jar (-1).
#include "launcher/jar.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::string jar_with(const std::string& manifest, uint64_t method = 8, const zip_layout& layout = {})
{
    return zip({{"META-INF/MANIFEST.MF", manifest, method}, {"a/B.class", "class bytes", 8}}, layout);
}

// The result and each attribute read, e.g. "0 Main-Class=[a.B]".
std::string outcome_of_file(const std::string& path)
{
    jar_manifest* manifest = nullptr;
    const int result = read_jar_manifest(path.c_str(), &manifest);
    std::string text = std::to_string(result);
    if ((result == 0) != (manifest != nullptr))
        text += " record does not match the result";
    if (manifest != nullptr) {
        const std::pair<const char*, const char*> fields[] = {
            {"Main-Class", manifest->main_class}, {"Class-Path", manifest->class_path}, {"Add-Opens", manifest->add_opens},
            {"Add-Exports", manifest->add_exports}, {"Enable-Native-Access", manifest->enable_native_access},
            {"Launcher-Agent-Class", manifest->launcher_agent_class}};
        for (const auto& [name, value] : fields) {
            if (value != nullptr)
                text += std::string(" ") + name + "=[" + value + "]";
        }
    }
    free_jar_manifest(manifest);
    return text;
}

std::string outcome_of(const std::string& jar)
{
    scratch_folder folder;
    write_file(folder.file("app.jar"), jar);
    return outcome_of_file(folder.file("app.jar"));
}

const std::string version = "Manifest-Version: 1.0\n";
// Lines of 511 bytes and an LF, the longest java takes.
std::string full_lines(int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "X-Pad: " + std::string(504, 'p') + "\n";
    return lines;
}

struct manifest_case {
    const char* name;
    std::string manifest;
    std::string outcome;
};

TEST(JarManifest, MainSectionReadAsJavaReadsIt)
{
    const std::string value_72 = "a.jar " + std::string(60, 'b') + ".jar c.jar";
    const std::string folded_72 = "Class-Path: " + value_72.substr(0, 60) + "\r\n " + value_72.substr(60) + "\r\n";
    const manifest_case cases[] = {
        {"lf", version + "Main-Class: a.B\n", "0 Main-Class=[a.B]"},
        {"crlf", "Manifest-Version: 1.0\r\nMain-Class: a.B\r\n\r\n", "0 Main-Class=[a.B]"},
        {"cr", "Manifest-Version: 1.0\rMain-Class: a.B\r", "0 Main-Class=[a.B]"},
        {"name in any case", "mAIN-cLASS: a.B\n", "0 Main-Class=[a.B]"},
        {"blanks and controls around Main-Class", "Main-Class: \t\x01 a.B \t\x1f\n", "0 Main-Class=[a.B]"},
        {"no-break space kept", "Main-Class: a.B\xc2\xa0\n", "0 Main-Class=[a.B\xc2\xa0]"},
        {"folded at 72 bytes", "Main-Class: a.B\r\n" + folded_72, "0 Main-Class=[a.B] Class-Path=[" + value_72 + "]"},
        {"folded inside the class name", "Main-Class: a.Lo\n n\n g\n", "0 Main-Class=[a.Long]"},
        {"a later duplicate wins", "Main-Class: a.First\nmain-class: a.Second\n", "0 Main-Class=[a.Second]"},
        {"NUL as JNI writes it", std::string("Main-Class: a.B\0x\n", 18), "0 Main-Class=[a.B\xc0\x80x]"},
        {"empty Main-Class", "Main-Class: \n", "0 Main-Class=[]"},
        {"every attribute kept",
         "Main-Class: a.B\nClass-Path: x.jar\nAdd-Opens: java.base/java.lang \nAdd-Exports: m/p\n"
         "Enable-Native-Access: ALL-UNNAMED\nLauncher-Agent-Class: a.Agent\nX-Other: y\n\nName: a/\nX: y\n",
         "0 Main-Class=[a.B] Class-Path=[x.jar] Add-Opens=[java.base/java.lang ] Add-Exports=[m/p] "
         "Enable-Native-Access=[ALL-UNNAMED] Launcher-Agent-Class=[a.Agent]"},
        {"line of 511 bytes", full_lines(1) + "Main-Class: a.B\n", "0 Main-Class=[a.B]"},
        {"name of 70 bytes", "X" + std::string(69, 'n') + ": y\nMain-Class: a.B\n", "0 Main-Class=[a.B]"},
        // A CR that fills java's line buffer takes its LF only where it ends an 8 KiB read.
        {"CR at line end 512 at a read's end", full_lines(15) + "X-Pad: " + std::string(504, 'p') + "\r\nMain-Class: a.B\n", "0 Main-Class=[a.B]"},
        {"CR at line end 512 elsewhere", full_lines(14) + "X-Pad: " + std::string(504, 'p') + "\r\nMain-Class: a.B\n", "-1"},
        {"last line without line end", version + "Main-Class: a.B", "-2"},
        {"continuation cut at the end", "Main-Class: a.B\n x", "-2"},
        {"Main-Class in a named section", version + "\nName: a/\nMain-Class: a.B\n", "-2"},
        {"empty manifest", "", "-2"},
        {"section without Name", version + "\nMain-Class: a.B\n", "-1"},
        {"bad line in a named section", "Main-Class: a.B\n\nName: a/\njunk\n", "-1"},
        {"continuation first", " x\nMain-Class: a.B\n", "-1"},
        {"no space after the colon", "Main-Class:a.B\n", "-1"},
        {"no colon", "junk\nMain-Class: a.B\n", "-1"},
        {"blank in a name", "Main Class: a.B\n", "-1"},
        {"name of 71 bytes", "X" + std::string(70, 'n') + ": y\nMain-Class: a.B\n", "-1"},
        {"byte-order mark", "\xef\xbb\xbf" + version + "Main-Class: a.B\n", "-1"},
        {"line of 512 bytes", "X-Pad: " + std::string(505, 'p') + "\nMain-Class: a.B\n", "-1"},
    };
    for (const manifest_case& c : cases) {
        for (const uint64_t method : {uint64_t{0}, uint64_t{8}}) {
            SCOPED_TRACE(std::string(c.name) + (method == 0 ? ", stored" : ", deflated"));
            EXPECT_EQ(outcome_of(jar_with(c.manifest, method)), c.outcome);
        }
    }
}

// `jar` with the little-endian field of `size` bytes at `offset` in the
// first record that starts with `signature` set to `value`.
std::string with_field(std::string jar, const char* signature, size_t offset, int size, uint64_t value)
{
    std::string field;
    put(field, value, size);
    return jar.replace(jar.find(std::string(signature, 4)) + offset, static_cast<size_t>(size), field);
}

struct zip_case {
    const char* name;
    std::function<std::string()> jar;
    const char* outcome;
};

TEST(JarManifest, ArchiveReadAsJavaReadsIt)
{
    const std::string manifest = version + "Main-Class: a.B\n";
    const std::string script = "#!/bin/sh\nexec java -jar \"$0\" \"$@\"\n";
    const std::string plain = jar_with(manifest);
    const std::string stored = jar_with(manifest, 0);
    const char* const central = "PK\1\2";
    const char* const end = "PK\5\6";
    const zip_case cases[] = {
        {"script in front", [&] { return jar_with(manifest, 8, {script, false, false, ""}); }, "0 Main-Class=[a.B]"},
        {"zip64 end record", [&] { return jar_with(manifest, 8, {"", true, false, ""}); }, "0 Main-Class=[a.B]"},
        {"zip64 after a script", [&] { return jar_with(manifest, 8, {script, true, false, ""}); }, "0 Main-Class=[a.B]"},
        {"zip64 extra fields", [&] { return jar_with(manifest, 0, {script, true, true, ""}); }, "0 Main-Class=[a.B]"},
        {"longest comment", [&] { return jar_with(manifest, 8, {"", false, false, std::string(65535, 'c')}); },
         "0 Main-Class=[a.B]"},
        {"lower-case manifest after the exact one",
         [&] { return zip({{"META-INF/MANIFEST.MF", "Main-Class: a.B\n"}, {"meta-inf/manifest.mf", "Main-Class: a.C\n"}}); },
         "0 Main-Class=[a.C]"},
        {"no manifest", [&] { return zip({{"a/B.class", "x"}}); }, "-2"},
        {"lower-case manifest only", [&] { return zip({{"meta-inf/manifest.mf", manifest}}); }, "-2"},
        {"manifest a folder", [&] { return zip({{"META-INF/MANIFEST.MF/", ""}}); }, "-2"},
        {"no entries", [&] { return zip({}); }, "-2"},
        {"comment cut short", [&] { return with_field(plain, end, 20, 2, 1); }, "-1"},
        {"bytes after the archive", [&] { return plain + '\0'; }, "-1"},
        {"zip64 locator not counting the script",
         [&] {
             const std::string jar = jar_with(manifest, 8, {script, true, false, ""});
             return with_field(jar, "PK\6\7", 8, 8, jar.find(std::string("PK\6\6", 4)) - script.size());
         },
         "-1"},
        {"directory larger than said", [&] { return with_field(plain, end, 12, 4, plain.size()); }, "-1"},
        {"directory elsewhere than said", [&] { return with_field(plain, end, 16, 4, 1); }, "-1"},
        {"more entries than room", [&] { return with_field(plain, end, 10, 2, 9); }, "-1"},
        {"encrypted entry", [&] { return zip({{"META-INF/MANIFEST.MF", manifest}, {"x", "y", 8, 1}}); }, "-1"},
        {"bzip2 entry", [&] { return zip({{"META-INF/MANIFEST.MF", manifest}, {"x", "y", 12}}); }, "-1"},
        {"name not UTF-8", [&] { return zip({{"META-INF/MANIFEST.MF", manifest}, {"\xc0\xaf", "y"}}); }, "-1"},
        {"bad local header", [&] { return with_field(stored, "PK\3\4", 3, 1, 5); }, "-1"},
        {"local header beyond the file", [&] { return with_field(stored, central, 42, 4, 0x7fffffff); }, "-1"},
        {"stored sizes differ", [&] { return with_field(stored, central, 20, 4, manifest.size() + 1); }, "-1"},
        {"stored data beyond the file", [&] { return with_field(with_field(stored, central, 20, 4, 99999), central, 24, 4, 99999); }, "-1"},
        {"deflated data cut", [&] { return with_field(plain, central, 20, 4, 5); }, "-1"},
        {"inflates to more than said", [&] { return with_field(plain, central, 24, 4, manifest.size() - 1); }, "-1"},
        {"inflates to less than said", [&] { return with_field(plain, central, 24, 4, manifest.size() + 1); }, "-1"},
        {"larger than java reads", [&] { return with_field(plain, central, 24, 4, jar_manifest_size_limit + 1); }, "-1"},
        {"a bomb", [&] { return with_field(jar_with(std::string(64 << 20, ' ')), central, 24, 4, 1000); }, "-1"},
    };
    for (const zip_case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome_of(c.jar()), c.outcome);
    }
    // Cut anywhere, or with any one byte changed, a jar is read or refused:
    // never a crash, never a record without Main-Class.
    for (size_t length = 0; length < plain.size(); ++length)
        EXPECT_EQ(outcome_of(plain.substr(0, length)), "-1") << "cut at " << length;
    for (size_t at = 0; at < plain.size(); ++at) {
        std::string changed = plain;
        changed[at] = static_cast<char>(changed[at] ^ 0x41);
        const std::string outcome = outcome_of(changed);
        EXPECT_TRUE(outcome == "-1" || outcome == "-2" || outcome.rfind("0 Main-Class=[", 0) == 0)
            << "byte " << at << ": " << outcome;
    }
}

TEST(JarManifest, JarsOfOtherWritersAreRead)
{
    // Made by the JDK's jar tool, by python3's zipfile (CR LF, folded, a
    // Main-Class folded inside), and by Debian's zip (a script in front, zip
    // -A, extra fields of its own); java -jar takes each.
    const char* const cases[][2] = {
        {"jdk_jar_tool.jar", "0 Main-Class=[velta.Main] Class-Path=[lib/a.jar lib/b.jar] Add-Opens=[java.base/java.lang]"},
        {"python_zipfile.jar", "0 Main-Class=[velta.Main] Class-Path=[lib/library-00.jar lib/library-01.jar "
                               "lib/library-02.jar lib/library-03.jar lib/library-04.jar lib/library-05.jar]"},
        {"debian_zip_script.jar", "0 Main-Class=[velta.Main]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(outcome_of_file(std::string(VELTA_TEST_DATA "/jar/") + c[0]), c[1]);
        EXPECT_EQ(jar_lists_entry((std::string(VELTA_TEST_DATA "/jar/") + c[0]).c_str(), "velta/Main.class"), 1);
    }
}

TEST(JarListsEntry, FindsExactNamesAndRefusesWhatIsNoJar)
{
    scratch_folder folder;
    make_strange_files(folder);
    write_file(folder.file("app.jar"), zip({{"a/B.class", "x"}, {"a/", ""}}, {"#!/bin/sh\n", false, false, ""}));
    write_file(folder.file("text.jar"), "not a zip");
    const std::tuple<std::string, const char*, int> cases[] = {
        {folder.file("app.jar"), "a/B.class", 1},
        {folder.file("app.jar"), "a/", 1},
        {folder.file("app.jar"), "a/b.class", 0},
        {folder.file("app.jar"), "a/B", 0},
        {folder.file("text.jar"), "a/B.class", -1},
        {folder.path, "a/B.class", -1},
        {"/dev/null", "a/B.class", -1},
        {folder.file("missing.jar"), "a/B.class", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::get<0>(c) + " " + std::get<1>(c));
        EXPECT_EQ(jar_lists_entry(std::get<0>(c).c_str(), std::get<1>(c)), std::get<2>(c));
    }
    // Nothing that is no regular file is read, and nothing blocks (a FIFO
    // without writer would); a sparse file of zeros is no zip.
    for (const char* name : {"fifo", "socket", "2GiB.conf", "int32max.conf", "dangling.conf", "loop.conf"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(jar_lists_entry(folder.file(name).c_str(), "a/B.class"), jar_unreadable);
        EXPECT_EQ(outcome_of_file(folder.file(name)), "-1");
    }
}

TEST(JarClassPath, ResolvedAsTheClassLoaderResolvesIt)
{
    // The jar is reached through a link; its real folder's name holds "%41"
    // and a space, which must come out as they are.
    scratch_folder scratch;
    char real_scratch[PATH_MAX];
    ASSERT_NE(realpath(scratch.path.c_str(), real_scratch), nullptr);
    const std::string real = std::string(real_scratch) + "/r%41 l";
    ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
    ASSERT_EQ(symlink(real.c_str(), scratch.file("link").c_str()), 0);
    write_file(real + "/app.jar", "");
    const std::string r = real + "/";
    const std::pair<std::string, std::string> cases[] = {
        {"lib/a.jar lib/b.jar", r + "lib/a.jar|" + r + "lib/b.jar|"},
        {"\ta%20b.jar\f%C3%A9.jar  lib%2Fc.jar%2F", r + "a b.jar|" + r + "\xc3\xa9.jar|" + r + "lib/c.jar|"},
        {"/opt/x.jar file:/opt/y.jar file:///opt/z.jar FILE://LocalHost/opt/w.jar url:file:v.jar",
         "/opt/x.jar|/opt/y.jar|/opt/z.jar|/opt/w.jar|" + r + "v.jar|"},
        {"classes/ ./ . ../up/ a/./b/../c.jar /opt/../x.jar", r + "classes/|" + r + "|" + r + "|" +
                                                                   std::string(real_scratch) + "/up/|" + r + "a/c.jar|/opt/../x.jar|"},
        {"x.jar#frag q?x.jar", r + "x.jar|" + r + "q?x.jar|"},
        {"bad%zz.jar bad%ff.jar %C3.jar %4 %00.jar http://h/x.jar jar:file:/x.jar!/ //host/x.jar #frag", ""},
        {"   ", ""},
    };
    for (const auto& [class_path, expected] : cases) {
        SCOPED_TRACE(class_path);
        int32_t count = -1;
        char** paths = nullptr;
        ASSERT_EQ(resolve_jar_class_path(scratch.file("link/app.jar").c_str(), class_path.c_str(), &count, &paths), 0);
        std::string listed;
        for (int32_t i = 0; i < count; ++i)
            listed += std::string(paths[i]) + "|";
        EXPECT_EQ(listed, expected);
        EXPECT_EQ(paths == nullptr, count == 0);
        free_jar_class_path(count, paths);
    }
    // A scheme the VM has no handler for leaves the jar out whole; a jar
    // that is not there is left out too.
    int32_t count = -1;
    char** paths = reinterpret_cast<char**>(&count);
    EXPECT_EQ(resolve_jar_class_path((r + "app.jar").c_str(), "a.jar x:y.jar", &count, &paths), jar_left_out);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(paths, nullptr);
    EXPECT_EQ(resolve_jar_class_path((r + "gone.jar").c_str(), "a.jar", &count, &paths), jar_unreadable);

    // The class loader reads Class-Path from the manifest the class library
    // reads, whatever its case and with or without Main-Class.
    const std::pair<std::string, std::string> manifests[] = {
        {zip({{"META-INF/MANIFEST.MF", "Class-Path: a.jar\n"}, {"meta-inf/manifest.mf", "Class-Path: b.jar\n"}}), "b.jar"},
        {zip({{"META-INF/MANIFEST.MF", "Main-Class: a.B\n"}}), ""},
        {zip({{"a/B.class", "x"}}), ""},
    };
    for (const auto& [jar, class_path] : manifests) {
        write_file(r + "lib.jar", jar);
        char* value = nullptr;
        EXPECT_EQ(read_jar_class_path((r + "lib.jar").c_str(), &value), 0);
        EXPECT_EQ(value != nullptr ? value : "", class_path);
        std::free(value);
    }
    char* none = nullptr;
    EXPECT_EQ(read_jar_class_path((r + "gone.jar").c_str(), &none), jar_unreadable);
}

TEST(JarAllocation, EveryFailedAllocationEndsCleanly)
{
    scratch_folder folder;
    const std::string long_value = std::string(300, 'v');
    write_file(folder.file("app.jar"), jar_with("Main-Class: a.B\nClass-Path: " + long_value + " a.jar\n b.jar\nAdd-Opens: "
                                                + long_value + "\nMain-Class: a.C\n"));
    const std::string jar = folder.file("app.jar");
    int sites = 0;
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        jar_manifest* manifest = nullptr;
        int32_t count = 0;
        char** paths = nullptr;
        allocations = {true, 0, n, 0};
        int result = read_jar_manifest(jar.c_str(), &manifest);
        if (result == 0)
            result = resolve_jar_class_path(jar.c_str(), manifest->class_path, &count, &paths);
        const bool completed = allocations.calls < n;
        allocations.fail_at = 0;
        if (completed) {
            EXPECT_EQ(result, 0);
            EXPECT_STREQ(manifest->main_class, "a.C");
            EXPECT_EQ(count, 2);
        } else {
            EXPECT_EQ(result, jar_out_of_memory);
            EXPECT_EQ(paths, nullptr);
        }
        free_jar_class_path(count, paths);
        free_jar_manifest(manifest);
        EXPECT_EQ(allocations.live, 0);
        allocations.counting = false;
        if (completed)
            break;
        sites = n;
    }
    std::printf("read_jar_manifest and resolve_jar_class_path: %d allocation failure sites driven\n", sites);
}

} // namespace
