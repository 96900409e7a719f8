#include "libkestrel/logfile/TraceWindow.h"

#include <atomic>

namespace kestrel {

namespace {
std::atomic<TraceWindowFactory> g_factory{nullptr};
std::atomic<TraceWindowPumpFunction> g_pump{nullptr};
}  // namespace

void TraceWindowState::Dismiss()
{
    {
        const std::lock_guard guard(lock);
        visible = false;
        ended = true;
    }
    changed.notify_all();
}

void SetTraceWindowFactory(TraceWindowFactory factory)
{
    g_factory.store(factory);
}

TraceWindowFactory GetTraceWindowFactory()
{
    return g_factory.load();
}

void SetTraceWindowPumpFunction(TraceWindowPumpFunction pump)
{
    g_pump.store(pump);
}

bool PumpTraceWindows()
{
    const TraceWindowPumpFunction pump = g_pump.load();
    return pump != nullptr && pump();
}

WindowTextPlan PlanWindowText(std::size_t boxLength, std::size_t pendingLength)
{
    if (boxLength + pendingLength < kWindowTextLimit + 1) {
        return {true, 0, 0};
    }
    if (pendingLength >= kWindowTextLimit) {
        return {false, boxLength, pendingLength - kWindowTextKept};
    }
    return {false, boxLength > kWindowTextKept ? boxLength - kWindowTextKept : 0, 0};
}

std::string MergeWindowText(const std::string& box, const std::string& pending)
{
    const WindowTextPlan plan = PlanWindowText(box.size(), pending.size());
    if (plan.append) {
        return box + pending;
    }
    return box.substr(plan.boxFrom) + pending.substr(plan.pendingFrom);
}

}  // namespace kestrel
