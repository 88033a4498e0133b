// SPDX-License-Identifier: Apache-2.0
// Telling the service manager when the program is ready: the steps
// launch_ready_watch and launch_main_ready.
#include "launcher/launch_steps.h"
#include "platform/platform.h"
#include "platform/service_ready.h"

#include <cstdlib>

void watch_ready_port(int32_t ready)
{
    if (ready <= 0)
        return;
    const auto port = static_cast<uint16_t>(ready);
    const int watching = watch_for_listening_port(port);
    const char* notify_socket = std::getenv("NOTIFY_SOCKET");
    if (watching < 0)
        log_error("Could not start watching port %d", ready);
    // Set, but to no socket address: nothing could be told.
    else if (watching == 1 && notify_socket != nullptr && notify_socket[0] != '\0')
        log_error("Could not tell the service manager at %s that the program is ready", notify_socket);
    // The watcher cannot log: one look here says whether it can see
    // anything at all. Under systemd's RestrictAddressFamilies= without
    // AF_NETLINK it never can, and the service would time out unexplained.
    else if (watching == 0 && listens_on_tcp_port(port) < 0)
        log_error("Cannot see this process's listening sockets to watch port %d", ready);
}

void tell_main_returned(int32_t ready)
{
    if (ready != ready_main)
        return;
    const ready_notice notice = notify_ready();
    if (notice != ready_sent && notice != ready_not_asked)
        log_error("Could not tell the service manager at %s that the program is ready", std::getenv("NOTIFY_SOCKET"));
}
