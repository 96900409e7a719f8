// Trace levels from "Trace level": user levels 100..104 and the tagged levels,
// switched through the tools library's hooks that the trace mode fills in.
#pragma once

namespace vorlix::app {

void ApplyTraceLevel(int traceLevel);

// Sends every trace line to standard error (the --verbose switch) and fills
// the level hooks with a local switch table.
void InstallStderrTrace();

}  // namespace vorlix::app
