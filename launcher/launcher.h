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

// The defaults of the launcher section's name and keys.
inline constexpr char default_launcher_section[] = "java";
inline constexpr char default_vm_library[] = "jvm.dll";
inline constexpr char default_main_class[] = "velta.os.Shell";
inline constexpr char default_main_arguments[] = "";
inline constexpr char default_class_path_section[] = "java.classpaths";
inline constexpr char default_options_section[] = "java.options";
inline constexpr char default_properties_section[] = "java.properties";

// The type of the VM library's creation entry, JNI_CreateJavaVM.
using create_java_vm_entry = decltype(&JNI_CreateJavaVM);

// The main function: runs the whole launch and returns the exit status, 0 or
// 1. Element 1 of `arguments` names the launcher section (default "java"),
// element 2 a configuration file (default: the system configuration); later
// elements are ignored.
int launcher_main(int32_t argument_count, char** arguments);

// The steps of launcher_main, in the order it takes them. velta-java-check
// takes the same steps, so what it reports is what a launch would do.

// Sets launcher.section_name and launcher.config_root from the command line
// as launcher_main reads it. Returns 0, or -1 after logging that the named
// file cannot be read. An unreadable system configuration is no failure: it
// leaves config_root null, so every key takes its default.
int choose_configuration(int32_t argument_count, char** arguments);

// Returns the value of `key` in the launcher section, or `default_value`
// (see get_config_value).
const char* launcher_setting(const char* key, const char* default_value);

// build_vm_init_args, logging when memory ran out. Returns 0 or -1.
int prepare_vm_init_args();

// Loads the VM library `library_name` for the life of the process. Returns
// its handle, or null after logging (dlerror then tells why).
void* open_vm_library(const char* library_name);

// Returns the creation entry of the loaded VM library, or null after logging
// (dlerror then tells why).
create_java_vm_entry find_create_java_vm(void* library);

// Creates the VM through `create` with launcher.init_args, setting
// launcher.vm and launcher.env. Returns 0, or -1 after logging the VM's code.
int create_java_vm(create_java_vm_entry create);

// Builds launcher.init_args from the class-path, options and properties
// sections that the launcher section names. Returns 0, or -1 when memory ran
// out, leaving init_args empty and nothing allocated. Logs nothing. The
// option strings and their array are never freed after success.
int build_vm_init_args();

// Builds the VM options, loads the configured VM library and creates the VM:
// prepare_vm_init_args, open_vm_library, find_create_java_vm and
// create_java_vm. Returns 0, or -1 after logging why.
int start_java_vm();

// Runs static main(String[]) of `class_name` (dot-separated) with the
// arguments split from `argument_string`: find_main_method,
// make_main_arguments, then the call. Returns 0 when main returned without an
// exception pending; -1 after logging a missing class, method or argument
// array, or after the VM has described the exception main left.
int run_main_class(const char* class_name, const char* argument_string);

// Returns the ID of static void main(String[]) of `class_name`
// (dot-separated) and sets *main_class to its class. Returns null after
// logging a missing class or method, with the VM's exception pending.
jmethodID find_main_method(JNIEnv* env, const char* class_name, jclass* main_class);

// Returns a new String[] of the arguments split from `argument_string`, or
// null after logging that it could not be made.
jobjectArray make_main_arguments(JNIEnv* env, const char* argument_string);

// Splits `argument_string` (see split_arguments) into a new vector, stored
// with its length in *vector and *count and owned by the caller
// (free_arguments); no arguments give a null vector. Returns 0, or -1 when
// memory ran out, leaving *count 0, *vector null and nothing allocated.
// Logs nothing.
int split_main_arguments(const char* argument_string, int32_t* count, char*** vector);

// Detaches this thread from the VM, then destroys the VM, which waits for
// the program's non-daemon threads. Returns 0, or -1 after logging a refused
// detach, in which case the VM is left as it is.
int stop_java_vm();

// Writes `dotted` with every "." turned into "/" to `slashed`, which has room
// for strlen(dotted) + 1 bytes: the form FindClass takes.
void convert_dots_to_slashes(const char* dotted, char* slashed);

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
