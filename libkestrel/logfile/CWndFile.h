// A file whose writes appear in a small trace window with a scrolling text
// box and a "Dismiss" button. The window belongs to the window library
// installed through SetTraceWindowFactory (TraceWindow.h); this class holds
// what the file knows: the title, the visible flag and the wait for the
// user's "Dismiss".
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "libkestrel/framework/CFile.h"
#include "libkestrel/logfile/TraceWindow.h"

namespace kestrel {

class CWndFile : public CFile {
public:
    // Creates the window hidden and titled. Throws CFileException (ENODEV)
    // when no window library is installed or no window can be shown.
    CWndFile(const char* title, bool toFront);
    ~CWndFile() override;

    // Shows the text: the window appears (and comes to the front when asked)
    // and takes the text into its box at its next 500 ms tick.
    void Write(std::span<const std::byte> bytes) override;
    using CFile::Write;
    // Destroys the window; later writes go nowhere.
    void Close() override;
    void Flush() override {}
    // A window has no length: throws the "not supported" file error.
    [[nodiscard]] std::int64_t GetLength() const override;
    std::int64_t Seek(std::int64_t /*offset*/, SeekPosition /*from*/) override { return 0; }
    void LockRange(std::uint64_t /*position*/, std::uint64_t /*count*/) {}
    void UnlockRange(std::uint64_t /*position*/, std::uint64_t /*count*/) {}
    void SetLength(std::uint64_t /*length*/) {}

    // While the window is shown, waits until "Dismiss" is pressed or the time
    // is up (0xFFFFFFFF: no limit).
    void WaitForEnd(unsigned long milliseconds);

    [[nodiscard]] bool Visible() const;
    void Visible(bool visible);
    [[nodiscard]] const std::string& Title() const { return title_; }
    [[nodiscard]] void* WindowHandle() const;
    [[nodiscard]] const std::shared_ptr<TraceWindowState>& State() const { return state_; }

private:
    std::string title_;
    bool toFront_;
    std::shared_ptr<TraceWindowState> state_;
    mutable std::mutex windowLock_;  // serialises Open and Close of the window
    std::unique_ptr<ITraceWindow> window_;
};

}  // namespace kestrel
