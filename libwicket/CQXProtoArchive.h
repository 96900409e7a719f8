// The protocol archive: an archive whose items travel in records (framing in
// ProtoRecord.h), on any framework file (a socket file in practice).
//
// Storing: Startp opens a record, the operators add items to it, Endp closes
// it into the outgoing bytes, Flush (or the manipulators arflush, arendl)
// hands them to the file. An item written outside Startp/Endp is a record of
// its own.
//
// Loading: Startp takes the next record, the operators read its items, Endp
// drops what is left of it; an operator outside a record takes the next one
// first. An item that runs past its record's end, and a record longer than
// the limit, are refused with an exception: nothing is read beyond, nothing
// is allocated for a length that is not there. A blocking Startp reads
// exactly the bytes of one record and no further, so another reader of the
// same stream loses nothing; ReceiveSome reads ahead for an owner that
// polls.
//
// Only the uncoded mode exists: the items go as they are.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "libkestrel/archive/CQXArchive.h"
#include "libwicket/MemoryFile.h"
#include "libwicket/ProtoRecord.h"

namespace wicket {

class CQXProtoArchive : public kestrel::CQXArchive {
public:
    // `load`: 1 reads, 0 writes. `queue` is not used (records are kept
    // whole); `bufferSize` is the most ReceiveSome reads at once.
    CQXProtoArchive(kestrel::CFile* file, int load, kestrel::CQueue* queue = nullptr, std::size_t bufferSize = 4096,
                    std::span<std::byte> buffer = {});
    ~CQXProtoArchive() override;

    CQXProtoArchive(const CQXProtoArchive&) = delete;
    CQXProtoArchive& operator=(const CQXProtoArchive&) = delete;

    using CQXArchive::operator<<;
    using CQXArchive::operator>>;
    CQXArchive& operator<<(const std::string& text) override;
    CQXArchive& operator<<(unsigned int value) override;
    CQXArchive& operator<<(char value) override;
    CQXArchive& operator<<(short value) override;
    CQXArchive& operator<<(int value) override;
    CQXArchive& operator<<(double value) override;
    CQXArchive& operator<<(float value) override;
    CQXArchive& operator<<(unsigned long value) override;
    CQXArchive& operator<<(long value) override;
    CQXArchive& operator<<(unsigned short value) override;
    CQXArchive& operator<<(unsigned char value) override;
    CQXArchive& operator>>(std::string& text) override;
    CQXArchive& operator>>(unsigned int& value) override;
    CQXArchive& operator>>(char& value) override;
    CQXArchive& operator>>(short& value) override;
    CQXArchive& operator>>(int& value) override;
    CQXArchive& operator>>(double& value) override;
    CQXArchive& operator>>(float& value) override;
    CQXArchive& operator>>(long& value) override;
    CQXArchive& operator>>(unsigned long& value) override;
    CQXArchive& operator>>(unsigned short& value) override;
    CQXArchive& operator>>(unsigned char& value) override;

    void Startp() override;
    void Endp() override;
    void Flush() override;
    // Loading: bytes received and not yet taken as records.
    std::uint32_t Backlog() override;
    bool HasMoreData() override;
    // Loading: a whole record waits.
    bool FullPacket() override;

    // Loading: one read of what the file has (at most the buffer size);
    // false when the peer has closed. Throws for a record over the limit.
    bool ReceiveSome();

    // Uncoded is the only mode: true is refused with CNetException.
    void SetCoded(bool coded);
    [[nodiscard]] bool IsCoded() const { return false; }
    [[nodiscard]] bool IsLoading() const { return load_; }
    [[nodiscard]] bool InRecord() const { return load_ ? current_ != nullptr : inRecord_; }
    [[nodiscard]] kestrel::CFile* File() const { return file_; }

private:
    template <typename T>
    CQXArchive& Put(const T& value);
    template <typename T>
    CQXArchive& Take(T& value);
    void ReadWholeRecord();

    kestrel::CFile* file_;
    bool load_;
    std::size_t chunk_;
    // Storing: the items of the open record, then the framed records.
    MemoryFile body_;
    std::unique_ptr<kestrel::CQXArchive> bodyWriter_;
    bool inRecord_ = false;
    std::string outgoing_;
    // Loading.
    RecordReader reader_;
    MemoryFile record_;
    std::unique_ptr<kestrel::CQXArchive> current_;
};

}  // namespace wicket
