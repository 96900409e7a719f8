#include "libwicket/ProtoRecord.h"

#include "libwicket/CNetException.h"

namespace wicket {

void AppendRecord(std::string& out, std::string_view payload)
{
    const auto length = static_cast<std::uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((length >> (8 * i)) & 0xFFu);
    }
    out.append(payload);
}

bool RecordReader::Length(std::uint32_t& length) const
{
    if (Buffered() < kRecordHeaderSize) {
        return false;
    }
    length = 0;
    for (std::size_t i = 0; i < kRecordHeaderSize; ++i) {
        length |= static_cast<std::uint32_t>(static_cast<unsigned char>(buffer_[start_ + i])) << (8 * i);
    }
    if (length > limit_) {
        WICKET_THROW_NET(CNetException::kRecordRefused,
                         "record of " + std::to_string(length) + " bytes (at most " + std::to_string(limit_) + ")");
    }
    return true;
}

void RecordReader::Feed(std::string_view bytes)
{
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(bytes);
    std::uint32_t length = 0;
    static_cast<void>(Length(length));  // refuses an oversized header at once
}

bool RecordReader::HasRecord() const
{
    std::uint32_t length = 0;
    return Length(length) && Buffered() >= kRecordHeaderSize + length;
}

bool RecordReader::Next(std::string& payload)
{
    std::uint32_t length = 0;
    if (!Length(length) || Buffered() < kRecordHeaderSize + length) {
        return false;
    }
    payload.assign(buffer_, start_ + kRecordHeaderSize, length);
    start_ += kRecordHeaderSize + length;
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return true;
}

std::size_t RecordReader::Needed() const
{
    std::uint32_t length = 0;
    if (!Length(length)) {
        return kRecordHeaderSize - Buffered();
    }
    const std::size_t whole = kRecordHeaderSize + length;
    return Buffered() >= whole ? 0 : whole - Buffered();
}

void RecordReader::Clear()
{
    buffer_.clear();
    start_ = 0;
}

}  // namespace wicket
