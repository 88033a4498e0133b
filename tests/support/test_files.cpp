// SPDX-License-Identifier: Apache-2.0
#include "tests/support/test_files.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

scratch_folder::scratch_folder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "velta-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a scratch folder");
    path = pattern;
}

scratch_folder::~scratch_folder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void make_socket_file(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw std::runtime_error("socket path too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = listener >= 0 && bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (listener >= 0)
        close(listener);
    if (!bound)
        throw std::runtime_error("cannot make the socket " + path);
}

int notify_receiver(const std::string& address)
{
    sockaddr_un name{AF_UNIX, {}};
    address.copy(name.sun_path, address.size());
    name.sun_path[0] = address[0] == '@' ? '\0' : '/';
    const auto length = static_cast<socklen_t>(sizeof name.sun_family + address.size() + (address[0] == '/'));
    const int receiver = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (bind(receiver, reinterpret_cast<sockaddr*>(&name), length) != 0)
        throw std::runtime_error("cannot bind " + address);
    return receiver;
}

int tcp_socket(const char* address, uint16_t* port, bool listens, int v6_only)
{
    sockaddr_in6 name{AF_INET6, htons(*port), 0, {}, 0}; // sin_port lies where sin6_port does
    socklen_t length = sizeof name;
    if (inet_pton(AF_INET6, address, &name.sin6_addr) != 1) {
        name.sin6_family = AF_INET;
        inet_pton(AF_INET, address, &reinterpret_cast<sockaddr_in*>(&name)->sin_addr);
        length = sizeof(sockaddr_in);
    }
    const int server = socket(name.sin6_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    setsockopt(server, IPPROTO_IPV6, IPV6_V6ONLY, &v6_only, sizeof v6_only);
    if (bind(server, reinterpret_cast<sockaddr*>(&name), length) != 0 || (listens && listen(server, 4) != 0))
        throw std::runtime_error(std::string("cannot listen on ") + address);
    getsockname(server, reinterpret_cast<sockaddr*>(&name), &length);
    *port = ntohs(name.sin6_port);
    return server;
}

std::vector<std::string> names_in(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(folder, missing))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void make_sparse_file(const std::string& path, long long size)
{
    write_file(path, "");
    if (truncate(path.c_str(), static_cast<off_t>(size)) != 0)
        throw std::runtime_error("cannot size " + path);
}

void make_strange_files(const scratch_folder& folder)
{
    if (mkfifo(folder.file("fifo").c_str(), 0600) != 0)
        throw std::runtime_error("cannot make a FIFO");
    make_socket_file(folder.file("socket"));
    make_sparse_file(folder.file("2GiB.conf"), 1LL << 31);
    // The largest size taken is INT32_MAX - 1, which leaves room for the NUL.
    make_sparse_file(folder.file("int32max.conf"), INT32_MAX);
    std::filesystem::create_symlink(folder.file("missing.conf"), folder.file("dangling.conf"));
    std::filesystem::create_symlink(folder.file("loop.conf"), folder.file("loop.conf"));
}
