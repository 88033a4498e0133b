// The launcher keeps its configuration and VM options for the life of the
// process; in-process tests run it many times and release them in between so
// that LeakSanitizer sees only real leaks.
#pragma once

#include "launcher/launcher.h"
#include "tests/config_test_support.h"

#include <cstdlib>

inline void release_launcher_state()
{
    config_deleter()(launcher.config_root);
    for (jint i = 0; i < launcher.init_args.nOptions; ++i)
        std::free(launcher.init_args.options[i].optionString);
    std::free(launcher.init_args.options);
    launcher = launcher_state{};
}
