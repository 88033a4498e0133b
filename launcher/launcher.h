// SPDX-License-Identifier: Apache-2.0
// The launcher, as the programs use it: from a command line and a
// configuration to a Java VM running the configured main class in this
// process, on a thread of its own, as under the java command.
// velta-java runs a whole launch (launcher_main); velta-java-check runs it up
// to a step, reads what the steps made from `launcher`, and goes on.
//
// Every failure is reported once, with log_error (platform/platform.h), by
// the step that decides what it means for the run; nothing here writes to
// standard output or standard error itself. The steps are declared in
// launcher/launch_steps.h, the launcher section's keys in
// launcher/settings.h.
#pragma once

#include "config/config.h"
#include "launcher/class_cache.h"
#include "launcher/jar.h"
#include "launcher/settings.h"

#include <jni.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The steps of a launch, in the order continue_launch takes them.
enum launch_step : int32_t {
    launch_configuration,    // open /dev/null on closed standard descriptors,
                             // choose the launcher section and the configuration
    launch_settings,         // read and check the launcher section's keys, expand variables
    launch_main_jar,         // read the main jar's manifest, choose the main class
    launch_vm_options,       // build the VM's options from the configuration
    launch_vm_library,       // load the VM library and find its JNI_CreateJavaVM
    launch_class_cache_plan, // decide whether the class cache takes part, looking only
    launch_class_cache,      // make the cache's folder ready and add its options
    launch_java_command,     // with a main jar, add the command line as java -jar gives it
    launch_main_thread,      // go on on a thread of its own, with the stack
                             // -Xss asks for or else the VM's default
    launch_vm_creation,      // create the VM
    launch_class_cache_use,  // drop an archive the VM did not map
    launch_ready_watch,      // with ready = port N, watch for this process to listen on N
    launch_jar_manifest,     // start the main jar's agent, open its packages, allow
                             // native access, as its manifest asks
    launch_main_method,      // find the main class and its main method
    launch_main_arguments,   // make main's String[]
    launch_main_call,        // call main; an exception it leaves stays pending
    launch_main_ready,       // with ready = main, tell the service manager: main returned
    launch_shutdown,         // detach this thread from the VM, destroy the VM
    launch_class_cache_finish, // keep the archive the VM wrote, or start making the
                             // AOT cache from its record, without waiting for it
    launch_end,
};

// The type of the VM library's creation entry, JNI_CreateJavaVM.
using create_java_vm_entry = decltype(&JNI_CreateJavaVM);

// The main method a launch found, and how to call it.
struct main_method {
    jclass main_class;     // null when not found
    jmethodID method;      // main(String[]) or main(), static or not; null when not found
    bool takes_arguments;  // main(String[]) rather than main()
    jmethodID constructor; // the class's constructor (), for a main that is not
                           // static; null for a static one
};

// The main jar of a launch (the key mainjar), as launch_main_jar read it.
struct main_jar {
    const char* path;         // the key's value; null when the launch has no main jar
    jar_manifest* manifest;   // what the manifest asks for; null without a main jar, and
                              // for a jar without Main-Class run with mainclass, whose
                              // manifest then asks for nothing, as java acts on a
                              // manifest only when it names the main class
};

// The state of the one launch of this process, written only by the thread
// that takes its steps. Besides what the VM needs, it holds what each step
// has made, so that a tool that reports on a launch reads it from here.
struct launcher_state {
    JavaVM* vm;                  // set by launch_vm_creation, null again once destroyed
    JNIEnv* env;                 // the launch thread's environment, set with `vm`
    JavaVMInitArgs init_args;    // set by launch_vm_options, grown by launch_class_cache
                                 // and launch_java_command
    config_section* config_root; // launch_configuration: the configuration in use, may be null
    const char* section_name;    // launch_configuration: the launcher section, not a copy

    int32_t argument_count;      // the command line the launch was given
    char** arguments;
    launch_step next_step;       // the first step not taken yet
    bool skip_main;              // take every step but launch_main_call, and tell the
                                 // service manager nothing, for a tool
    int exit_status;             // the run's status so far: 1 once a step failed
                                 // that ends the run, failstatus once main failed

    const char* config_path;          // launch_configuration: the file read, or
                                      // that would be read, as the configuration
    launcher_settings settings;       // launch_settings
    main_jar jar;                     // launch_main_jar
    const char* main_class;           // launch_main_jar: the class to run, mainclass
                                      // or the main jar's Main-Class; not a copy
    char* jdk_vm_library;             // launch_vm_library: for a "jvm" that names
                                      // a folder, FOLDER/lib/server/libjvm.so,
                                      // the file loaded; otherwise null
    void* vm_library;                 // launch_vm_library: null when not loaded
    create_java_vm_entry create_vm;   // likewise: null when not found
    class_cache_plan class_cache;     // launch_class_cache_plan, launch_class_cache: what the
                                      // cache adds, empty when it is not used (refusal: why)
    volatile sig_atomic_t creating_vm; // JNI_CreateJavaVM runs and has not returned;
                                      // read by _exit's report, which may run in a
                                      // signal handler (not an atomic: tests reset
                                      // the record by assignment)
    bool vm_created;                  // launch_vm_creation succeeded
    main_method main;                 // launch_main_method
    jobjectArray main_arguments;      // launch_main_arguments: null when not made
    int32_t main_argument_count;
    bool main_called;                 // launch_main_call: main was called
};

extern launcher_state launcher;

// The main function: runs the whole launch and returns the exit status, 0 or
// 1, or the configured failstatus. Element 1 of `arguments` names the
// launcher section (default "java"), element 2 a configuration file
// (default: the system configuration); later elements are main's last
// arguments when the launcher section says passargs = yes, and are ignored
// otherwise.
int launcher_main(int32_t argument_count, char** arguments);

// Takes the launch's steps in order, from launcher.next_step up to, not
// including, `stop`. A failure of a step after the VM's creation goes on
// with the shutdown; any other failure ends the launch (next_step becomes
// launch_end). Returns the exit status so far: 1 once a step failed that ends
// the run or what the main jar's manifest asks for failed, the configured
// failstatus (default 0) once the main class failed, otherwise 0.
//
// Called again with a later stop, it goes on where it stopped. The steps
// from launch_main_thread on run on a thread of their own, which this call
// waits for: a caller that stops at or after launch_main_thread must not
// call again.
int continue_launch(launch_step stop);

// The options both programs take where a launcher section would be named,
// also as the java command spells them; no launcher section can have these
// names.
inline bool is_help_option(const char* argument)
{
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-help") == 0
        || std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "-?") == 0;
}

inline bool is_version_option(const char* argument)
{
    return std::strcmp(argument, "--version") == 0 || std::strcmp(argument, "-version") == 0;
}
