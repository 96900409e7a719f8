// A log file cut into numbered slices "<name>.<n>" of bounded size, of which
// only the newest few remain. Numbers go on without end; after a restart the
// writing continues in the highest slice found. No lock of its own: its user
// (a trace mode, the trace server) serialises the calls.
#pragma once

#include <cstdint>
#include <string>

#include "libkestrel/framework/CFile.h"

namespace kestrel {

class CLogFile : public CFile {
public:
    static constexpr std::uint32_t kDefaultSliceSize = 524288;
    static constexpr std::uint32_t kDefaultSliceCount = 2;
    static constexpr std::uint32_t kUnknownSlice = 0xFFFFFFFFu;

    CLogFile() = default;
    // Records the settings and checks that the directory takes files: a
    // probe file "<name>-<pid>-<tid>" is created and removed. Throws
    // CFileException (with the errno of the failure) when it cannot be made.
    CLogFile(const char* name, unsigned long sliceSize, unsigned long sliceCount);
    ~CLogFile() override = default;

    void Size(unsigned long bytes) { sliceSize_ = static_cast<std::uint32_t>(bytes); }
    // At least one slice is kept.
    void Number(unsigned long slices) { sliceCount_ = slices > 0 ? static_cast<std::uint32_t>(slices) : 1; }
    void Logname(const char* name) { name_ = name != nullptr ? name : ""; }
    [[nodiscard]] const std::string& Logname() const { return name_; }

    // Opens the current slice for appending (finding the last one first when
    // its number is not known yet); throws CFileException on failure.
    void Open();
    void Open(const char* name);
    void Close() override;
    // Opens the next slice first when the open one has reached the slice
    // size, and removes the slice that leaves the window.
    void Write(std::span<const std::byte> bytes) override;
    using CFile::Write;
    void WriteString(const char* text);
    void WriteString(const std::string& text);
    // The position in the open slice.
    [[nodiscard]] std::int64_t GetPosition() const { return static_cast<std::int64_t>(length_); }
    // Closes without reporting a failure.
    void Abort() noexcept;

    [[nodiscard]] bool IsSliceOpen() const { return open_; }
    [[nodiscard]] std::uint32_t SliceNumber() const { return slice_; }
    [[nodiscard]] std::uint32_t SliceSize() const { return sliceSize_; }
    [[nodiscard]] std::uint32_t SliceCount() const { return sliceCount_; }
    [[nodiscard]] std::string SliceName(std::uint32_t number) const;

    // Shared ownership by count: the object deletes itself when the count
    // falls to 0, so it must come from new.
    void AddRef() { ++refs_; }
    void DelRef();
    [[nodiscard]] std::uint32_t NbRef() const { return refs_; }

    // The highest n of the files "<base>.<n>" beside `name` (all digits after
    // the dot), 0 when there is none.
    static std::uint32_t FindLastSlice(const std::string& name);

private:
    void OpenSlice();

    std::uint32_t sliceSize_ = kDefaultSliceSize;
    std::uint32_t sliceCount_ = kDefaultSliceCount;
    std::uint64_t length_ = 0;
    std::uint32_t slice_ = kUnknownSlice;
    std::string name_;
    bool open_ = false;
    std::uint32_t refs_ = 1;
};

}  // namespace kestrel
