// A trace mode whose outputs are archives: trace lines to the trace archive,
// log lines to the log archive, lines due to both outputs once to the both
// archive (or to each of the other two when there is none). It does not own
// its archives. The base of the local and the remote modes.
#pragma once

#include "libkestrel/archive/CQXArchive.h"
#include "libsorrel/CTraceMode.h"

namespace sorrel {

class CArchiveTraceMode : public CTraceMode {
public:
    CArchiveTraceMode(int slot, kestrel::CQXArchive* trace, kestrel::CQXArchive* log, kestrel::CQXArchive* both);
    ~CArchiveTraceMode() override;

    CArchiveTraceMode(const CArchiveTraceMode&) = delete;
    CArchiveTraceMode& operator=(const CArchiveTraceMode&) = delete;

    void DoTrace(int level, const char* line) override;
    void DoLog(int level, const char* line) override;
    void DoTraceAndLog(int level, const char* line) override;

    // Under the mode's lock.
    void SetTraceArchives(kestrel::CQXArchive* trace, kestrel::CQXArchive* log, kestrel::CQXArchive* both);
    // True: each line is followed by arendl ("\r\n" and a flush); false: by
    // arflush only.
    void AutoCR(bool lineEnds);
    [[nodiscard]] bool AutoCR();

protected:
    [[nodiscard]] kestrel::CQXArchive* TraceArchive() const { return traceArchive_; }
    [[nodiscard]] kestrel::CQXArchive* LogArchive() const { return logArchive_; }
    [[nodiscard]] kestrel::CQXArchive* BothArchive() const { return bothArchive_; }

private:
    void WriteLine(kestrel::CQXArchive* archive, const char* line);

    kestrel::CQXArchive* traceArchive_;
    kestrel::CQXArchive* logArchive_;
    kestrel::CQXArchive* bothArchive_;
    bool lineEnds_ = false;
};

}  // namespace sorrel
