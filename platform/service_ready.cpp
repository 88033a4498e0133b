// SPDX-License-Identifier: Apache-2.0
#include "platform/service_ready.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/magic.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char ready_message[] = "READY=1";

struct notify_address {
    sockaddr_un address;
    socklen_t length;
};

// Reads NOTIFY_SOCKET into *to. Returns ready_sent when *to holds the
// address, otherwise ready_not_asked or ready_bad_address (see the header).
ready_notice read_notify_address(notify_address* to)
{
    const char* value = std::getenv("NOTIFY_SOCKET");
    if (value == nullptr || *value == '\0')
        return ready_not_asked;
    // A path keeps its terminating NUL inside sun_path; an abstract name is
    // exactly as long as written, its "@" becoming the leading NUL.
    const size_t length = std::strlen(value);
    const bool path = value[0] == '/';
    if (path ? length >= sizeof to->address.sun_path
             : value[0] != '@' || length < 2 || length > sizeof to->address.sun_path)
        return ready_bad_address;
    *to = {};
    to->address.sun_family = AF_UNIX;
    std::memcpy(to->address.sun_path, value, length);
    if (!path)
        to->address.sun_path[0] = '\0';
    to->length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (path ? 1 : 0));
    return ready_sent;
}

// Non-blocking, so that a receiver whose queue is full, or that never reads,
// cannot hold up the program.
ready_notice send_ready(const notify_address& to)
{
    const int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (sender < 0)
        return ready_no_socket;
    const ssize_t sent = sendto(sender, ready_message, sizeof ready_message - 1, MSG_DONTWAIT | MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&to.address), to.length);
    close(sender);
    return sent == sizeof ready_message - 1 ? ready_sent : ready_not_delivered;
}

// How a look finds the process's listeners. The kernel's socket diagnostics
// (NETLINK_SOCK_DIAG) are asked for the TCP sockets in the listening state on
// the port, one dump per family: the kernel filters by state and port itself
// and walks only its table of listeners. Only when some socket listens there
// are this process's descriptors read (/proc/thread-self/fd) and matched by
// inode; the look that finds the listener is the last. /proc/self/net/tcp
// and tcp6 would tell the same, but as text of every TCP socket of the
// namespace, formatted at each read after a walk of the kernel's whole
// connection table. Measured with 1,000 descriptors held and 10,000 sockets
// in the namespace: a look costs 0.04 ms of CPU through netlink and 14 ms
// through /proc while nothing listens on the port (6 ms through /proc with
// no other socket in the namespace); the look that finds the listener 3 ms,
// nearly all of it reading the 1,000 descriptors' links. A netlink look grows
// only with the listeners of the namespace (0.4 ms with 15,000). A waiting
// watcher thread used 0.19% of one core, a third of it its wake-ups alone.
constexpr int most_listeners = 256;

struct listener_inodes {
    uint32_t inodes[most_listeners];
    int count;
};

// Adds to *found the inode of each TCP socket of `family` that listens on
// `port`, from one dump through `diagnostics`, a netlink socket connected to
// the kernel. Returns 0, or -1 when the dump failed, was cut short or held
// more than most_listeners.
int add_listeners(int diagnostics, uint8_t family, uint16_t port, listener_inodes* found)
{
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } ask{};
    ask.header.nlmsg_len = sizeof ask;
    ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    ask.request.sdiag_family = family;
    ask.request.sdiag_protocol = IPPROTO_TCP;
    ask.request.idiag_states = 1u << TCP_LISTEN;
    ask.request.id.idiag_sport = htons(port);
    if (send(diagnostics, &ask, sizeof ask, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof ask))
        return -1;
    alignas(nlmsghdr) char reply[8192];
    for (;;) {
        // With MSG_TRUNC, netlink returns the datagram's whole length.
        const ssize_t received = recv(diagnostics, reply, sizeof reply, MSG_TRUNC);
        if (received <= 0 || static_cast<size_t>(received) > sizeof reply)
            return -1;
        size_t left = static_cast<size_t>(received);
        for (const char* at = reply; left >= sizeof(nlmsghdr);) {
            const auto* message = reinterpret_cast<const nlmsghdr*>(at);
            if (message->nlmsg_len < sizeof(nlmsghdr) || message->nlmsg_len > left)
                return -1;
            if (message->nlmsg_type == NLMSG_DONE)
                return 0;
            if (message->nlmsg_type == NLMSG_ERROR)
                return -1;
            const auto* listener = reinterpret_cast<const inet_diag_msg*>(at + NLMSG_HDRLEN);
            if (message->nlmsg_type == SOCK_DIAG_BY_FAMILY && message->nlmsg_len >= NLMSG_HDRLEN + sizeof *listener
                && listener->idiag_state == TCP_LISTEN && listener->id.idiag_sport == htons(port)) {
                if (found->count == most_listeners)
                    return -1;
                found->inodes[found->count++] = listener->idiag_inode;
            }
            const size_t step = std::min(static_cast<size_t>(NLMSG_ALIGN(message->nlmsg_len)), left);
            at += step;
            left -= step;
        }
    }
}

// Whether `link`, `length` bytes read from a descriptor's entry in
// /proc/PID/fd, is "socket:[INODE]" with an INODE among `found`.
bool is_socket_among(const char* link, size_t length, const listener_inodes& found)
{
    constexpr char prefix[] = "socket:[";
    constexpr size_t prefix_length = sizeof prefix - 1;
    if (length <= prefix_length + 1 || std::memcmp(link, prefix, prefix_length) != 0 || link[length - 1] != ']')
        return false;
    uint64_t inode = 0;
    for (size_t i = prefix_length; i < length - 1; ++i) {
        if (link[i] < '0' || link[i] > '9' || inode > UINT32_MAX)
            return false;
        inode = inode * 10 + static_cast<uint64_t>(link[i] - '0');
    }
    return std::find(found.inodes, found.inodes + found.count, inode) != found.inodes + found.count;
}

// Returns 1 when one of this process's descriptors is a socket among
// `found`, 0 when none is, -1 when the descriptors cannot be read. The
// folder is checked to be the proc file system's through the descriptor
// read: any other file system could hold links that name any socket.
// /proc/thread-self rather than /proc/self, whose descriptors read as none
// once the process's first thread has ended.
int holds_socket_among(const listener_inodes& found)
{
    const int folder = open("/proc/thread-self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return -1;
    struct statfs file_system;
    int result = fstatfs(folder, &file_system) == 0 && file_system.f_type == PROC_SUPER_MAGIC ? 0 : -1;
    alignas(dirent64) char entries[4096];
    while (result == 0) {
        const ssize_t got = getdents64(folder, entries, sizeof entries);
        if (got <= 0) {
            result = got == 0 ? 0 : -1;
            break;
        }
        for (ssize_t at = 0; at < got && result == 0;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            at += entry->d_reclen;
            // A descriptor closed since the folder was read has no link, and
            // one opened since may be missed: the next look sees it.
            char link[32];
            const ssize_t length = entry->d_type == DT_LNK ? readlinkat(folder, entry->d_name, link, sizeof link) : -1;
            if (length > 0 && is_socket_among(link, static_cast<size_t>(length), found))
                result = 1;
        }
    }
    close(folder);
    return result;
}

struct port_watch {
    uint16_t port;
    notify_address to;
};

void* watch_port(void* argument)
{
    const port_watch watch = *static_cast<const port_watch*>(argument);
    std::free(argument);
    constexpr timespec interval{0, 100'000'000};
    while (listens_on_tcp_port(watch.port) != 1)
        clock_nanosleep(CLOCK_MONOTONIC, 0, &interval, nullptr);
    (void)send_ready(watch.to);
    return nullptr;
}

} // namespace

ready_notice notify_ready()
{
    notify_address to;
    const ready_notice address = read_notify_address(&to);
    return address == ready_sent ? send_ready(to) : address;
}

int listens_on_tcp_port(uint16_t port)
{
    const int diagnostics = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (diagnostics < 0)
        return -1;
    // Connected to the kernel, the socket takes no datagram from another
    // process.
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    listener_inodes found;
    found.count = 0;
    const bool dumped = connect(diagnostics, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) == 0
        && add_listeners(diagnostics, AF_INET, port, &found) == 0
        && add_listeners(diagnostics, AF_INET6, port, &found) == 0;
    close(diagnostics);
    if (!dumped)
        return -1;
    return found.count == 0 ? 0 : holds_socket_among(found);
}

int watch_for_listening_port(uint16_t port)
{
    notify_address to;
    if (read_notify_address(&to) != ready_sent)
        return 1;
    auto* watch = static_cast<port_watch*>(std::malloc(sizeof(port_watch)));
    if (watch == nullptr)
        return -1;
    *watch = {port, to};
    // Blocking every signal while the thread is made gives it a mask of all:
    // signals meant for the process go to the program's threads. glibc keeps
    // its own internal signals unblocked, which setuid in a threaded process
    // needs.
    constexpr size_t stack_size = size_t{64} << 10;
    pthread_attr_t attributes;
    sigset_t all;
    sigset_t kept;
    sigfillset(&all);
    int started = -1;
    if (pthread_attr_init(&attributes) == 0) {
        pthread_t thread;
        if (pthread_attr_setstacksize(&attributes, std::max(stack_size, static_cast<size_t>(PTHREAD_STACK_MIN))) == 0
            && pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0
            && pthread_sigmask(SIG_SETMASK, &all, &kept) == 0) {
            started = pthread_create(&thread, &attributes, watch_port, watch) == 0 ? 0 : -1;
            pthread_sigmask(SIG_SETMASK, &kept, nullptr);
        }
        pthread_attr_destroy(&attributes);
    }
    if (started != 0)
        std::free(watch);
    return started;
}
