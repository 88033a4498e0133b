// SPDX-License-Identifier: Apache-2.0
// Telling the service manager that the service is ready, against sockets of the test's own.
#include "platform/service_ready.h"
#include "tests/support/test_files.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

// The datagrams `receiver` gets, one a line: up to three, waiting `wait_ms`
// for the first and 300 ms for each further one.
std::string received(int receiver, int wait_ms)
{
    std::string datagrams;
    char data[64];
    pollfd ready{receiver, POLLIN, 0};
    for (int count = 0; count < 3 && poll(&ready, 1, count == 0 ? wait_ms : 300) == 1; ++count)
        datagrams.append(data, static_cast<size_t>(std::max(recv(receiver, data, sizeof data, 0), 0l))).append("\n");
    return datagrams;
}

TEST(NotifyReady, SendsReadyOnceToTheSocketNamedOrSaysWhyNot)
{
    scratch_folder folder;
    const std::string name = "@velta-ready-" + std::to_string(getpid());
    // NOTIFY_SOCKET ("" to unset it), a receiver bound there, its queue filled first.
    struct row { const char* name; std::string notify_socket; bool receiver; ready_notice result; bool full = false; };
    const row rows[] = {
        {"a path", folder.file("notify"), true, ready_sent},
        {"an abstract name", name, true, ready_sent},
        {"unset", "", false, ready_not_asked},
        {"a path where no socket is", folder.file("none"), false, ready_not_delivered},
        {"a socket whose queue is full", folder.file("full"), true, ready_not_delivered, true},
        {"a path too long", "/" + std::string(107, 'p'), false, ready_bad_address},
        {"a name too long", "@" + std::string(108, 'n'), false, ready_bad_address},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const int receiver = r.receiver ? notify_receiver(r.notify_socket) : -1;
        r.notify_socket.empty() ? unsetenv("NOTIFY_SOCKET") : setenv("NOTIFY_SOCKET", r.notify_socket.c_str(), 1);
        for (int sent = 0; r.full && sent < 100; ++sent)
            (void)notify_ready(); // would block once the queue is full, were the send not non-blocking
        EXPECT_EQ(notify_ready(), r.result);
        EXPECT_EQ(r.full ? "" : received(receiver, 0), r.result == ready_sent ? "READY=1\n" : "");
        close(receiver);
    }
}

TEST(ListensOnTcpPort, CountsOnlyListenersOfThisProcess)
{
    for (const auto& [address, v6_only] : {std::pair{"127.0.0.1", 1}, {"::", 0}, {"::1", 1}}) {
        SCOPED_TRACE(address);
        uint16_t port = 0;
        const int server = tcp_socket(address, &port, false, v6_only);
        listen(server, 4);
        EXPECT_EQ(listens_on_tcp_port(port), 1);
        close(server);
    }
    // A listener that only another process holds, then this process's too.
    uint16_t port = 0;
    const int handed_over = tcp_socket("127.0.0.1", &port, true);
    const pid_t child = fork();
    for (; child == 0;)
        pause();
    close(handed_over);
    EXPECT_EQ(listens_on_tcp_port(port), 0) << "the other process's";
    const int server = tcp_socket("127.0.0.2", &port, true);
    EXPECT_EQ(listens_on_tcp_port(port), 1) << "both";
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(server);
}

TEST(WatchForListeningPort, SendsReadyOnceWhenThisProcessListensThenEnds)
{
    const std::string name = "@velta-watch-" + std::to_string(getpid());
    const int receiver = notify_receiver(name);
    uint16_t port = 0;
    const int server = tcp_socket("127.0.0.1", &port, false);
    const auto threads = names_in("/proc/self/task");
    const auto descriptors = names_in("/proc/self/fd");
    setenv("NOTIFY_SOCKET", name.c_str(), 1);
    ASSERT_EQ(watch_for_listening_port(port), 0);
    EXPECT_EQ(received(receiver, 300), "") << "before listening";
    listen(server, 4);
    EXPECT_EQ(received(receiver, 5000), "READY=1\n");
    for (int wait = 0; wait < 100 && names_in("/proc/self/task") != threads; ++wait)
        usleep(10000);
    EXPECT_EQ(names_in("/proc/self/task"), threads) << "the watcher ended";
    EXPECT_EQ(names_in("/proc/self/fd"), descriptors) << "and left no descriptor";
    unsetenv("NOTIFY_SOCKET");
}

} // namespace
