// SPDX-License-Identifier: Apache-2.0
// The steps of a launch, each a function that does its step and nothing
// else; continue_launch (launcher/launch.cpp) takes them in order and hands
// each what it needs. Every step that can fail logs why, unless it says
// otherwise, and returns 0 or -1.
#pragma once

#include "launcher/launcher.h"

#include <cstddef>
#include <cstdint>

// launch_main_jar: with a main jar (a mainjar value that is not empty),
// reads its manifest (read_jar_manifest) into *jar, which then owns it
// (free_main_jar). The VM's class loader follows its Class-Path itself.
// Stores in *main_class the class the launch runs: mainclass when the
// section has the key or there is no main jar, else the manifest's
// Main-Class. A jar without Main-Class runs only with mainclass, its
// manifest doing nothing. Fails after logging "Unable to read JAR FILE",
// "No Main-Class in JAR FILE" or "Out of memory building the JVM options",
// leaving *jar empty.
int read_main_jar(const launcher_settings* settings, main_jar* jar, const char** main_class);

// Frees what *jar owns and empties it.
void free_main_jar(main_jar* jar);

// launch_vm_options: builds *init_args from the sections that the settings'
// classpaths, options and properties keys name in `root`. Class-path
// entries and VM options are rebuilt as written, with the separator that
// ended their name; system properties give "-Dname=value". Entries without a
// name are left out. A class-path entry "*", or one ending in "/*", stands
// for the files of that folder named *.jar or *.JAR (regular files or links
// to them) whose names hold no ":", sorted bytewise by name; a folder
// without any, or no folder, gives nothing. A main jar (a mainjar value that
// is not empty) is the class path's first entry, with or without a
// class-path section. A class-path section whose entries all give nothing,
// without a main jar before them, gives the class path empty_class_path
// (platform/platform.h), never the empty one, which the VM reads as the
// working folder; a section without entries gives the empty one. Returns 0,
// or -1 when memory ran out, leaving *init_args empty and nothing allocated.
// Logs nothing. A run never frees the options it built.
int build_vm_init_args(const config_section* root, const launcher_settings* settings, JavaVMInitArgs* init_args);

// Frees `count` option strings of `options`, then the array (null allowed):
// what build_vm_init_args made.
void free_vm_options(int32_t count, JavaVMOption* options);

// Whether a named class-path entry stands for the jars of a folder, as in
// the java command: it is "*" (the current folder) or ends in "/*".
bool is_class_path_wildcard(const config_property* entry);

// launch_vm_library: loads the VM library `name` and finds its
// JNI_CreateJavaVM, storing the handle in *library and the entry in
// *create_vm. A `name` that holds a "/" and names a folder loads the JDK's
// FOLDER/lib/server/libjvm.so, whose path is stored in *jdk_vm_library (a
// new string; when memory runs out for it, the step fails as the VM
// options' step does); an empty one loads nothing and fails as a library
// that cannot be loaded. The library stays loaded for the life of the
// process.
int open_vm_library(const char* name, char** jdk_vm_library, void** library, create_java_vm_entry* create_vm);

// launch_class_cache_plan: decides, looking only, whether the class cache in
// `folder` (null: none configured) takes part in a launch with the VM
// library `library` and `init_args`, into *plan. A cache that cannot be used
// is logged ("Not using class cache FOLDER: CAUSE") and changes nothing else;
// this step never fails.
void plan_class_cache_use(const char* folder, void* library, const char* main_class, const JavaVMInitArgs* init_args,
                          class_cache_plan* plan);

// launch_class_cache: makes ready what *plan planned and adds the cache's
// options to *init_args; for a launch that records an AOT cache, starts the
// process that makes it after the launch (start_class_cache_maker), while
// this process is small and alone. launch_class_cache_finish, or an exit()
// once the VM has written an archive or its record, finishes the cache
// (finish_class_cache). A cache that cannot be made ready is logged as above
// and changes nothing else; this step never fails.
void make_class_cache_ready(const char* folder, class_cache_plan* plan, JavaVMInitArgs* init_args);

// launch_java_command: with a main jar (`jar` not null), adds at the end of
// *init_args the option make_java_command_option makes. Taken after the
// class cache's steps, so that an archive serves every command line. Fails
// after logging "Out of memory building the JVM options", with *init_args
// unchanged.
int add_java_command_option(const char* jar, const launcher_settings* settings, const char* config_path,
                            int32_t argument_count, char** arguments, JavaVMInitArgs* init_args);

// Returns, as a new string owned by the caller, "-Dsun.java.command=" and
// the command line as `java -jar JAR` records it for jps, jcmd and the
// program: `jar` as configured, then a space and each of main's arguments
// (make_main_argument_vector). Null when memory ran out. Logs nothing.
char* make_java_command_option(const char* jar, const launcher_settings* settings, const char* config_path,
                               int32_t argument_count, char** arguments);

// The stack size in bytes that the last -Xss<size> or
// -XX:ThreadStackSize=<KiB> among the options of `init_args` asks for, its
// size written as HotSpot takes it: decimal digits, then at most one of k/K,
// m/M and g/G. Returns 0 when there is no such option, and when the last one
// asks for 0 or has a size this cannot read.
size_t requested_stack_size(const JavaVMInitArgs& init_args);

// launch_main_thread: the stack size in bytes of main's thread: what
// requested_stack_size reads from `init_args`, or else the default stack size
// of the threads of the loaded VM library `library`, as its
// JNI_GetDefaultJavaVMInitArgs gives it; 0 when the library gives none.
size_t main_stack_size(const JavaVMInitArgs& init_args, void* library);

// launch_main_thread: runs continue_launch(stop) on a new thread whose stack
// holds `stack_size` bytes (at least 64 KiB and what any thread needs, in
// whole pages; for 0, the thread library's default), and returns its result
// once that thread has ended. When no such thread can be started, runs it on
// this thread.
int continue_launch_on_stack(size_t stack_size, launch_step stop);

// launch_vm_creation: creates the VM with `init_args` through `create_vm`,
// storing it in *vm and this thread's environment in *env.
int create_java_vm(create_java_vm_entry create_vm, JavaVMInitArgs* init_args, JavaVM** vm, JNIEnv** env);

// launch_jar_manifest: does in the VM what the manifest of the main jar
// (jar->manifest, null: nothing to do) asks for, as java -jar does and in
// its order: runs the agentmain of its Launcher-Agent-Class (not when the
// VM lacks the module java.instrument); exports, then opens, each
// "module/package" of Add-Exports and Add-Opens that the VM's boot layer
// has, to the class path's code, leaving out the others; and allows that
// code native access for Enable-Native-Access, on a JDK whose java reads
// the attribute (22 and later; earlier ones ignore it, as their java does).
// Fails after logging "Error loading Java agent CLASS from JAR FILE" (the
// VM has printed why), "Invalid value VALUE for Enable-Native-Access in JAR
// FILE" for a value other than ALL-UNNAMED, or "Unable to apply the
// manifest of JAR FILE"; no exception is left pending.
int apply_jar_manifest(JNIEnv* env, const main_jar* jar);

// launch_ready_watch: with `ready` (the checked ready setting) a port,
// starts watching for this process to listen on it, telling the service
// manager that NOTIFY_SOCKET names once it does (watch_for_listening_port
// in platform/service_ready.h); without NOTIFY_SOCKET, does nothing. Logs a
// watcher that cannot be started ("Could not start watching port N"), a
// NOTIFY_SOCKET that names no socket address (as launch_main_ready does), or
// a watcher that cannot see this process's listening sockets at its start
// ("Cannot see this process's listening sockets to watch port N"; it watches
// all the same). This step never fails.
void watch_ready_port(int32_t ready);

// launch_main_method: finds the class `class_name` (dot-separated) and its
// main method into *found. The method is a static main(String[]) of any
// access; failing that, the first that the class has or inherits and that
// is not private of: main(String[]) not static, main() static, main() not
// static. A main that is not static is called on a new instance made by the
// class's own constructor without arguments, which must not be private
// either. A class the VM does not have is logged as "Unable to find main
// class CLASS", with no exception left pending; a class that threw while it
// was loaded, linked or initialized as "Unable to load main class CLASS:
// TYPE: MESSAGE" (for an ExceptionInInitializerError, of its cause), with
// that exception left pending, as is one that the lookup of main left.
int find_main_method(JNIEnv* env, const char* class_name, main_method* found);

// launch_main_arguments: makes main's String[] from the arguments of
// make_main_argument_vector, into *arguments and *count.
int make_main_arguments(JNIEnv* env, const launcher_settings* settings, const char* config_path,
                        int32_t argument_count, char** arguments, jobjectArray* main_arguments, int32_t* count);

// Makes main's arguments: those split from the settings' mainargs (see
// split_arguments), each then expanded with expand = yes (expand_arguments,
// the configuration being `config_path`), followed, with passargs = yes, by a
// copy of each element of the launch's command line (`argument_count`
// elements of `arguments`) after the configuration file, unchanged and
// unsplit. Stores the new vector with its length in *vector and *count,
// owned by the caller (free_arguments); no arguments give a null vector.
// Returns 0, or -1 when memory ran out, a variable had no value or there
// would be more than INT32_MAX arguments, leaving *count 0, *vector null and
// nothing allocated. Logs nothing.
int make_main_argument_vector(const launcher_settings* settings, const char* config_path, int32_t argument_count,
                              char** arguments, int32_t* count, char*** vector);

// launch_main_call: calls main; main() takes none of `arguments`. Returns 0
// when main returned without an exception pending, -1 when the constructor
// or main left one, which stays pending for the detaching of the thread to
// hand to the uncaught-exception handler. Logs nothing.
int call_main_method(JNIEnv* env, const main_method* found, jobjectArray arguments);

// launch_main_ready: with `ready` ready_main, tells the service manager
// that NOTIFY_SOCKET names that the program is ready (notify_ready), without
// waiting; without NOTIFY_SOCKET, does nothing. Logs a notice that cannot be
// sent ("Could not tell the service manager at ADDRESS that the program is
// ready"). The launch takes this step only after main returned without an
// exception. This step never fails.
void tell_main_returned(int32_t ready);

// launch_shutdown: detaches this thread from *vm and destroys the VM, which
// waits for the program's non-daemon threads; sets *vm to null once
// destroyed. Fails, without destroying the VM, when the thread cannot be
// detached.
int stop_java_vm(JavaVM** vm);

