// SPDX-License-Identifier: Apache-2.0
// Reads arbitrary bytes as a jar, through a memory file: its manifest, its
// Class-Path and an entry lookup, checking what each result promises.
#include "launcher/jar.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int file = memfd_create("jar", MFD_CLOEXEC);
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", file);
    if (file < 0 || write(file, data, size) != static_cast<ssize_t>(size))
        std::abort();
    jar_manifest* manifest = nullptr;
    const int result = read_jar_manifest(path, &manifest);
    if ((result == 0) != (manifest != nullptr) || (result != 0 && result != jar_unreadable && result != jar_no_main_class))
        std::abort();
    int32_t count = 0;
    char** paths = nullptr;
    if (manifest != nullptr && manifest->class_path != nullptr
        && resolve_jar_class_path(path, manifest->class_path, &count, &paths) != 0 && (count != 0 || paths != nullptr))
        std::abort();
    for (int32_t i = 0; i < count; ++i) {
        if (paths[i][0] == '\0')
            std::abort();
    }
    // A lookup reads the archive as the manifest's reader does.
    const int listed = jar_lists_entry(path, "META-INF/MANIFEST.MF");
    if ((result == 0 && listed != 1) || (listed == jar_unreadable && result != jar_unreadable))
        std::abort();
    free_jar_class_path(count, paths);
    free_jar_manifest(manifest);
    close(file);
    return 0;
}
