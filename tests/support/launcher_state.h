// SPDX-License-Identifier: Apache-2.0
// The launcher keeps its configuration and VM options for the life of the
// process; in-process tests run it many times and release them in between so
// that LeakSanitizer sees only real leaks.
#pragma once

#include "launcher/launch_steps.h"

#include <cstdlib>
#include <string>
#include <vector>

inline void release_launcher_state()
{
    free_config(launcher.config_root);
    free_vm_options(launcher.init_args.nOptions, launcher.init_args.options);
    std::free(launcher.jdk_vm_library);
    free_class_cache_plan(&launcher.class_cache);
    free_main_jar(&launcher.jar);
    launcher = launcher_state{};
}

// build_vm_init_args on the configuration and launcher section set in
// `launcher`, into launcher.init_args.
inline int build_launch_options()
{
    launcher_settings settings;
    if (read_launch_settings(launcher.config_root, launcher.section_name, nullptr, &settings) != 0)
        return -1;
    return build_vm_init_args(launcher.config_root, &settings, &launcher.init_args);
}

inline std::vector<std::string> option_strings(const JavaVMInitArgs& args)
{
    std::vector<std::string> options;
    for (jint i = 0; i < args.nOptions; ++i)
        options.emplace_back(args.options[i].optionString);
    return options;
}
