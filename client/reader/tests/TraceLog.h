// Records the trace lines of the code under test while alive.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "libkestrel/trace/QXTrace.h"

namespace vorlix::client::testing {

class TraceLog {
public:
    TraceLog()
    {
        Clear();
        SetCheckLevelFunction(&AlwaysTrue);
        SetTracelnFunction(&Record);
    }
    ~TraceLog()
    {
        SetTracelnFunction(&QXTraceNull);
        SetCheckLevelFunction(&AlwaysTrue);
    }
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    static void Clear()
    {
        const std::lock_guard lock(Mutex());
        Lines().clear();
    }
    // Lines that contain `part`.
    [[nodiscard]] static int Count(const std::string& part)
    {
        const std::lock_guard lock(Mutex());
        int count = 0;
        for (const std::string& line : Lines()) {
            count += line.find(part) != std::string::npos ? 1 : 0;
        }
        return count;
    }
    [[nodiscard]] static std::string All()
    {
        const std::lock_guard lock(Mutex());
        std::string all;
        for (const std::string& line : Lines()) {
            all += line + "\n";
        }
        return all;
    }

private:
    static std::mutex& Mutex()
    {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<std::string>& Lines()
    {
        static std::vector<std::string> lines;
        return lines;
    }
    static void Record(int /*level*/, const char* format, ...)
    {
        char text[2048];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        const std::lock_guard lock(Mutex());
        Lines().emplace_back(text);
    }
};

}  // namespace vorlix::client::testing
