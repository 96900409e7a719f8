#include "libsorrel/CErrorTraceMode.h"

namespace sorrel {

CErrorTraceMode::CErrorTraceMode(const char* title, const char* logFile, int slices, int kind)
    : CTraceMode(kErrorSlot), title_(title != nullptr ? title : "Application"), kind_(kind)
{
    CTraceMode::SetLogFile(logFile, slices, true);
    EnableTrace(0);
    EnableLog(0);
}

}  // namespace sorrel
