// The framing of the protocol archives' records on the wire:
//
//   length  4 bytes, little-endian: the number of payload bytes that follow
//   payload the record's items in the archives' encoding (a text is its
//           length prefix and its bytes, an integer 4 bytes little-endian,
//           a char one byte)
//
// Shared by the trace library's remote modes and the trace server. Nothing
// here touches a socket: bytes go in, whole records come out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace wicket {

inline constexpr std::size_t kRecordHeaderSize = 4;
// The longest payload accepted: a trace line is at most 32767 bytes, a level
// list of 256 described levels stays far below.
inline constexpr std::uint32_t kMaxRecordSize = 1u << 20;

// Appends the length header and the payload to `out`.
void AppendRecord(std::string& out, std::string_view payload);

// Cuts a byte stream into record payloads, whatever pieces the bytes come
// in. A length above the limit is refused as soon as its header is there,
// before any of its payload is kept: the buffer never holds more than one
// record and what was fed after it.
class RecordReader {
public:
    explicit RecordReader(std::uint32_t limit = kMaxRecordSize) : limit_(limit) {}

    // Throws CNetException (kRecordRefused) for a length above the limit.
    void Feed(std::string_view bytes);
    // Takes the next whole record: true with `payload` set, false when more
    // bytes are needed. Throws like Feed.
    bool Next(std::string& payload);
    [[nodiscard]] bool HasRecord() const;
    // Bytes still missing to finish the header or the record it begins: a
    // reader that must not read beyond one record asks for exactly these.
    [[nodiscard]] std::size_t Needed() const;
    [[nodiscard]] std::size_t Buffered() const { return buffer_.size() - start_; }
    [[nodiscard]] std::uint32_t Limit() const { return limit_; }
    void Clear();

private:
    // The announced payload length, when the header is there; checks the limit.
    [[nodiscard]] bool Length(std::uint32_t& length) const;

    std::uint32_t limit_;
    std::string buffer_;
    std::size_t start_ = 0;
};

}  // namespace wicket
