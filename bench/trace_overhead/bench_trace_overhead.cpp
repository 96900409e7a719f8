// The cost of tracing. A call at a level that is off must cost no
// formatting: it is measured beside an empty call through a hook-shaped
// function pointer in the same run. A call at an enabled level goes through
// the whole mode (format, line cut, switch tests) into an output that does
// nothing; "delivered" counts the lines that reached it (with two threads
// the in-trace rule drops calls that meet one in progress).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdarg>

#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "libsorrel/CTraceMode.h"
#include "libsorrel/SorrelTrace.h"

namespace {

constexpr int kOnLevel = 242;   // [INFO ]
constexpr int kOffLevel = 241;  // [TRACE]

class NullOutputMode : public sorrel::CTraceMode {
public:
    NullOutputMode() : CTraceMode(kTraceSlot) { InitLevelsStatic(); }
    void DoTrace(int /*level*/, const char* line) override
    {
        benchmark::DoNotOptimize(line);
        delivered.fetch_add(1, std::memory_order_relaxed);
    }
    std::atomic<long> delivered{0};
};

NullOutputMode* g_mode = nullptr;

__attribute__((noinline)) void EmptyHook(int level, const char* format, ...)
{
    benchmark::DoNotOptimize(level);
    benchmark::DoNotOptimize(format);
}
QXTraceFunction volatile g_emptyHook = &EmptyHook;

void BM_EmptyFunctionCall(benchmark::State& state)
{
    int i = 0;
    for (auto _ : state) {
        g_emptyHook(kOffLevel, "Client %d sent %s", ++i, "request");
    }
}
BENCHMARK(BM_EmptyFunctionCall);

// The trace library's entry at a level that is off: the registered mode and
// its two switches are read without a lock; nothing is formatted and the
// last-error values are not touched.
void BM_TraceCallLevelOff(benchmark::State& state)
{
    int i = 0;
    for (auto _ : state) {
        SorTraceln(kOffLevel, "Client %d sent %s", ++i, "request");
    }
}
BENCHMARK(BM_TraceCallLevelOff);

// The same for a mode that reloads its levels every 10 seconds: one clock
// read more, to see whether the reload is due.
void BM_TraceCallLevelOffReloadingMode(benchmark::State& state)
{
    g_mode->InitLevelsInterval(10);
    int i = 0;
    for (auto _ : state) {
        SorTraceln(kOffLevel, "Client %d sent %s", ++i, "request");
    }
    g_mode->InitLevelsStatic();
}
BENCHMARK(BM_TraceCallLevelOffReloadingMode);

// What the programs' trace macro costs at a level that is off: one
// CheckLevel through the hook, no head built, no trace call.
void BM_TraceMacroLevelOff(benchmark::State& state)
{
    int i = 0;
    for (auto _ : state) {
        TRACE_TRACE("Client %d sent %s", ++i, "request");
    }
}
BENCHMARK(BM_TraceMacroLevelOff);

// A whole line at an enabled level into the null output.
void BM_TraceLineNullOutput(benchmark::State& state)
{
    const long before = state.thread_index() == 0 ? g_mode->delivered.load() : 0;
    int i = 0;
    for (auto _ : state) {
        SorTraceln(kOnLevel, "<COLOR 4>[INFO ] %s 0x%X %s %s(%d): Client %d sent %s</COLOR>", "341 14:03:59", 0x1A4u,
                   "0    ", "versclient.cpp", 120, ++i, "request");
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        // Delivered lines of all threads, as a rate over the run.
        state.counters["delivered"] =
            benchmark::Counter(static_cast<double>(g_mode->delivered.load() - before), benchmark::Counter::kIsRate);
    }
}
BENCHMARK(BM_TraceLineNullOutput)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    NullOutputMode mode;
    g_mode = &mode;
    mode.EnableTrace(kOnLevel);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
