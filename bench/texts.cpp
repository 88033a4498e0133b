// SPDX-License-Identifier: Apache-2.0
#include "bench/texts.h"

#include <cstdio>

namespace {

// Appends `line` and its line end when both fit in `size`; returns whether
// they did.
bool append_line(std::string& text, std::size_t size, const char* line, std::size_t& line_number)
{
    const char* line_end = line_number % 3 == 2 ? "\r\n" : "\n";
    const std::string whole = std::string(line) + line_end;
    if (text.size() + whole.size() > size)
        return false;
    text += whole;
    ++line_number;
    return true;
}

// One line of the class-path section: mostly plain jar paths, some with an
// escaped blank, now and then an indented comment.
void make_class_path_line(char* line, std::size_t capacity, std::size_t i)
{
    if (i % 23 == 22)
        std::snprintf(line, capacity, "  # group %03zu of the class path", i / 23 % 1000);
    else if (i % 9 == 8)
        std::snprintf(line, capacity, "/opt/velta-bench/lib/with^20blank/artifact-%06zu.jar", i % 1000000);
    else
        std::snprintf(line, capacity, "/opt/velta-bench/lib/group-%03zu/artifact-%06zu-1.2.3.jar", i / 23 % 1000,
                      i % 1000000);
}

// One line of the properties section: "=" and ":" separators, blanks to
// trim, escapes, comments and blank lines.
void make_property_line(char* line, std::size_t capacity, std::size_t i)
{
    const std::size_t n = i % 1000000;
    if (i % 40 == 39)
        std::snprintf(line, capacity, "; a comment between properties %06zu", n);
    else if (i % 25 == 24)
        line[0] = '\0';
    else if (i % 11 == 10)
        std::snprintf(line, capacity, "bench.escaped.%06zu = ^20lead^3Dequals^5Ecaret^2Ccomma^20", n);
    else if (i % 7 == 6)
        std::snprintf(line, capacity, "  bench.padded.%06zu   =   padded value %06zu  \t", n, n);
    else if (i % 5 == 4)
        std::snprintf(line, capacity, "bench.setting.%06zu: value-%06zu with a colon: kept", n, n);
    else
        std::snprintf(line, capacity, "bench.property.%06zu = value-%06zu", n, n);
}

// Line `i` of the small sections, six lines each: a header, a comment, three
// properties and a blank line.
void make_module_line(char* line, std::size_t capacity, std::size_t i)
{
    const std::size_t module = i / 6 % 1000000;
    switch (i % 6) {
    case 0:
        std::snprintf(line, capacity, "[module.%06zu]", module);
        break;
    case 1:
        std::snprintf(line, capacity, "# settings of module %zu", module);
        break;
    case 2:
        std::snprintf(line, capacity, "name = module-%06zu", module);
        break;
    case 3:
        std::snprintf(line, capacity, "enabled: true");
        break;
    case 4:
        std::snprintf(line, capacity, "path = /srv/module/%06zu/data", module);
        break;
    default:
        line[0] = '\0';
    }
}

} // namespace

std::string make_benchmark_config(std::size_t size, const std::string& jvm_library)
{
    std::string text = "# A configuration generated for velta-java's benchmarks.\n"
                       "[java]\n"
                       "jvm = " + jvm_library + "\n"
                       "mainclass = velta.bench.Hello\n"
                       "mainargs = first \"second, with spaces\" 'third'\n"
                       "classpaths = bench.classpaths\n"
                       "options = bench.options\n"
                       "properties = bench.properties\n"
                       "\n"
                       "[bench.options]\n"
                       "-Xmx256m\n"
                       "-Xss1m\n"
                       "\n"
                       "[bench.classpaths]\n";
    if (text.size() >= size)
        return text.substr(0, size);

    const std::size_t body = size - text.size();
    const std::size_t class_path_end = text.size() + body * 2 / 5;
    const std::size_t properties_end = text.size() + body * 4 / 5;
    std::size_t line_number = 0;
    char line[160];
    for (std::size_t i = 0; text.size() < class_path_end; ++i) {
        make_class_path_line(line, sizeof line, i);
        if (!append_line(text, size, line, line_number))
            break;
    }
    if (append_line(text, size, "[bench.properties]", line_number)) {
        for (std::size_t i = 0; text.size() < properties_end; ++i) {
            make_property_line(line, sizeof line, i);
            if (!append_line(text, size, line, line_number))
                break;
        }
        for (std::size_t i = 0;; ++i) {
            make_module_line(line, sizeof line, i);
            if (!append_line(text, size, line, line_number))
                break;
        }
    }
    // Blank lines make up the exact size.
    text.append(size - text.size(), '\n');
    return text;
}

std::string make_benchmark_arguments(std::size_t size)
{
    static const char* const pieces[] = {
        "--port", "8080", "\"a value with spaces\"", "'single quoted, \"with\" doubles'", "plain-argument",
        "\"\"", "--name=velta", "'x'", "/var/lib/velta/data/file-name.txt", "-v",
    };
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i) {
        text += pieces[i % (sizeof pieces / sizeof pieces[0])];
        text += i % 4 == 3 ? "   " : " ";
    }
    text.resize(size);
    return text;
}
