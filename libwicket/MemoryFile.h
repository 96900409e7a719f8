// A framework file over bytes in memory: what is written is appended, what
// is read comes from a read position. The protocol archives encode and
// decode the items of one record through it, with the archives' own
// encoding.
#pragma once

#include <string>
#include <string_view>

#include "libkestrel/framework/CFile.h"

namespace wicket {

class MemoryFile : public kestrel::CFile {
public:
    MemoryFile() = default;
    explicit MemoryFile(std::string bytes) : bytes_(std::move(bytes)) {}

    std::size_t Read(std::span<std::byte> buffer) override;
    using CFile::Read;
    void Write(std::span<const std::byte> bytes) override;
    using CFile::Write;
    std::int64_t Seek(std::int64_t offset, SeekPosition from) override;
    [[nodiscard]] std::int64_t GetLength() const override { return static_cast<std::int64_t>(bytes_.size()); }
    void Flush() override {}
    void Close() override {}

    [[nodiscard]] const std::string& Bytes() const { return bytes_; }
    [[nodiscard]] std::size_t Remaining() const { return bytes_.size() - position_; }
    // Replaces the contents and rewinds.
    void Reset(std::string bytes = {});

private:
    std::string bytes_;
    std::size_t position_ = 0;
};

}  // namespace wicket
