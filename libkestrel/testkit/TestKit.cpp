#include "libkestrel/testkit/TestKit.h"

#include <stdlib.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "libkestrel/framework/FileIo.h"
#include "libkestrel/trace/QXTrace.h"

namespace kestrel::test {

TempDir::TempDir(std::string_view prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + pattern);
    }
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Read(std::string_view name) const
{
    return ReadFile(File(name));
}

void TempDir::Write(std::string_view name, std::string_view bytes) const
{
    WriteFile(File(name), bytes);
}

std::string ReadFile(const std::string& path)
{
    return ReadWholeFile(path).value_or(std::string());
}

void WriteFile(const std::string& path, std::string_view bytes)
{
    if (!AtomicWriteFile(path, bytes, Durability::kRenamed)) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit, std::chrono::milliseconds poll)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return done();
        }
        std::this_thread::sleep_for(poll);
    }
}

namespace {

std::mutex g_lock;
std::vector<TraceCapture::Line> g_lines;
QXTraceFunction g_previousTrace = nullptr;
QXTraceFunction g_previousTraceln = nullptr;
QXCheckLevelFunction g_previousCheck = nullptr;

void Record(int level, const char* format, ...)
{
    char buffer[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized): started above
    va_end(args);
    const std::lock_guard guard(g_lock);
    g_lines.push_back({level, buffer});
}

int EveryLevel(int /*level*/)
{
    return 1;
}

bool Matches(const TraceCapture::Line& line, std::string_view part, int level)
{
    return (level < 0 || line.level == level) && line.text.find(part) != std::string::npos;
}

}  // namespace

TraceCapture::TraceCapture()
{
    const std::lock_guard guard(g_lock);
    g_lines.clear();
    g_previousTrace = QXTrace;
    g_previousTraceln = QXTraceln;
    g_previousCheck = CheckLevel;
    SetTraceFunction(&Record);
    SetTracelnFunction(&Record);
    SetCheckLevelFunction(&EveryLevel);
}

TraceCapture::~TraceCapture()
{
    SetTraceFunction(g_previousTrace);
    SetTracelnFunction(g_previousTraceln);
    SetCheckLevelFunction(g_previousCheck);
    const std::lock_guard guard(g_lock);
    g_lines.clear();
}

std::vector<TraceCapture::Line> TraceCapture::Lines() const
{
    const std::lock_guard guard(g_lock);
    return g_lines;
}

std::vector<TraceCapture::Line> TraceCapture::Take()
{
    const std::lock_guard guard(g_lock);
    return std::exchange(g_lines, {});
}

void TraceCapture::Clear()
{
    const std::lock_guard guard(g_lock);
    g_lines.clear();
}

std::vector<std::string> TraceCapture::AtLevel(int level) const
{
    std::vector<std::string> out;
    for (const Line& line : Lines()) {
        if (line.level == level) {
            out.push_back(line.text);
        }
    }
    return out;
}

std::vector<std::string> TraceCapture::MessagesAt(int level) const
{
    std::vector<std::string> out;
    for (const std::string& text : AtLevel(level)) {
        out.push_back(MessageOf(text));
    }
    return out;
}

bool TraceCapture::Contains(std::string_view part, int level) const
{
    return Count(part, level) > 0;
}

int TraceCapture::Count(std::string_view part, int level) const
{
    const std::lock_guard guard(g_lock);
    int count = 0;
    for (const Line& line : g_lines) {
        count += Matches(line, part, level) ? 1 : 0;
    }
    return count;
}

bool TraceCapture::WaitFor(std::string_view part, std::chrono::milliseconds limit, int level) const
{
    return WaitUntil([&] { return Contains(part, level); }, limit);
}

std::string MessageOf(const std::string& line)
{
    const auto at = line.find("): ");
    return at == std::string::npos ? line : line.substr(at + 3);
}

}  // namespace kestrel::test
