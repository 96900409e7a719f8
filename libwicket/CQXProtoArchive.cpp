#include "libwicket/CQXProtoArchive.h"

#include <algorithm>
#include <vector>

#include "libwicket/CNetException.h"

namespace wicket {

using kestrel::CArchive;
using kestrel::CArchiveException;

CQXProtoArchive::CQXProtoArchive(kestrel::CFile* file, int load, kestrel::CQueue* /*queue*/, std::size_t bufferSize,
                                 std::span<std::byte> buffer)
    : file_(file), load_(load != 0), chunk_(buffer.empty() ? std::max<std::size_t>(bufferSize, 1) : buffer.size())
{
    if (!load_) {
        bodyWriter_ = std::make_unique<kestrel::CQXArchive>(&body_, CArchive::store, 4096);
    }
}

CQXProtoArchive::~CQXProtoArchive() = default;

template <typename T>
kestrel::CQXArchive& CQXProtoArchive::Put(const T& value)
{
    if (load_) {
        throw CArchiveException(CArchiveException::readOnly, __FILE__, __LINE__);
    }
    if (!inRecord_) {
        Startp();
        *bodyWriter_ << value;
        Endp();
        return *this;
    }
    *bodyWriter_ << value;
    return *this;
}

template <typename T>
kestrel::CQXArchive& CQXProtoArchive::Take(T& value)
{
    if (!load_) {
        throw CArchiveException(CArchiveException::writeOnly, __FILE__, __LINE__);
    }
    if (!current_) {
        Startp();
    }
    *current_ >> value;  // an item past the record's end: endOfFile
    return *this;
}

// Every operator adds one item to the open record or takes one from it.
#define WICKET_PROTO_OPERATORS(T)                              \
    kestrel::CQXArchive& CQXProtoArchive::operator<<(T value)  \
    {                                                          \
        return Put(value);                                     \
    }                                                          \
    kestrel::CQXArchive& CQXProtoArchive::operator>>(T& value) \
    {                                                          \
        return Take(value);                                    \
    }
WICKET_PROTO_OPERATORS(unsigned int)
WICKET_PROTO_OPERATORS(char)
WICKET_PROTO_OPERATORS(short)
WICKET_PROTO_OPERATORS(int)
WICKET_PROTO_OPERATORS(double)
WICKET_PROTO_OPERATORS(float)
WICKET_PROTO_OPERATORS(long)
WICKET_PROTO_OPERATORS(unsigned long)
WICKET_PROTO_OPERATORS(unsigned short)
WICKET_PROTO_OPERATORS(unsigned char)
#undef WICKET_PROTO_OPERATORS

kestrel::CQXArchive& CQXProtoArchive::operator<<(const std::string& text)
{
    return Put(text);
}

kestrel::CQXArchive& CQXProtoArchive::operator>>(std::string& text)
{
    return Take(text);
}

void CQXProtoArchive::Startp()
{
    if (!load_) {
        if (inRecord_) {
            Endp();
        }
        body_.Reset();
        inRecord_ = true;
        return;
    }
    current_.reset();
    std::string payload;
    if (!reader_.Next(payload)) {
        if (!IsBlocking()) {
            throw CArchiveException(CArchiveException::endOfFile, __FILE__, __LINE__);
        }
        ReadWholeRecord();
        reader_.Next(payload);
    }
    record_.Reset(std::move(payload));
    const std::size_t size = std::clamp<std::size_t>(record_.Bytes().size(), 1, 4096);
    current_ = std::make_unique<kestrel::CQXArchive>(&record_, CArchive::load, size);
}

void CQXProtoArchive::ReadWholeRecord()
{
    std::vector<std::byte> bytes;
    while (!reader_.HasRecord()) {
        // Never beyond this record: the bytes after it belong to whoever
        // reads the stream next.
        bytes.resize(reader_.Needed());
        const std::size_t got = file_->Read(bytes);
        if (got == 0) {
            throw CArchiveException(CArchiveException::endOfFile, __FILE__, __LINE__);
        }
        reader_.Feed(std::string_view(reinterpret_cast<const char*>(bytes.data()), got));
    }
}

void CQXProtoArchive::Endp()
{
    if (load_) {
        current_.reset();
        return;
    }
    if (!inRecord_) {
        return;
    }
    inRecord_ = false;
    bodyWriter_->Flush();
    if (body_.Bytes().size() > kMaxRecordSize) {
        body_.Reset();
        WICKET_THROW_NET(CNetException::kRecordRefused, "record over the limit not sent");
    }
    AppendRecord(outgoing_, body_.Bytes());
    body_.Reset();
}

void CQXProtoArchive::Flush()
{
    if (load_ || outgoing_.empty()) {
        return;
    }
    // Handed over whatever the file does with them: a failed connection
    // does not keep piling them up.
    const std::string bytes = std::move(outgoing_);
    outgoing_.clear();
    file_->Write(bytes.data(), bytes.size());
}

std::uint32_t CQXProtoArchive::Backlog()
{
    return load_ ? static_cast<std::uint32_t>(reader_.Buffered()) : 0;
}

bool CQXProtoArchive::HasMoreData()
{
    return FullPacket() && Backlog() != 0;
}

bool CQXProtoArchive::FullPacket()
{
    return load_ && reader_.HasRecord();
}

bool CQXProtoArchive::ReceiveSome()
{
    if (!load_) {
        throw CArchiveException(CArchiveException::writeOnly, __FILE__, __LINE__);
    }
    std::vector<std::byte> bytes(chunk_);
    const std::size_t got = file_->Read(bytes);
    if (got == 0) {
        return false;
    }
    reader_.Feed(std::string_view(reinterpret_cast<const char*>(bytes.data()), got));
    return true;
}

void CQXProtoArchive::SetCoded(bool coded)
{
    if (coded) {
        WICKET_THROW_NET(CNetException::kRecordRefused, "coded protocol archives do not exist here");
    }
}

}  // namespace wicket
