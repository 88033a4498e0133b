// SPDX-License-Identifier: Apache-2.0
// What the launcher needs of the operating system, as Linux provides it. The
// memory, file, loader and thread functions are glibc's; this header adds the
// one function through which every message goes, the constants whose values
// are Linux's own, the standard descriptors and the system configuration.
#pragma once

#include "config/config.h"

#include <dlfcn.h>

// Reports one failure: `format` and what follows it as printf takes them,
// one message without a trailing newline. Each program links the one
// implementation that suits it: velta-java's writes to the system log at
// error priority (platform/log_error.cpp), velta-java-check's to standard
// error, and the in-process tests' to a file they read back.
__attribute__((format(printf, 1, 2))) void log_error(const char* format, ...);

// Called when the VM ends the process through _exit (platform/vm_exit.cpp),
// with the VM's status; the process then ends with the status it returns.
// Each program that links vm_exit.cpp defines it: velta-java logs a VM that
// ends the process while it starts; velta-java-check reports any end while
// it checks a start.
int report_vm_exit(int status);

// glibc refuses mode 0. Binding every symbol at load time makes a broken VM
// library fail at once, and global symbols let the VM's own libraries bind
// to it, as the JDK's launcher loads it.
inline constexpr int vm_library_load_mode = RTLD_NOW | RTLD_GLOBAL;

// The VM on Linux separates the entries of java.class.path with ":".
inline constexpr char class_path_separator = ':';

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file the process opens later, the VM's own among them, becomes its
// standard input, output or error. A descriptor on which /dev/null cannot be
// opened stays closed. Logs nothing.
void open_closed_standard_descriptors();

// Returns the path of the system configuration file, fixed when the
// launcher was built (the CMake cache variable VELTA_SYSTEM_CONFIG).
const char* system_config_path();

// Returns the root of the system's own configuration, read from
// system_config_path(); null when that file is missing, unreadable or holds
// no section.
config_section* read_system_config();
