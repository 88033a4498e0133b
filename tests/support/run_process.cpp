// SPDX-License-Identifier: Apache-2.0
#include "tests/support/run_process.h"
#include "tests/support/test_files.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

process_result run_process(const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment, const std::string& working_folder,
                           const std::vector<int>& closed)
{
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const char* equals = std::strchr(*variable, '=');
        if (equals == nullptr || environment.count(std::string(*variable, static_cast<size_t>(equals - *variable))) == 0)
            variables.emplace_back(*variable);
    }
    for (const auto& [name, value] : environment)
        variables.push_back(name + "=" + value);

    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    scratch_folder scratch;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, scratch.file("out").c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, scratch.file("err").c_str(), O_WRONLY | O_CREAT, 0600);
    if (!working_folder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, working_folder.c_str());
    for (const int descriptor : closed)
        posix_spawn_file_actions_addclose(&actions, descriptor);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + arguments[0]);

    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("lost " + arguments[0]);
    }
    const int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return {status, read_file(scratch.file("out")), read_file(scratch.file("err"))};
}

launch_result launch(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
                     const std::string& working_folder, const std::vector<int>& closed)
{
    scratch_folder capture;
    chmod(capture.path.c_str(), 0777);
    std::map<std::string, std::string> variables = environment;
    variables["LD_PRELOAD"] = VELTA_SYSLOG_CAPTURE;
    variables["VELTA_SYSLOG_CAPTURE"] = capture.file("syslog");
    process_result process = run_process(arguments, variables, working_folder, closed);
    return {process, read_file(capture.file("syslog"))};
}
