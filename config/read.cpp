#include "config/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

config_section* read_config_file(const char* path)
{
    // Non-blocking so that opening a FIFO without a writer returns at once;
    // it is then refused below like every other file that is not regular.
    const int file = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (file < 0)
        return nullptr;

    char* text = nullptr;
    ssize_t size = -1;
    ssize_t got = -2;
    struct stat64 info;
    // The size is a 32-bit count and the buffer holds one byte more for the
    // terminating NUL, so the largest file taken is INT32_MAX - 1 bytes.
    if (fstat64(file, &info) == 0 && S_ISREG(info.st_mode) && info.st_size < INT32_MAX) {
        size = static_cast<ssize_t>(info.st_size);
        text = static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1));
        // Asking for one byte more than measured also refuses a file that
        // grew after it was measured; one that shrank gives a short count.
        if (text != nullptr)
            got = read(file, text, static_cast<size_t>(size) + 1);
    }
    close(file);

    config_section* root = nullptr;
    if (got == size) {
        text[size] = '\0';
        root = parse_config_text(text);
    }
    std::free(text);
    return root;
}
