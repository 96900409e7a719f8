#include "serveur/core/tests/TestSupport.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "libkestrel/trace/QXTrace.h"

namespace vorlix::test {

ScratchDir::ScratchDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "core_test_XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::Read(const std::string& name) const
{
    std::ifstream in(File(name), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

namespace {
std::mutex g_mutex;
std::vector<TraceCapture::Line> g_lines;

void CaptureLine(int level, const char* format, ...)
{
    char buf[2048];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    std::lock_guard lock(g_mutex);
    g_lines.push_back({level, buf});
}

int AllLevels(int)
{
    return 1;
}
QXCheckLevelFunction g_previousCheck = nullptr;
}  // namespace

TraceCapture::TraceCapture()
{
    std::lock_guard lock(g_mutex);
    g_lines.clear();
    SetTracelnFunction(&CaptureLine);
    SetTraceFunction(&CaptureLine);
    g_previousCheck = CheckLevel;
    SetCheckLevelFunction(&AllLevels);
}

TraceCapture::~TraceCapture()
{
    SetTracelnFunction(&QXTraceNull);
    SetTraceFunction(&QXTraceNull);
    SetCheckLevelFunction(g_previousCheck);
}

std::vector<TraceCapture::Line> TraceCapture::Take()
{
    std::lock_guard lock(g_mutex);
    auto out = std::move(g_lines);
    g_lines.clear();
    return out;
}

std::vector<std::string> TraceCapture::AtLevel(int level)
{
    std::vector<std::string> out;
    for (auto& l : Take())
        if (l.level == level)
            out.push_back(l.text);
    return out;
}

std::string MessageOf(const std::string& line)
{
    const auto at = line.find("): ");
    return at == std::string::npos ? line : line.substr(at + 3);
}

std::vector<std::string> TraceCapture::MessagesAt(int level)
{
    std::vector<std::string> out;
    for (auto& l : AtLevel(level))
        out.push_back(MessageOf(l));
    return out;
}

std::vector<std::uint8_t> FlatFrame(int width, int height, std::uint8_t value, int bpp)
{
    return std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * bpp), value);
}

void PaintBlock(std::vector<std::uint8_t>& frame, int width, int bpp, int x0, int y0, int x1, int y1,
                std::uint8_t value)
{
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < bpp; ++c)
                frame[static_cast<std::size_t>((y * width + x) * bpp + c)] = value;
}

}  // namespace vorlix::test
