// SPDX-License-Identifier: Apache-2.0
// Telling the service manager that the service is ready, as systemd's
// Type=notify takes it: one datagram "READY=1" to the local socket that the
// environment variable NOTIFY_SOCKET names, either a path such as
// "/run/systemd/notify" or a Linux abstract socket name written with a
// leading "@". The kernel gives the receiver this process's ID as the
// sender, whichever of its threads sends.
//
// Nothing here logs, blocks, or keeps a descriptor beyond one call; every
// descriptor it opens is close-on-exec.
#pragma once

#include <cstdint>

// What notify_ready did.
enum ready_notice : int {
    ready_sent = 0,           // the datagram was handed to the socket
    ready_not_asked = 1,      // NOTIFY_SOCKET is unset or empty: nothing to tell
    ready_bad_address = -1,   // NOTIFY_SOCKET is neither "/PATH" nor "@NAME" with a
                              // NAME, or is longer than a socket address holds: 107
                              // bytes for a path, 108 with the "@" for a name
    ready_no_socket = -2,     // no local datagram socket could be made (descriptors
                              // or memory ran out, or the family is refused)
    ready_not_delivered = -3, // the send failed: no socket at that address, no right
                              // to write to it, or its queue is full (never waited for)
};

// Sends "READY=1" to the socket that NOTIFY_SOCKET names, once, without
// waiting. Reads the environment: not to be called while another thread may
// change it.
ready_notice notify_ready();

// Returns 1 when this process holds a TCP socket listening on `port`, on any
// local address, IPv4 or IPv6 (an IPv6 socket that also takes IPv4
// connections among them), in this process's network namespace; 0 when it
// holds none (never 1 for port 0), also when another process listens on the
// port. Returns -1 when it cannot tell: the kernel's socket diagnostics
// cannot be asked (netlink refused, as under systemd's
// RestrictAddressFamilies= without AF_NETLINK, or descriptors ran out), or
// /proc/thread-self/fd cannot be read or is not the proc file system's, or
// more than 256 sockets listen on the port.
//
// Safe while other threads open and close descriptors: a socket that starts
// listening meanwhile may be missed, but a socket counts only when it listens
// and this process holds it. Allocates nothing and takes no lock; opens two
// descriptors for the time of the call. Needs about 14 KiB of stack.
int listens_on_tcp_port(uint16_t port);

// Starts a thread that looks at once and then every 100 ms whether this
// process listens on `port` (listens_on_tcp_port; a look that cannot tell is
// followed by the next) and, the first time it does, sends "READY=1" to the
// socket that NOTIFY_SOCKET named when this was called, then ends, whether
// or not the send went through (it is not tried again). The thread is
// detached, blocks every signal and has a stack of 64 KiB; once it has freed
// the record it was started with, it neither allocates nor takes a lock. The
// process ends whenever it would without it. For port 0 it never finds a
// listener.
//
// Returns 0 when the thread runs; 1 when none is started because there is
// nothing to tell: NOTIFY_SOCKET is unset, empty or unusable (notify_ready's
// ready_not_asked and ready_bad_address); -1 when the thread could not be
// started (memory or threads ran out), with nothing left behind.
int watch_for_listening_port(uint16_t port);
