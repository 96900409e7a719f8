// The framework's serialisation archive: a buffered byte stream over a
// CFile, either storing (writing) or loading (reading). The archives of
// CQXArchive.h encode their values on top of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "libkestrel/framework/CFile.h"
#include "libkestrel/framework/QXException.h"

namespace kestrel {

class CArchiveException : public CQXException {
public:
    enum Cause {
        none = 0,
        genericException = 1,
        readOnly = 2,  // written into a loading archive
        endOfFile = 3,
        writeOnly = 4,  // read from a storing archive
        badIndex = 5,
        badClass = 6,
        badSchema = 7,
    };
    CArchiveException(Cause cause, const char* file, int line);

    [[nodiscard]] Cause GetCause() const { return static_cast<Cause>(Code()); }
};

class CArchive {
public:
    enum Mode : unsigned {
        store = 0,
        load = 1,
        bNoFlushOnDelete = 2,
    };

    // `file` must outlive the archive. Without a caller buffer the archive
    // allocates `bufferSize` bytes (at least one).
    CArchive(CFile* file, unsigned mode, std::size_t bufferSize = 4096, std::span<std::byte> buffer = {});
    // A storing archive flushes, unless built with bNoFlushOnDelete; a
    // failure then is discarded.
    virtual ~CArchive();

    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    [[nodiscard]] bool IsLoading() const { return (mode_ & load) != 0; }
    [[nodiscard]] bool IsStoring() const { return !IsLoading(); }
    [[nodiscard]] CFile* GetFile() const { return file_; }

    // Throws readOnly on a loading archive.
    void Write(std::span<const std::byte> bytes);
    void Write(const void* bytes, std::size_t count)
    {
        Write(std::span<const std::byte>(static_cast<const std::byte*>(bytes), count));
    }
    // Up to bytes.size() bytes, fewer only at the end of the file; throws
    // writeOnly on a storing archive.
    std::size_t Read(std::span<std::byte> bytes);
    // Exactly bytes.size() bytes or endOfFile.
    void ReadExact(std::span<std::byte> bytes);
    void ReadExact(void* bytes, std::size_t count)
    {
        ReadExact(std::span<std::byte>(static_cast<std::byte*>(bytes), count));
    }

    // Storing: hands the buffered bytes to the file. Loading: nothing.
    void Flush();
    // Flushes and detaches from the file.
    void Close();

private:
    CFile* file_;
    unsigned mode_;
    std::vector<std::byte> owned_;
    std::span<std::byte> buffer_;
    std::size_t used_ = 0;   // storing: bytes waiting; loading: bytes held
    std::size_t taken_ = 0;  // loading: bytes of the buffer already read
};

}  // namespace kestrel
