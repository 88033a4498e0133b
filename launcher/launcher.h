// The launcher: from its command line and configuration to a Java VM running
// the configured main class in this process, on this thread.
//
// Every function here reports its failure in the system log at error
// priority, once, except where noted; none writes to standard output or
// standard error.
#pragma once

#include "config/config.h"

#include <jni.h>

#include <cstdint>

// The state of the one run of this process, written only by its main thread.
struct launcher_state {
    JavaVM* vm;                 // set by start_java_vm
    JNIEnv* env;                // this thread's environment, set by start_java_vm
    JavaVMInitArgs init_args;   // set by build_vm_init_args
    config_section* config_root; // the configuration in use, may be null
    const char* section_name;   // the launcher section, not a copy
};

extern launcher_state launcher;

// The main function: runs the whole launch and returns the exit status, 0 or
// 1. Element 1 of `arguments` names the launcher section (default "java"),
// element 2 a configuration file (default: the system configuration); later
// elements are ignored.
int launcher_main(int32_t argument_count, char** arguments);

// Builds launcher.init_args from the class-path, options and properties
// sections that the launcher section names. Returns 0, or -1 when memory ran
// out, leaving init_args empty and nothing allocated. Logs nothing. The
// option strings and their array are never freed after success.
int build_vm_init_args();

// Builds the VM options, loads the configured VM library and creates the VM,
// setting launcher.vm and launcher.env. Returns 0, or -1 after logging why.
int start_java_vm();

// Runs static main(String[]) of `class_name` (dot-separated) with the
// arguments split from `argument_string`. Returns 0 when main returned
// without an exception pending; -1 after logging a missing class, method or
// argument array, or after the VM has described the exception main left.
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
