// SPDX-License-Identifier: Apache-2.0
// Replays fuzz inputs without libFuzzer: every file named on the command line,
// or found directly inside a named folder, is handed to the harness once.
#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool replay_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat info {};
        if (stat(argv[i], &info) != 0 || !S_ISDIR(info.st_mode)) {
            if (!replay_file(argv[i]))
                return 1;
            ++replayed;
            continue;
        }
        DIR* folder = opendir(argv[i]);
        if (folder == nullptr)
            return 1;
        while (const dirent* entry = readdir(folder)) {
            if (entry->d_name[0] == '.')
                continue;
            if (!replay_file(std::string(argv[i]) + "/" + entry->d_name))
                return 1;
            ++replayed;
        }
        closedir(folder);
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
