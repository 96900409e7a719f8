#include "libsorrel/CErrorTraceMode.h"

namespace sorrel {

CErrorTraceMode::CErrorTraceMode(const char* title, const char* logFile, int slices, int kind)
    : CLocalTraceMode(kErrorSlot, title, logFile, slices, kind)
{
    EnableTrace(0);
    EnableLog(0);
}

}  // namespace sorrel
