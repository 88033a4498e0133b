// SPDX-License-Identifier: Apache-2.0
#include "config/config.h"
#include "tests/support/config_text.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

TEST(ConfigReadFile, DataFilesGiveTheirExpectedRecords)
{
    const std::string data = VELTA_TEST_DATA "/";
    // The line_ends files differ only in their line ends, so share one dump.
    const char* const cases[][2] = {{"line_ends_lf", "line_ends"},    {"line_ends_crlf", "line_ends"},
                                    {"line_ends_cr", "line_ends"},    {"line_ends_mixed", "line_ends"},
                                    {"nul_inside", "nul_inside"},     {"byte_order_mark", "byte_order_mark"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        const std::string expected = read_file(data + c[1] + ".expected");
        ASSERT_FALSE(expected.empty());
        const config_ptr root(read_config_file((data + c[0] + ".conf").c_str()));
        EXPECT_EQ(dump_config(root.get()), expected);
    }
}

class ConfigReadTemp : public testing::Test {
protected:
    std::string write(const char* name, const std::string& content) const
    {
        write_file(scratch.file(name), content);
        return scratch.file(name);
    }

    scratch_folder scratch;
    const std::string dir = scratch.path;
};

TEST_F(ConfigReadTemp, ReadsARegularFileWhole)
{
    const config_ptr root(read_config_file(write("plain.conf", "[s]\nk=v").c_str()));
    EXPECT_EQ(dump_config(root.get()), "[s]\nk=v\n");
}

// Lines of varied length with mixed line ends, so that line ends, CR LF
// pairs and escapes fall on every offset of the reader's buffer.
std::string many_lines(std::size_t size)
{
    std::string text = "[s]\n";
    static const char* const line_ends[] = {"\n", "\r\n", "\r"};
    for (std::size_t i = 0; text.size() < size; ++i)
        text += "k" + std::to_string(i) + " = v^41" + std::string(i % 37, 'x') + line_ends[i % 3];
    return text;
}

TEST_F(ConfigReadTemp, ReadsAFileLargerThanItsBufferAsOneText)
{
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"many lines", many_lines(300000)},
        {"a line longer than the buffer", many_lines(1000) + "long = " + std::string(200000, 'v') + "\nlast\n"},
        {"a header that runs to the end", many_lines(1000) + "[open" + many_lines(150000)},
        {"a NUL far into the file", many_lines(100000) + std::string(1, '\0') + many_lines(100000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const config_ptr expected(parse_config_text(c.text.c_str()));
        ASSERT_NE(expected, nullptr);
        const config_ptr root(read_config_file(write("large.conf", c.text).c_str()));
        EXPECT_EQ(dump_config(root.get()), dump_config(expected.get()));
    }
}

TEST_F(ConfigReadTemp, GivesNullForWhatIsNotAConfiguration)
{
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string cases[] = {
        write("empty.conf", ""), write("headless.conf", "k=v\n"), dir + "/missing.conf", dir, "/dev/null", fifo,
    };
    for (const std::string& path : cases) {
        SCOPED_TRACE(path);
        // Opening a FIFO must not wait for a writer; a hang ends the test here.
        alarm(10);
        const config_ptr root(read_config_file(path.c_str()));
        alarm(0);
        EXPECT_EQ(root, nullptr);
    }
}

TEST_F(ConfigReadTemp, GivesNullForAnUnreadableFile)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads files whatever their mode";
    const std::string path = write("locked.conf", "[s]\nk=v\n");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    EXPECT_EQ(read_config_file(path.c_str()), nullptr);
}

} // namespace
