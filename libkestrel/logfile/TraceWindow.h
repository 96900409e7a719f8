// The seam between a window file (CWndFile) and the window library that
// shows it. The tools library has no window system of its own: a program
// that wants trace windows installs a factory (the Qt one is
// kestrel::qtwindow::Install, library kestrel_qtwindow); without one a window
// file cannot be made and its users fall back to the standard error stream.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

namespace kestrel {

// What a window file and its window share. Written by any thread under its
// lock; the window takes the pending text every 500 ms on its own thread.
struct TraceWindowState {
    std::mutex lock;
    std::condition_variable changed;
    std::string pending;   // written, not yet in the text box
    bool visible = false;  // the file's visible flag
    bool ended = false;    // "Dismiss" was pressed since the window was last shown

    // "Dismiss": the file is no longer visible and a WaitForEnd returns.
    void Dismiss();
};

// A window as the window library gives it. Every operation may be called
// from any thread; none waits for the window's thread.
class ITraceWindow {
public:
    virtual ~ITraceWindow() = default;
    ITraceWindow() = default;
    ITraceWindow(const ITraceWindow&) = delete;
    ITraceWindow& operator=(const ITraceWindow&) = delete;

    virtual void SetTitle(const std::string& title) = 0;
    // Shows the window; with `toFront` raises it and restores it when minimised.
    virtual void Show(bool toFront) = 0;
    virtual void Hide() = 0;
    // The native window, when it exists yet.
    [[nodiscard]] virtual void* Handle() const = 0;
    // Serves the window's events when the caller runs the window's thread
    // (a program waiting on its own GUI thread); false otherwise.
    virtual bool PumpIfOwnThread() = 0;
};

// Builds a window (hidden, titled "Info") over the shared state; null when
// no window can be shown (no display).
using TraceWindowFactory = std::unique_ptr<ITraceWindow> (*)(std::shared_ptr<TraceWindowState> state);
void SetTraceWindowFactory(TraceWindowFactory factory);
[[nodiscard]] TraceWindowFactory GetTraceWindowFactory();

// Serves the events of the trace windows when the caller runs their thread.
using TraceWindowPumpFunction = bool (*)();
void SetTraceWindowPumpFunction(TraceWindowPumpFunction pump);
// False when nothing was served.
bool PumpTraceWindows();

// How the text box takes the pending text: appended while the whole stays
// below 32001 characters; otherwise the box keeps only its last 16000
// characters before the pending text, or, when the pending text alone has
// 32000 or more, the box becomes its last 16000 characters.
inline constexpr std::size_t kWindowTextLimit = 32000;
inline constexpr std::size_t kWindowTextKept = 16000;
struct WindowTextPlan {
    bool append;              // true: append the pending text to the box as it is
    std::size_t boxFrom;      // otherwise: keep the box from this position ...
    std::size_t pendingFrom;  // ... followed by the pending text from this position
};
WindowTextPlan PlanWindowText(std::size_t boxLength, std::size_t pendingLength);
// The plan applied to plain strings.
std::string MergeWindowText(const std::string& box, const std::string& pending);

}  // namespace kestrel
