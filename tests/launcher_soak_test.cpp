// SPDX-License-Identifier: Apache-2.0
// Many real runs of velta-java, two at a time, on every JDK under
// /usr/lib/jvm, each with its own valid configuration: Java programs that
// echo, exit with a status, leave a thread running or throw, under varied
// VM options, section names, line ends and comments. Every run's exit
// status, log and output are checked. VELTA_SOAK_RUNS sets the number of
// runs (default 40); tests/soak runs the full soak.
#include "tests/support/jdks.h"
#include "tests/support/run_process.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct soak_run {
    std::string description;
    std::string section;      // the launcher section named on the command line
    std::string config;       // with "{out}" where the output file goes
    int status;
    std::string out;          // what the program wrote to ${out}
    std::string errors_start; // what standard error begins with
};

std::string echo_tail(const std::string& value)
{
    return "java.class.path " VELTA_TEST_JAR ":/nonexistent\nvelta.flag \nvelta.value " + value + "\n";
}

// The configuration and expectations of run `index`: every choice follows
// from the index, so a failing run can be repeated.
soak_run make_run(int index, const std::vector<jdk>& jdks)
{
    const auto pick = [index](int divisor, int count) { return index / divisor % count; };
    // Each program in turn runs on each JDK.
    const jdk& vm = jdks[static_cast<size_t>(index + index / 4) % jdks.size()];
    static const char* const option_sets[] = {"-Xmx64m\n", "-Xmx96m\n-Xss1m\n-XX:+UseSerialGC\n",
                                              "-Xcheck:jni\n-Xmx64m\n", "-Xshare:auto\n-XX:TieredStopAtLevel=1\n-Xmx64m\n"};
    static const char* const line_ends[] = {"\n", "\r\n", "\r"};
    const std::string value = std::to_string(index);

    soak_run run;
    std::string launcher_keys;
    switch (pick(1, 4)) {
    case 0: {
        const std::string arguments = "run " + value + " \"two words\" 'it\"s' \xc3\xbc";
        launcher_keys = "mainclass=velta.test.Echo\nmainargs=" + arguments + "\n";
        run = {"Echo", "", "", 0, "count 5\n[run]\n[" + value + "]\n[two words]\n[it\"s]\n[\xc3\xbc]\n" + echo_tail(value), ""};
        break;
    }
    case 1: {
        const int status = index % 7;
        launcher_keys = "mainclass=velta.test.Exit\nmainargs=" + std::to_string(status) + "\n";
        run = {"Exit " + std::to_string(status), "", "", status, "", ""};
        break;
    }
    case 2:
        launcher_keys = "mainclass=velta.test.Linger\n";
        run = {"Linger", "", "", 0, "lingered\n", ""};
        break;
    default:
        launcher_keys = "mainclass=velta.test.Throws\n";
        run = {"Throws", "", "", 0, "", "Exception in thread \"main\" java.lang.IllegalStateException: thrown by velta.test.Throws"};
        break;
    }

    // Either the default section names, or a launcher section of its own
    // naming its sections.
    const bool own_sections = pick(4, 2) == 1;
    run.section = own_sections ? "app" + value : "java";
    const std::string prefix = own_sections ? "app" + value + "." : "java.";
    std::string config = "# soak run " + value + "\n[" + run.section + "]\njvm = " + vm.libjvm + "\n" + launcher_keys;
    if (own_sections)
        config += "classpaths=" + prefix + "classpaths\noptions:" + prefix + "options\nproperties=" + prefix + "properties\n";
    config += "\n[" + prefix + "classpaths]\n" VELTA_TEST_JAR "\n/nonexistent\n; options\n[" + prefix + "options]\n"
        + option_sets[pick(8, 4)] + "[" + prefix + "properties]\nvelta.out = {out}\nfile.encoding=UTF-8\nvelta.flag\n"
        + "velta.value: " + value + "\n";
    const std::string line_end = line_ends[pick(32, 3)];
    for (const char c : config)
        run.config += c == '\n' ? line_end : std::string(1, c);
    run.description = "run " + value + ": " + run.description + " on " + vm.name + " in [" + run.section + "]";
    return run;
}

// Runs one soak run and returns what was wrong with it, or "".
std::string check_run(const soak_run& run)
{
    scratch_folder scratch;
    std::string config = run.config;
    config.replace(config.find("{out}"), 5, scratch.file("out"));
    write_file(scratch.file("run.conf"), config);
    const launch_result result = launch({VELTA_JAVA, run.section, scratch.file("run.conf")});
    const process_result& process = result.process;
    std::string wrong;
    if (process.status != run.status)
        wrong += " status " + std::to_string(process.status);
    if (!result.logged.empty())
        wrong += " logged: " + result.logged;
    if (const std::string out = read_file(scratch.file("out")); out != run.out)
        wrong += " wrote: " + out.substr(0, 200);
    if (!process.output.empty())
        wrong += " printed: " + process.output.substr(0, 200);
    if (process.errors.compare(0, run.errors_start.size(), run.errors_start) != 0
        || (run.errors_start.empty() && !process.errors.empty()))
        wrong += " errors: " + process.errors.substr(0, 400);
    return wrong;
}

int soak_runs()
{
    const char* runs = std::getenv("VELTA_SOAK_RUNS");
    return runs != nullptr ? std::atoi(runs) : 40;
}

TEST(Soak, EveryRunOfManyExitsAndWritesAsItsConfigurationSays)
{
    const std::vector<jdk> jdks = installed_jdks();
    ASSERT_FALSE(jdks.empty());
    const int runs = soak_runs();

    std::atomic<int> next{0};
    std::mutex results_lock;
    std::vector<std::string> failures;
    double slowest_seconds = 0;
    std::string slowest;
    const auto worker = [&] {
        for (int index = next++; index < runs; index = next++) {
            const soak_run run = make_run(index, jdks);
            const auto start = std::chrono::steady_clock::now();
            const std::string wrong = check_run(run);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const std::lock_guard<std::mutex> hold(results_lock);
            if (!wrong.empty())
                failures.push_back(run.description + ":" + wrong);
            if (seconds > slowest_seconds) {
                slowest_seconds = seconds;
                slowest = run.description;
            }
        }
    };
    std::thread second(worker);
    worker();
    second.join();

    for (const std::string& failure : failures)
        ADD_FAILURE() << failure;
    std::printf("soak: %d runs on %zu JDKs, two at a time: %zu failed; slowest %.2f s (%s)\n", runs, jdks.size(),
                failures.size(), slowest_seconds, slowest.c_str());
    testing::Test::RecordProperty("runs", runs);
    testing::Test::RecordProperty("failures", static_cast<int>(failures.size()));
}

} // namespace
