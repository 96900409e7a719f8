#include "libsorrel/CArchiveTraceMode.h"

#include <string>

#include "libsorrel/CAutoMutex.h"

namespace sorrel {

CArchiveTraceMode::CArchiveTraceMode(int slot, kestrel::CQXArchive* trace, kestrel::CQXArchive* log,
                                     kestrel::CQXArchive* both)
    : CTraceMode(slot), traceArchive_(trace), logArchive_(log), bothArchive_(both)
{
}

CArchiveTraceMode::~CArchiveTraceMode()
{
    // A line in flight on another thread finishes first; later ones find
    // no archive.
    SetTraceArchives(nullptr, nullptr, nullptr);
}

void CArchiveTraceMode::WriteLine(kestrel::CQXArchive* archive, const char* line)
{
    if (archive == nullptr) {
        return;
    }
    *archive << std::string(line);
    *archive << (lineEnds_ ? &kestrel::arendl : &kestrel::arflush);
}

void CArchiveTraceMode::DoTrace(int /*level*/, const char* line)
{
    WriteLine(traceArchive_, line);
}

void CArchiveTraceMode::DoLog(int /*level*/, const char* line)
{
    WriteLine(logArchive_, line);
}

void CArchiveTraceMode::DoTraceAndLog(int level, const char* line)
{
    if (bothArchive_ != nullptr) {
        WriteLine(bothArchive_, line);
        return;
    }
    DoTrace(level, line);
    DoLog(level, line);
}

void CArchiveTraceMode::SetTraceArchives(kestrel::CQXArchive* trace, kestrel::CQXArchive* log,
                                         kestrel::CQXArchive* both)
{
    CAutoMutex guard(GetMutex());
    traceArchive_ = trace;
    logArchive_ = log;
    bothArchive_ = both;
}

void CArchiveTraceMode::AutoCR(bool lineEnds)
{
    CAutoMutex guard(GetMutex());
    lineEnds_ = lineEnds;
}

bool CArchiveTraceMode::AutoCR()
{
    CAutoMutex guard(GetMutex());
    return lineEnds_;
}

}  // namespace sorrel
