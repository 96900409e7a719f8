// The error mode: receives the QXError texts (the trace library's own
// failures) at level 0, whose trace and log switches it turns on. It
// registers in the error slot, so SorError and SetQXErrorFile reach it.
//
// Its outputs are those of the local trace mode (a window or the standard
// error stream, and log files); until that mode is built on it, this holds
// the settings the outputs will use and delivers nowhere.
#pragma once

#include <string>

#include "libsorrel/CTraceMode.h"

namespace sorrel {

class CErrorTraceMode : public CTraceMode {
public:
    // kind 1: a trace window; any other value: the standard error stream.
    CErrorTraceMode(const char* title, const char* logFile, int slices, int kind);

    void InitLevels() override { NO_DYNAMIC(); }

    [[nodiscard]] const std::string& Title() const { return title_; }
    [[nodiscard]] int Kind() const { return kind_; }

private:
    std::string title_;
    int kind_;
};

}  // namespace sorrel
