// SPDX-License-Identifier: Apache-2.0
#include "check/class_path.h"
#include "launcher/jar.h"

#include <sys/stat.h>

#include <string>

class_path_entry_kind class_path_entry_kind_of(const char* path)
{
    // The VM reads an empty entry as the current folder.
    struct stat info;
    if (stat(path[0] != '\0' ? path : ".", &info) != 0)
        return entry_missing;
    return S_ISDIR(info.st_mode) ? entry_folder : entry_archive;
}

bool class_path_entry_holds(const char* path, const char* class_file)
{
    switch (class_path_entry_kind_of(path)) {
    case entry_missing:
        return false;
    case entry_folder: {
        const std::string file = std::string(path[0] != '\0' ? path : ".") + "/" + class_file;
        struct stat info;
        return stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    }
    case entry_archive:
        return jar_lists_entry(path, class_file) == 1;
    }
    return false;
}
