#include "libkestrel/logfile/CWndFile.h"

#include <cerrno>
#include <chrono>

namespace kestrel {

namespace {
constexpr unsigned long kForever = 0xFFFFFFFFul;
// A pending text of 32000 or more shows only its own last 16000 characters,
// whatever the box held: keeping its last 32001 shows exactly the same.
constexpr std::size_t kPendingLimit = kWindowTextLimit + 1;
}  // namespace

CWndFile::CWndFile(const char* title, bool toFront)
    : title_(title != nullptr ? title : ""), toFront_(toFront), state_(std::make_shared<TraceWindowState>())
{
    const std::lock_guard guard(windowLock_);
    const TraceWindowFactory factory = GetTraceWindowFactory();
    if (factory != nullptr) {
        window_ = factory(state_);
    }
    if (!window_) {
        throw CFileException(ENODEV, "trace window: no window can be shown here", __FILE__, __LINE__);
    }
    window_->SetTitle(title_);
}

CWndFile::~CWndFile()
{
    CWndFile::Close();
}

void CWndFile::Write(std::span<const std::byte> bytes)
{
    {
        const std::lock_guard guard(state_->lock);
        if (!state_->visible) {
            state_->ended = false;
        }
        state_->visible = true;
        state_->pending.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (state_->pending.size() > kPendingLimit) {
            state_->pending.erase(0, state_->pending.size() - kPendingLimit);
        }
    }
    const std::lock_guard guard(windowLock_);
    if (window_) {
        window_->Show(toFront_);
    }
}

void CWndFile::Close()
{
    std::unique_ptr<ITraceWindow> window;
    {
        const std::lock_guard guard(windowLock_);
        window = std::move(window_);
    }
    window.reset();
    Visible(false);
}

std::int64_t CWndFile::GetLength() const
{
    throw CFileException(ENOTSUP, "trace window: length not supported", __FILE__, __LINE__);
}

void CWndFile::WaitForEnd(unsigned long milliseconds)
{
    using Clock = std::chrono::steady_clock;
    const bool forever = milliseconds == kForever;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    std::unique_lock lock(state_->lock);
    if (!state_->visible) {
        return;
    }
    // Ends on "Dismiss", and when the window goes away (Close).
    const auto done = [this] { return state_->ended || !state_->visible; };
    while (!done() && (forever || Clock::now() < deadline)) {
        bool pumped = false;
        lock.unlock();
        {
            const std::lock_guard guard(windowLock_);
            pumped = window_ && window_->PumpIfOwnThread();
        }
        lock.lock();
        // On the window's own thread the events are served between waits.
        Clock::time_point until = pumped ? Clock::now() + std::chrono::milliseconds(100) : deadline;
        if (!forever && until > deadline) {
            until = deadline;
        }
        if (forever && !pumped) {
            state_->changed.wait(lock, done);
        } else {
            state_->changed.wait_until(lock, until, done);
        }
    }
}

bool CWndFile::Visible() const
{
    const std::lock_guard guard(state_->lock);
    return state_->visible;
}

void CWndFile::Visible(bool visible)
{
    {
        const std::lock_guard guard(state_->lock);
        state_->visible = visible;
    }
    state_->changed.notify_all();
}

void* CWndFile::WindowHandle() const
{
    const std::lock_guard guard(windowLock_);
    return window_ ? window_->Handle() : nullptr;
}

}  // namespace kestrel
