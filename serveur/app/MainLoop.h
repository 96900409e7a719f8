// The headless message loop: the schedule timer and the signals, read through
// a signalfd so no work runs inside a signal handler.
#pragma once

#include "libkestrel/framework/UniqueFd.h"
#include "serveur/app/ServerApp.h"

namespace vorlix::app {

// Blocks SIGTERM, SIGINT and SIGHUP for the calling thread and every thread it
// creates later; call first thing in main, before any worker thread exists.
// Returns the signalfd, empty on failure.
kestrel::UniqueFd BlockServerSignals();

// Runs until the program ends: SIGTERM and SIGINT run the program end,
// SIGHUP reloads the configuration (signals are not read without
// `signalFd`). Returns the exit code.
int RunMainLoop(ServerApp& app, const kestrel::UniqueFd& signalFd);

}  // namespace vorlix::app
