// SPDX-License-Identifier: Apache-2.0
// The launch taken step by step, for the launcher's own files and for a tool
// that reports on a launch (velta-java-check): it runs the launch up to a
// stop point, reads what the steps made from `launcher`, and goes on. The
// order of the steps is written once, in continue_launch; nothing else takes
// them.
#pragma once

#include "launcher/launcher.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// Strings the launcher builds are measured first and then written: a pass
// with a null `out` only measures. Copies `length` bytes of `text` to
// out + at unless `out` is null, and returns the position after them.
inline size_t put_text(char* out, size_t at, const char* text, size_t length)
{
    if (out != nullptr)
        std::memcpy(out + at, text, length);
    return at + length;
}

// Takes the launch's steps in order, from launcher.next_step up to, not
// including, `stop`: configuration, settings, then start_java_vm's and
// run_main_class's, then the shutdown. A failure of the main class's own
// steps goes on with the shutdown; any other failure ends the launch
// (next_step becomes launch_end). Returns the exit status so far: 1 once a
// step failed that ends the run, the configured failstatus (default 0) once
// the main class failed, otherwise 0.
//
// Called again with a later stop, it goes on where it stopped. A caller that
// stops before launch_main_call may skip main by setting next_step to
// launch_shutdown, so that the VM is still shut down as after main.
int continue_launch(launch_step stop);

// Returns the stack size in bytes that the last -Xss<size> or
// -XX:ThreadStackSize=<KiB> among the options of `init_args` asks for, its
// size written as HotSpot takes it: decimal digits, then at most one of k/K,
// m/M and g/G. Returns 0 when there is no such option, and when the last one
// asks for 0 or has a size this cannot read.
size_t requested_stack_size(const JavaVMInitArgs& init_args);

// Takes the launch's remaining steps, continue_launch(launch_end), on a new
// thread whose stack holds `stack_size` bytes (at least 64 KiB and what any
// thread needs, in whole pages), and returns the exit status once that thread has
// ended. When no such thread can be started, takes them on this thread.
int finish_launch_on_stack(size_t stack_size);

// Returns whether the launch takes `step` now: it is the next step and lies
// before the stop. If so, the step counts as taken, whatever its outcome.
bool take_step(launch_step step);

// Returns the value of `key` in the launcher section, or `default_value`
// (see get_config_value).
const char* launcher_setting(const char* key, const char* default_value);

// Makes main's arguments: those split from `argument_string` (see
// split_arguments), followed, when launcher.pass_arguments is set, by a copy
// of each element of the launch's command line after the configuration file,
// unchanged and unsplit. Stores the new vector with its length in *vector
// and *count, owned by the caller (free_arguments); no arguments give a null
// vector. Returns 0, or -1 when memory ran out or there would be more than
// INT32_MAX arguments, leaving *count 0, *vector null and nothing allocated.
// Logs nothing.
int make_main_argument_vector(const char* argument_string, int32_t* count, char*** vector);

// Replaces, in the configuration in use, every "${CONFDIR}", "${NAME}" and
// "$$" by the absolute folder of the configuration file, the environment
// variable NAME and "$": in the values of the launcher section's keys jvm,
// mainclass, mainargs and classcache, and in the names and values of the
// entries of the sections that its keys classpaths, options and properties
// name. NAME is a
// letter or "_" followed by letters, digits and "_"; every other "$" stays
// as written. Each string holding a "$" is replaced by a new one and the old
// one freed; each section is expanded once, however many keys name it.
// Returns 0, or -1 after logging an undefined variable or memory running
// out, with the strings expanded so far replaced.
int expand_configuration();

// Whether a named class-path entry stands for the jars of a folder, as in
// the java command: it is "*" (the current folder) or ends in "/*".
bool is_class_path_wildcard(const config_property* entry);

// Writes `dotted` with every "." turned into "/" to `slashed`, which has room
// for strlen(dotted) + 1 bytes: the form FindClass takes.
void convert_dots_to_slashes(const char* dotted, char* slashed);
