// Connecting to a TCP server by host name or address text (IPv4 or IPv6).
#pragma once

#include <functional>

namespace wicket {

// A connected TCP socket to `host`:`port`, usable with send, recv and close,
// or a negative value with the error set: errno for a system failure, the
// socket slot 11001 ("Host not found") when the name does not resolve.
// `nonBlocking`: leave the socket in non-blocking mode (callers pass false).
// `noDelay`: send small writes at once (TCP_NODELAY; callers pass true).
int ServerConnect(const char* host, int port, bool nonBlocking, bool noDelay);

// The same with a deadline for the whole connection (every address tried
// within it): ETIMEDOUT when `timeoutMs` passes first. `abandon`, when given,
// is asked every 100 ms and ends the wait with ECANCELED when it says so.
// Name resolution keeps the resolver's own time limits.
int ServerConnect(const char* host, int port, bool nonBlocking, bool noDelay, int timeoutMs,
                  const std::function<bool()>& abandon = {});

}  // namespace wicket
