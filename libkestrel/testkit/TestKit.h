// What the tests of every room share: a scratch directory, waits with a
// deadline instead of sleeps, a recorder of trace lines, whole-file helpers.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::test {

using namespace std::chrono_literals;

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "vorlix_test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::string& Path() const { return path_; }
    [[nodiscard]] std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
    // The file's bytes; empty when it cannot be read.
    [[nodiscard]] std::string Read(std::string_view name) const;
    void Write(std::string_view name, std::string_view bytes) const;

private:
    std::string path_;
};

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Writes `bytes` to `path` through a temporary file and a rename.
void WriteFile(const std::string& path, std::string_view bytes);

// Polls `done` until it is true or `limit` has passed; tells which. Every
// wait of a test has a deadline: a fault shows as a failed check, never as a
// hung suite.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s,
               std::chrono::milliseconds poll = 2ms);

// Records every trace line (level and formatted text) while alive; every
// level is on meanwhile. One capture at a time per process. Lines from any
// thread are recorded whole.
class TraceCapture {
public:
    struct Line {
        int level;
        std::string text;
    };

    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // The lines recorded so far (kept).
    [[nodiscard]] std::vector<Line> Lines() const;
    // The lines recorded so far, forgotten afterwards.
    std::vector<Line> Take();
    void Clear();
    // Texts of the lines at `level` (kept).
    [[nodiscard]] std::vector<std::string> AtLevel(int level) const;
    // The same without the head "<date> 0x<tid> <error> <file>(<line>): ".
    [[nodiscard]] std::vector<std::string> MessagesAt(int level) const;
    // Whether a line containing `part` was recorded (at `level`, or any level when < 0).
    [[nodiscard]] bool Contains(std::string_view part, int level = -1) const;
    [[nodiscard]] int Count(std::string_view part, int level = -1) const;
    // Waits until a line containing `part` is recorded.
    bool WaitFor(std::string_view part, std::chrono::milliseconds limit = 5s, int level = -1) const;
};

// The message part of a formatted trace line (after the head's "): ").
std::string MessageOf(const std::string& line);

}  // namespace kestrel::test
