// What the launcher needs of the operating system, as Linux provides it. The
// memory, file, loader and log functions are glibc's; this header adds the
// constants whose values are Linux's own and the system configuration.
#pragma once

#include "config/config.h"

#include <dlfcn.h>
#include <syslog.h>

// Priority of every message the launcher writes to the system log.
inline constexpr int log_priority_error = LOG_ERR;

// glibc refuses mode 0. Binding every symbol at load time makes a broken VM
// library fail at once, and global symbols let the VM's own libraries bind
// to it, as the JDK's launcher loads it.
inline constexpr int vm_library_load_mode = RTLD_NOW | RTLD_GLOBAL;

// The VM on Linux separates the entries of java.class.path with ":".
inline constexpr char class_path_separator = ':';

// Returns the path of the system configuration file, fixed when the
// launcher was built (the CMake cache variable VELTA_SYSTEM_CONFIG).
const char* system_config_path();

// Returns the root of the system's own configuration, read from
// system_config_path(); null when that file is missing, unreadable or holds
// no section.
config_section* read_system_config();
