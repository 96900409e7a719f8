// What the benchmarks share: CPU clocks and loopback sockets.
#pragma once

namespace vorlix::bench {

// CPU time of the whole process, user and system, in milliseconds.
double ProcessCpuMs();
// CPU time of the calling thread, in milliseconds.
double ThreadCpuMs();
// A TCP port of 127.0.0.1 that was free a moment ago (0 when none).
int FreeLoopbackPort();
// A blocking socket connected to 127.0.0.1:port, -1 when refused.
int ConnectLoopback(int port);

}  // namespace vorlix::bench
