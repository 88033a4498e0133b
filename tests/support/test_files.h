// SPDX-License-Identifier: Apache-2.0
// Small file helpers shared by the launcher's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A new empty folder under the system's temporary folder, removed with its
// files when the value goes out of scope.
struct scratch_folder {
    std::string path;
    scratch_folder();
    ~scratch_folder();
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

void write_file(const std::string& path, const std::string& bytes);

// The whole file, or "" when it does not exist.
std::string read_file(const std::string& path);

// The names in `folder`, sorted; none when it does not exist.
std::vector<std::string> names_in(const std::string& folder);

// Leaves a Unix socket file at `path` that no one listens on.
void make_socket_file(const std::string& path);

// A datagram socket bound to `address`, "/PATH" or "@NAME", as NOTIFY_SOCKET names one.
int notify_receiver(const std::string& address);

// A TCP socket bound to `address` and *port (0: any free one, left in *port), listening when `listens`.
int tcp_socket(const char* address, uint16_t* port, bool listens, int v6_only = 1);

// Makes `path` a file of `size` bytes that takes no room on disk.
void make_sparse_file(const std::string& path, long long size);

// Makes in `folder` the files that no configuration can be read from: "fifo"
// (without a writer), "socket", the sparse "2GiB.conf" and "int32max.conf",
// "dangling.conf" (a link to nothing) and "loop.conf" (a link to itself).
void make_strange_files(const scratch_folder& folder);
