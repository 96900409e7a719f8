// What the benchmarks share: CPU clocks and loopback sockets.
#pragma once

namespace vorlix::bench {

// CPU time of the whole process, user and system, in milliseconds.
double ProcessCpuMs();
// CPU time of the calling thread, in milliseconds.
double ThreadCpuMs();
// A blocking socket connected to 127.0.0.1:port, -1 when refused.
int ConnectLoopback(int port);

}  // namespace vorlix::bench
