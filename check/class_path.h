// SPDX-License-Identifier: Apache-2.0
// Finding a class on the class path without a VM, for velta-java-check.
#pragma once

// What a class-path entry is, as the VM would take it.
enum class_path_entry_kind {
    entry_missing, // nothing at that path
    entry_folder,  // a folder: classes are files below it
    entry_archive, // a file: read as a jar (zip) archive
};

// Returns what kind of entry `path` is.
class_path_entry_kind class_path_entry_kind_of(const char* path);

// Returns whether the entry at `path` holds the class file `class_file`
// ("a/b/C.class"): a folder that has it as a regular file below it, or a jar
// whose central directory lists it (jar_lists_entry). A file that is no
// readable zip archive holds nothing.
bool class_path_entry_holds(const char* path, const char* class_file);
