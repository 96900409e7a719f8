// Connecting a trace mode's socket within a time limit, and the socket
// options of a trace connection.
#pragma once

#include <chrono>
#include <string>

#include "libwicket/CBasicSocket.h"

namespace sorrel {

class StopSignal;

// Creates the socket (IPv4 first, then IPv6 when the host has no IPv4
// address) and connects it to `host`:`port`, waiting at most `limit` per
// address and ending early when `stop` is signalled. False with errno set.
bool ConnectWithin(wicket::CBasicSocket& socket, const std::string& host, int port, std::chrono::milliseconds limit,
                   StopSignal* stop);

// Linger on with 0 seconds (closing drops unsent data at once), a 64 KiB
// send buffer, and send and receive timeouts of `io`.
void SetTraceSocketOptions(int fd, std::chrono::milliseconds io);

}  // namespace sorrel
