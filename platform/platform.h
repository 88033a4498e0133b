// SPDX-License-Identifier: Apache-2.0
// What the launcher needs of the operating system, as Linux provides it. The
// memory, file, loader and thread functions are glibc's; this header adds the
// one function through which every message goes (with its async-signal-safe
// form for the report of _exit), the constants whose values are Linux's
// own, the standard descriptors, the system configuration's path and the
// report of a VM that ends the process. Nothing here calls into the code
// above it but through the hook a program sets.
#pragma once

#include <dlfcn.h>

#include <cstddef>

// Reports one failure: `format` and what follows it as printf takes them,
// one message without a trailing newline. Each program links the one
// implementation that suits it: velta-java-check's writes to standard error,
// the in-process tests' to a file they read back, and velta-java's
// (platform/log_error.cpp) sends it to the system log at error priority,
// once, and writes it to standard error as "velta-java: MESSAGE" when
// standard error is a terminal, or instead when the log cannot take it at
// once: where none listens, or its queue is full. It never waits for the log.
__attribute__((format(printf, 1, 2))) void log_error(const char* format, ...);

// Reports `message`, the whole message made by the caller, as velta-java's
// log_error does, with async-signal-safe calls only (no printf, malloc or
// lock), for a report made in _exit, which signal handlers and forked
// children call. Leaves errno as it was. Only velta-java links it.
void log_error_message(const char* message);

// What a program does when the process ends through _exit, which is how the
// VM ends it from its abort paths: called with the status, it returns the
// status the process ends with. The executable's own _exit
// (platform/vm_exit.cpp) calls it, once `report` has been set with
// set_vm_exit_report, and only in the process that set it: a child forked
// since (by the VM, or by the program to run a command, whose child calls
// _exit when exec fails) ends without it. velta-java logs a VM that ends
// the process while it starts, velta-java-check reports any end while it
// checks a start. The report may run in a signal handler, on any thread.
using vm_exit_report = int (*)(int status);
void set_vm_exit_report(vm_exit_report report);

// Keeps the `length` bytes of `line` out of standard output and error: the
// next write(2) of exactly those bytes to descriptor 1 or 2 is dropped, as
// if written; later ones are written. To be called before the VM or any
// other thread starts, for the line the VM prints once it has recorded an
// AOT cache's configuration; a line longer than 256 bytes is not dropped.
// velta-java and velta-java-check define write(2) themselves
// (platform/vm_write.cpp), which applies it; in other programs it has no
// effect.
void drop_vm_output_line(const char* line, size_t length);

// Whether a write of `count` `bytes` to `descriptor` is the line to drop;
// true once at most. Async-signal-safe.
bool is_dropped_vm_output(int descriptor, const void* bytes, size_t count);

// glibc refuses mode 0. Binding every symbol at load time makes a broken VM
// library fail at once, and global symbols let the VM's own libraries bind
// to it, as the JDK's launcher loads it.
inline constexpr int vm_library_load_mode = RTLD_NOW | RTLD_GLOBAL;

// The VM on Linux separates the entries of java.class.path with ":".
inline constexpr char class_path_separator = ':';

// The class path of a class-path section whose entries all came to nothing:
// the VM reads an empty class path as the working folder, while no file can
// lie below /dev/null, a device rather than a folder.
inline constexpr char empty_class_path[] = "/dev/null/empty-class-path";

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file the process opens later, the VM's own among them, becomes its
// standard input, output or error. A descriptor on which /dev/null cannot be
// opened stays closed. Logs nothing.
void open_closed_standard_descriptors();

// Returns the path of the system configuration file, fixed when the
// launcher was built (the CMake cache variable VELTA_SYSTEM_CONFIG).
const char* system_config_path();
