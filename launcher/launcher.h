// SPDX-License-Identifier: Apache-2.0
// The launcher: from its command line and configuration to a Java VM running
// the configured main class in this process, on this thread, or on a thread
// of its own when the VM options ask for a stack size.
//
// Every failure is reported once, with log_error (platform/platform.h), by
// the function that decides what it means for the run; nothing here writes
// to standard output or standard error itself.
#pragma once

#include "config/config.h"
#include "launcher/class_cache.h"

#include <jni.h>

#include <cstdint>

// The steps of a launch, in the order it takes them (see continue_launch in
// launcher/launch.h).
enum launch_step : int32_t {
    launch_configuration,     // open /dev/null on closed standard descriptors,
                              // choose the launcher section and the configuration
    launch_settings,          // read the launcher section's keys
    launch_vm_options,        // build the VM's options from the configuration
    launch_vm_library,        // load the VM library and find its JNI_CreateJavaVM
    launch_class_cache_plan,  // decide whether the class cache takes part, looking only
    launch_class_cache,       // make the cache's folder ready and add its options
    launch_vm_creation,       // create the VM
    launch_main_method,       // find the main class and its main method
    launch_main_arguments,    // make main's String[]
    launch_main_call,         // call main; an exception it leaves stays pending
    launch_shutdown,          // detach this thread from the VM, destroy the VM,
                              // finish the class cache
    launch_end,
};

// The type of the VM library's creation entry, JNI_CreateJavaVM.
using create_java_vm_entry = decltype(&JNI_CreateJavaVM);

// The state of the one run of this process, written only by the thread that
// runs the launch. Besides what the VM needs, it holds what each step has
// made, so that a tool that reports on a launch reads it from here.
struct launcher_state {
    JavaVM* vm;                  // set by launch_vm_creation, null again once destroyed
    JNIEnv* env;                 // the launch thread's environment, likewise
    JavaVMInitArgs init_args;    // set by launch_vm_options
    config_section* config_root; // the configuration in use, may be null
    const char* section_name;    // the launcher section, not a copy

    int32_t argument_count;      // the command line the launch was given
    char** arguments;
    launch_step next_step;       // the first step not taken yet
    launch_step stop;            // the launch takes no step from here on
    int exit_status;             // the run's status so far: 1 once a step failed
                                 // that ends the run, fail_status once main failed

    bool pass_arguments;              // launch_settings: passargs = yes
    bool expand_variables;            // launch_settings: expand = yes
    const char* vm_library_name;      // launch_settings: the keys' values,
    const char* main_class_name;      // pointing into the configuration or
    const char* main_argument_string; // at the defaults below
    int fail_status;                  // the exit status when the main class fails
    const char* class_cache_folder;   // launch_settings: classcache, null when absent or empty
    char* jdk_vm_library;             // launch_vm_library: for a "jvm" that names
                                      // a folder, FOLDER/lib/server/libjvm.so,
                                      // the file loaded; otherwise null
    void* vm_library;                 // launch_vm_library: null when not loaded
    create_java_vm_entry create_vm;   // likewise: null when not found
    class_cache_plan class_cache;     // launch_class_cache_plan, launch_class_cache: what the
                                      // cache adds, empty when it is not used (refusal: why)
    bool creating_vm;                 // JNI_CreateJavaVM runs and has not returned
    jclass main_class;                // launch_main_method: null when not found
    jmethodID main_method;            // main(String[]) or main(), static or not
    bool main_takes_arguments;        // main(String[]) rather than main()
    jmethodID main_constructor;       // the class's constructor (), null when
                                      // main is static
    jobjectArray main_arguments;      // launch_main_arguments: null when not made
    int32_t main_argument_count;
    bool main_called;                 // launch_main_call: main was called
};

extern launcher_state launcher;

// The defaults of the launcher section's name and keys.
inline constexpr char default_launcher_section[] = "java";
inline constexpr char default_vm_library[] = "jvm.dll";
inline constexpr char default_main_class[] = "velta.os.Shell";
inline constexpr char default_main_arguments[] = "";
inline constexpr char default_class_path_section[] = "java.classpaths";
inline constexpr char default_options_section[] = "java.options";
inline constexpr char default_properties_section[] = "java.properties";
inline constexpr char default_pass_arguments[] = "no";
inline constexpr char default_expand_variables[] = "no";

// The main function: runs the whole launch and returns the exit status, 0 or
// 1. Element 1 of `arguments` names the launcher section (default "java"),
// element 2 a configuration file (default: the system configuration); later
// elements are main's last arguments when the launcher section says
// passargs = yes, and are ignored otherwise. When the VM options ask for a
// stack size (see requested_stack_size in launcher/launch.h), the launch goes
// on from the VM's creation on a new thread with that stack, which this one
// waits for.
//
// With expand = yes, the settings step replaces strings of the configuration
// in use by their expansions (see expand_configuration in launch.h): the
// launch owns that configuration, and what it reads from then on, as a tool
// that reports on the launch does, are the expanded values.
int launcher_main(int32_t argument_count, char** arguments);

// Starts the VM: builds the VM options, loads the VM library named by the
// key "jvm", finds its JNI_CreateJavaVM and creates the VM, setting
// launcher.vm and launcher.env. A "jvm" that names a folder loads the JDK's
// FOLDER/lib/server/libjvm.so; an empty one loads nothing and fails as a
// library that cannot be loaded. With a "classcache" folder, the VM is
// created with the class cache's options (see class_cache.h) unless the
// cache cannot be used, which is logged ("Not using class cache FOLDER:
// CAUSE") and changes nothing else; the shutdown step finishes the cache,
// and so does an exit() once the VM has written an archive. Returns 0, or
// -1 after logging why. Takes only the steps the launch has not taken yet
// and that lie before its stop.
int start_java_vm();

// Builds launcher.init_args from the class-path, options and properties
// sections that the launcher section names. Class-path entries and VM
// options are rebuilt as written, with the separator that ended their name;
// system properties give "-Dname=value". Entries without a name are left
// out. A class-path entry "*", or one ending in "/*", stands for the files of
// that folder named *.jar or *.JAR (regular files or links to them), sorted
// bytewise by name; a folder without any, or no folder, gives nothing.
// Returns 0, or -1 when memory ran out, leaving init_args empty and nothing
// allocated. Logs nothing. A run never frees the options it built.
int build_vm_init_args();

// Frees `count` option strings of `options`, then the array (null allowed):
// what build_vm_init_args made.
void free_vm_options(int32_t count, JavaVMOption* options);

// Runs the main method of `class_name` (dot-separated) with the arguments
// split from `argument_string`: finds the class and its method, makes the
// String[], calls main. The method is a static main(String[]) of any
// access; failing that, the first that the class has or inherits and that
// is not private of: main(String[]) not static, main() static, main() not
// static. main() is called without the arguments; a main that is not static,
// on a new instance made by the class's own constructor without arguments,
// which must not be private either.
// Returns 0 when main returned without an exception pending. Returns -1
// after logging a missing class, method, constructor or argument array (an
// exception the VM's lookup of the class or of main left stays pending), or
// when the constructor or main left an exception, which stays pending for
// the detaching of the thread to hand to the uncaught-exception handler.
// Takes only the steps the launch has not taken yet and that lie before its
// stop.
int run_main_class(const char* class_name, const char* argument_string);

// Returns FindClass of `class_name` with every "." turned into "/"; names of
// any length are taken. Null when the class is not found (with the VM's
// exception pending), when memory runs out, and, without asking the VM, when
// no class can have the name: it is not modified UTF-8 (4-byte UTF-8
// included), or it is a descriptor "Lname;". Logs nothing.
jclass find_class_dotted(JNIEnv* env, const char* class_name);

// Returns a new String[] of `count` elements made from `vector`, or null with
// nothing half-built left behind when the array or any element cannot be
// made. Holds at most a few local references at any time, whatever `count`.
// Logs nothing.
jobjectArray new_string_array(JNIEnv* env, int32_t count, char** vector);

// Returns a java.lang.String decoded from the bytes of `text` by the VM's
// default character set, or null (usually with an exception pending). Leaves
// no local reference behind but the result. Logs nothing.
jstring new_java_string(JNIEnv* env, const char* text);
