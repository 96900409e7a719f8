// A framework file over a POSIX descriptor. Failures throw CFileException.
// Subclasses (socket files, window files, log files) override the virtual
// operations so archives can write to any of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "libkestrel/framework/QXException.h"

namespace kestrel {

class CFileException : public CQXException {
public:
    CFileException(int error, std::string text, const char* file, int line)
        : CQXException(error, std::move(text), file, line)
    {
    }
    // errno of the failed call.
    [[nodiscard]] int Error() const { return Code(); }
};

class CFile {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x0,
        modeWrite = 0x1,
        modeReadWrite = 0x2,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        modeAppend = 0x4000,
    };
    enum SeekPosition { begin = SEEK_SET, current = SEEK_CUR, end = SEEK_END };

    CFile() = default;
    // Opens or throws.
    CFile(const std::string& path, unsigned flags);
    // Adopts a descriptor; `owned` says whether Close/destruction closes it.
    CFile(int fd, bool owned) : fd_(fd), owned_(owned) {}
    virtual ~CFile();

    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    CFile(CFile&& other) noexcept;
    CFile& operator=(CFile&& other) noexcept;

    // Returns false (errno set) instead of throwing.
    bool Open(const std::string& path, unsigned flags);
    // Reads up to buffer.size() bytes; returns the count, 0 at end of file.
    virtual std::size_t Read(std::span<std::byte> buffer);
    std::size_t Read(void* buffer, std::size_t count)
    {
        return Read(std::span<std::byte>(static_cast<std::byte*>(buffer), count));
    }
    // Writes every byte or throws.
    virtual void Write(std::span<const std::byte> bytes);
    void Write(const void* bytes, std::size_t count)
    {
        Write(std::span<const std::byte>(static_cast<const std::byte*>(bytes), count));
    }
    virtual std::int64_t Seek(std::int64_t offset, SeekPosition from);
    [[nodiscard]] virtual std::int64_t GetLength() const;
    virtual void Flush();
    virtual void Close();

    [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
    [[nodiscard]] int Handle() const { return fd_; }
    [[nodiscard]] const std::string& GetFilePath() const { return path_; }

protected:
    [[noreturn]] void ThrowErrno(const char* what) const;

private:
    int fd_ = -1;
    bool owned_ = false;
    std::string path_;
};

}  // namespace kestrel
