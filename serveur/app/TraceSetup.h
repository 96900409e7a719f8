// The server's trace mode and its levels.
//
// Start-up step 5: without a --trace option the trace lines go to the trace
// server (qxtraced) through a listening remote mode named "Vorlix" or
// "Vorlix_<n>", which asks for the log file "traces/Vorlix" or
// "traces_<n>/Vorlix". Its listener connects off the start-up path: the
// start waits only for the first attempt (at most two seconds), then the
// listener goes on trying with its back-off. QXTRACED_HOST and QXTRACED_PORT
// (settings file of the environment, then the environment) name another
// trace server than the "qxtraced" service of this host.
//
// "--trace stderr" and "--trace file" write every line once, to the standard
// error stream or to rotating files "traces[_n]/Vorlix.<k>", with warnings and
// errors always on; colour markup becomes terminal colours on a terminal and
// is left out elsewhere.
#pragma once

#include <memory>
#include <string>

#include "serveur/app/CommandLine.h"
#include "serveur/app/ServerPaths.h"

namespace sorrel {
class CTraceMode;
}

namespace vorlix::app {

// The trace mode of the start-up, registered as the trace mode; null when
// it could not be made (then no level is switched on). A --trace file whose
// files cannot be written falls back to the standard error stream, saying so
// in `note`.
std::unique_ptr<sorrel::CTraceMode> CreateServerTraceMode(TraceOutput output, const ServerPaths& paths,
                                                          std::string& note);

// The log file name the server asks the trace server for: "traces/Vorlix"
// or "traces_<n>/Vorlix", relative to the server's directory.
std::string RemoteLogName(const ServerPaths& paths);

// Levels from "Trace level" t: all off, then user levels 100 + k for t > k
// (trace and log), at t >= 1 level 100 and the tagged levels 240..245
// (trace), each announced. A local mode keeps warnings, errors and faults
// on whatever t is.
void ApplyTraceLevel(int traceLevel);

}  // namespace vorlix::app
