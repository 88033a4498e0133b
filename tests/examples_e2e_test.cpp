// SPDX-License-Identifier: Apache-2.0
// The examples through the real velta-java on the JDK the build found: the
// sample as the README runs it, the heartbeat service until it ends by
// itself or, with the service's own configuration, is stopped the way systemd
// stops it, and the bundle wherever it is copied.
#include "tests/support/run_process.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

extern char** environ;

namespace {

std::string heartbeat_config(const std::string& main_arguments, const std::string& interval)
{
    return "[heartbeat]\njvm=" VELTA_BUILD_JVM "\nmainclass=velta.example.Heartbeat\nmainargs=" + main_arguments
         + "\n[java.classpaths]\n" VELTA_HEARTBEAT_JAR "\n[java.properties]\nheartbeat.interval=" + interval + "\n";
}

TEST(Examples, TheSampleRunsWithItsBuildConfiguration)
{
    const process_result result = run_process({VELTA_JAVA, "sample", VELTA_SAMPLE_CONF}, {});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.output.rfind("Hello from ", 0), 0u) << result.output;
    EXPECT_NE(result.output.find("  argument 1: second, with spaces\n  argument 2: third\n  sample.greeting = Hello, world\n"),
              std::string::npos) << result.output;
}

TEST(Examples, TheHeartbeatBeatsAsOftenAsAskedAndSaysWhenItStops)
{
    scratch_folder scratch;
    write_file(scratch.file("c.conf"), heartbeat_config("3", "20"));
    const process_result result = run_process({VELTA_JAVA, "heartbeat", scratch.file("c.conf")}, {});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output.substr(result.output.find('\n') + 1),
              "heartbeat: beat 1\nheartbeat: beat 2\nheartbeat: beat 3\nheartbeat: stopping\n");
}

TEST(Examples, TheServiceConfigurationStopsCleanlyOnSigtermWithStatus143)
{
    scratch_folder scratch;
    // No beat comes before the stop, ten seconds after the start: its line
    // would race the shutdown hook's.
    std::string config = VELTA_HEARTBEAT_CONF;
    std::string program = VELTA_JAVA;
    std::string section = "heartbeat";
    char* argv[] = {program.data(), section.data(), config.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, scratch.file("out").c_str(), O_WRONLY | O_CREAT, 0600);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, argv[0], &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // SIGTERM is sent once the VM runs main, so that its handler is in place.
    for (int waited = 0; waited < 600 && read_file(scratch.file("out")).find("started") == std::string::npos; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(child, SIGTERM);
    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
    }
    ASSERT_TRUE(WIFEXITED(wait_status)) << "ended by signal " << WTERMSIG(wait_status);
    EXPECT_EQ(WEXITSTATUS(wait_status), 143);
    const std::string output = read_file(scratch.file("out"));
    EXPECT_NE(output.find(" ms\nheartbeat: stopping\n"), std::string::npos) << output;
}

TEST(Examples, TheBundleRunsFromEachCopyAndThroughALinkFromAnotherFolder)
{
    namespace fs = std::filesystem;
    scratch_folder scratch;
    const std::string places = fs::canonical(scratch.path).string();
    fs::create_directories(places + "/elsewhere");
    const std::string path = fs::path(VELTA_JAVA).parent_path().string() + ":" + std::getenv("PATH");
    // Copies run through their script, named relative to the working folder or
    // by a link (with a velta-java of its own), and through velta-java.
    const struct {
        std::vector<std::string> arguments;
        std::string folder;
        std::string named_folder; // as ${CONFDIR} gives it
        std::string path; // velta-java's folder is not on the second's PATH
    } cases[] = {
        {{"../one/velta-bundle", "two words", ""}, places + "/one", places + "/one", path},
        {{"./linked", "two words", ""}, places + "/three", places + "/three", std::getenv("PATH")},
        {{VELTA_JAVA, "bundle", places + "/two/app/bundle.conf", "two words", ""}, places + "/two/app", places + "/two/app", path},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        fs::create_directories(fs::path(c.folder).parent_path());
        fs::copy(VELTA_BUNDLE, c.folder, fs::copy_options::recursive);
    }
    fs::create_symlink(places + "/three/velta-bundle", places + "/elsewhere/linked");
    fs::copy(VELTA_JAVA, places + "/three/velta-java");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const launch_result launched = launch(c.arguments, {{"PATH", c.path}}, places + "/elsewhere");
        EXPECT_EQ(launched.logged, "");
        EXPECT_EQ(launched.process.status, 0);
        EXPECT_EQ(launched.process.output, "runtime: " + c.folder + "/runtime\njar: " + c.folder + "/lib/velta-bundle.jar\n"
                                           "argument: [started from " + c.named_folder + "]\nargument: [two words]\nargument: []\n");
    }
}

} // namespace
