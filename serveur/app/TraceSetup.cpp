#include "serveur/app/TraceSetup.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "libkestrel/env/QXGetenv.h"
#include "libkestrel/framework/QXException.h"
#include "libkestrel/logfile/CLogFile.h"
#include "libkestrel/logfile/ColourMarkup.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "libsorrel/CAutoMutex.h"
#include "libsorrel/QXPRemoteTraceMode.h"

namespace vorlix::app {

namespace {

constexpr int kLogSlices = 4;
constexpr unsigned long kSliceSize = 524288;

// Levels a local mode keeps on: the failures the server survives.
std::atomic<bool> g_failuresAlwaysOn{false};

// The trace server's mode of the server: levels are never reloaded.
class ServerRemoteTrace : public sorrel::QXPRemoteTraceMode {
public:
    ServerRemoteTrace(const std::string& title, const std::string& logFile, const char* host, const char* service)
        : QXPRemoteTraceMode(kTraceSlot, title.c_str(), logFile.c_str(), kLogSlices, host, service, nullptr)
    {
        InitLevelsStatic();
    }
    void InitLevels() override { NO_DYNAMIC(); }
};

// Every line once to one output, markup shown as colours or left out.
class ServerLocalTrace : public sorrel::CTraceMode {
public:
    ServerLocalTrace(std::unique_ptr<kestrel::CFile> out, bool colour)
        : CTraceMode(kTraceSlot), out_(std::move(out)), colour_(colour)
    {
        InitLevelsStatic();
    }
    ~ServerLocalTrace() override
    {
        sorrel::CAutoMutex guard(GetMutex());
        out_.reset();
    }
    ServerLocalTrace(const ServerLocalTrace&) = delete;
    ServerLocalTrace& operator=(const ServerLocalTrace&) = delete;

    void InitLevels() override { NO_DYNAMIC(); }
    // A file that failed (a full disk) is tried again on the retry schedule
    // of the trace mode: the log file reopens itself at the next line.
    void ResetOutput(bool reopen, bool /*report*/) override
    {
        if (reopen) {
            SetFailureState(0);
        }
    }
    void DoTrace(int /*level*/, const char* line) override { Write(line); }
    void DoLog(int /*level*/, const char* line) override { Write(line); }
    void DoTraceAndLog(int /*level*/, const char* line) override { Write(line); }

private:
    void Write(const char* line)
    {
        if (out_) {
            std::string text = kestrel::RenderColourMarkup(line, colour_);
            text += '\n';
            out_->Write(text.data(), text.size());
        }
    }

    std::unique_ptr<kestrel::CFile> out_;
    bool colour_;
};

std::unique_ptr<sorrel::CTraceMode> MakeStderrMode()
{
    return std::make_unique<ServerLocalTrace>(std::make_unique<kestrel::CFile>(STDERR_FILENO, false),
                                              ::isatty(STDERR_FILENO) == 1);
}

// Through the tools library's hooks, which the trace mode filled in: the
// levels reach whatever trace library is installed.
void FailuresOn()
{
    for (const int level : {kestrel::kLevelWarn, kestrel::kLevelError, kestrel::kLevelFault}) {
        QXEnableTrace(level);
    }
}

}  // namespace

std::string RemoteLogName(const ServerPaths& paths)
{
    return std::filesystem::path(paths.traceDir).filename().string() + "/Vorlix";
}

std::unique_ptr<sorrel::CTraceMode> CreateServerTraceMode(TraceOutput output, const ServerPaths& paths,
                                                          std::string& note)
{
    std::unique_ptr<sorrel::CTraceMode> mode;
    try {
        if (output == TraceOutput::kServer) {
            const char* host = QXGetenv("QXTRACED_HOST");
            const std::string hostName = host != nullptr && *host != '\0' ? host : "localhost";
            const char* port = QXGetenv("QXTRACED_PORT");
            const std::string service = port != nullptr && *port != '\0' ? port : "qxtraced";
            mode = std::make_unique<ServerRemoteTrace>(paths.traceName, RemoteLogName(paths), hostName.c_str(),
                                                       service.c_str());
        } else if (output == TraceOutput::kFile) {
            try {
                auto log = std::make_unique<kestrel::CLogFile>(paths.traceBase.c_str(), kSliceSize, kLogSlices);
                mode = std::make_unique<ServerLocalTrace>(std::move(log), false);
            } catch (const kestrel::CFrameworkException& e) {
                note = "cannot write the trace files " + paths.traceBase + ".<n> (" + e.Message() +
                       "); tracing to standard error instead";
                mode = MakeStderrMode();
            }
        } else {
            mode = MakeStderrMode();
        }
    } catch (const std::exception& e) {
        // Step 5: a trace mode that cannot be made leaves every level off.
        note = std::string("no trace mode: ") + e.what();
        return nullptr;
    }
    mode->AutoDelete(false);
    g_failuresAlwaysOn = output != TraceOutput::kServer;
    if (g_failuresAlwaysOn) {
        FailuresOn();
    }
    return mode;
}

void ApplyTraceLevel(int t)
{
    // The levels wanted, then switched in one pass: what stays on is never
    // off for a moment, so the lines other threads write meanwhile (the
    // events list among them) are not lost by a reload.
    constexpr int kLevels = 256;
    std::array<bool, kLevels> trace{};
    std::array<bool, kLevels> log{};
    for (int k = 4; k >= 1; --k) {
        if (t > k) {
            const std::size_t level = static_cast<std::size_t>(kestrel::kLevelUser) + static_cast<std::size_t>(k);
            trace[level] = true;
            log[level] = true;
        }
    }
    if (t >= 1) {
        trace[kestrel::kLevelUser] = true;
        log[kestrel::kLevelUser] = true;
        for (int level = kestrel::kLevelDebug; level <= kestrel::kLevelFault; ++level) {
            trace[static_cast<std::size_t>(level)] = true;
        }
    }
    if (g_failuresAlwaysOn) {
        for (const int level : {kestrel::kLevelWarn, kestrel::kLevelError, kestrel::kLevelFault}) {
            trace[static_cast<std::size_t>(level)] = true;
        }
    }
    for (int level = 0; level < kLevels; ++level) {
        const auto at = static_cast<std::size_t>(level);
        if (trace[at]) {
            QXEnableTrace(level);
        } else {
            QXDisableOneTrace(level);
        }
        if (log[at]) {
            QXEnableLog(level);
        } else {
            QXDisableOneLog(level);
        }
    }

    static constexpr std::array<const char*, 5> kUserLines = {"", "init trace user 1", "init trace user 2",
                                                              "init trace user 3", "init trace user 4"};
    for (int k = 4; k >= 1; --k) {
        if (t > k) {
            TRACE_LEVEL(kestrel::kLevelUser4, "%s", kUserLines[static_cast<std::size_t>(k)]);
        }
    }
    if (t >= 1) {
        TRACE_LEVEL(kestrel::kLevelUser4, "init trace user");
        TRACE_DEBUG("Debug level activated");
        TRACE_TRACE("Trace level activated");
        TRACE_INFO("Info level activated");
        TRACE_WARN("Warning level activated");
        TRACE_ERROR("Error level activated");
        TRACE_FAULT("Fault level activated");
    }
}

}  // namespace vorlix::app
