// SPDX-License-Identifier: Apache-2.0
// Reads arbitrary bytes as a jar, through a memory file: its manifest, an
// entry lookup and its Class-Path, checking what the reader promises of
// each result.
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
    if (file < 0)
        return 0;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", file);
    for (size_t at = 0; at < size;) {
        const ssize_t written = write(file, data + at, size - at);
        if (written <= 0)
            std::abort();
        at += static_cast<size_t>(written);
    }

    jar_manifest* manifest = nullptr;
    const int result = read_jar_manifest(path, &manifest);
    if ((result == 0) != (manifest != nullptr) || (result != 0 && result != jar_unreadable && result != jar_no_main_class))
        std::abort();
    if (manifest != nullptr && manifest->class_path != nullptr) {
        int32_t count = -1;
        char** paths = nullptr;
        const int resolved = resolve_jar_class_path(path, manifest->class_path, &count, &paths);
        if ((resolved != 0 && (count != 0 || paths != nullptr)) || (paths == nullptr) != (count == 0))
            std::abort();
        for (int32_t i = 0; i < count; ++i) {
            if (paths[i][0] == '\0')
                std::abort();
        }
        free_jar_class_path(count, paths);
    }
    // A lookup reads the archive as the manifest's reader does: a jar read
    // lists its manifest, and an archive refused refuses the manifest.
    const int listed = jar_lists_entry(path, "META-INF/MANIFEST.MF");
    if ((result == 0 && listed != 1) || (listed == jar_unreadable && result != jar_unreadable))
        std::abort();
    free_jar_manifest(manifest);
    close(file);
    return 0;
}
