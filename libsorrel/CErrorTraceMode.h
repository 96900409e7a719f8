// The error mode: a local trace mode registered in the error slot, so the
// QXError texts (the trace library's own failures) reach it at level 0,
// whose trace and log switches it turns on. SetQXErrorFile changes its log
// file.
#pragma once

#include "libsorrel/CLocalTraceMode.h"

namespace sorrel {

class CErrorTraceMode : public CLocalTraceMode {
public:
    // kind 1: a trace window; any other value: the standard error stream.
    CErrorTraceMode(const char* title, const char* logFile, int slices, int kind);
    ~CErrorTraceMode() override = default;

    CErrorTraceMode(const CErrorTraceMode&) = delete;
    CErrorTraceMode& operator=(const CErrorTraceMode&) = delete;

    void InitLevels() override { NO_DYNAMIC(); }
};

}  // namespace sorrel
