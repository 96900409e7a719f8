// What the benchmarks share: CPU clocks and loopback sockets.
#pragma once

#include "libkestrel/framework/UniqueFd.h"

namespace vorlix::bench {

// CPU time of the whole process, user and system, in milliseconds.
double ProcessCpuMs();
// CPU time of the calling thread, in milliseconds.
double ThreadCpuMs();
// A blocking socket connected to 127.0.0.1:port; empty when refused.
kestrel::UniqueFd ConnectLoopback(int port);
// A socket listening on a free port of 127.0.0.1, its number in `port`;
// empty when none could be had.
kestrel::UniqueFd ListenLoopback(int backlog, int& port);

}  // namespace vorlix::bench
