// A byte ring buffer: the read-ahead store of the archives. It never throws:
// a full or empty queue and an impossible unread/unwrite are traced and
// reported through the result.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrel {

class CQueue {
public:
    // Capacity and growth step 1024.
    CQueue();
    // Capacity and growth step `size` (a growth step of 0 grows by 1024).
    explicit CQueue(std::uint32_t size);
    // Remote queue over the caller's buffer, which must outlive it; holds
    // `size` bytes when `full`, else none. A remote queue never resizes.
    CQueue(char* buffer, std::uint32_t size, bool full);
    virtual ~CQueue() = default;

    CQueue(const CQueue&) = delete;
    CQueue& operator=(const CQueue&) = delete;

    // Copies min(n, free) bytes; returns the count written.
    std::uint32_t write(const char* bytes, std::uint32_t n);
    std::uint32_t write(std::span<const char> bytes) { return write(bytes.data(), Size(bytes)); }
    std::uint32_t write(char c) { return write(&c, 1); }
    // Grows first when the bytes do not fit (a remote queue cannot).
    std::uint32_t writeAndGrow(const char* bytes, std::uint32_t n);
    std::uint32_t writeAndGrow(std::span<const char> bytes) { return writeAndGrow(bytes.data(), Size(bytes)); }
    std::uint32_t writeAndGrow(char c) { return writeAndGrow(&c, 1); }
    // Takes min(n, count) bytes into `bytes`, or skips them when it is null.
    std::uint32_t read(char* bytes, std::uint32_t n);
    std::uint32_t read(std::span<char> bytes) { return read(bytes.data(), Size(bytes)); }

    // Gives back the last n bytes read; fails when they no longer fit.
    bool unRead(std::uint32_t n);
    // Takes back the last n bytes written; fails when fewer are stored.
    bool unWrite(std::uint32_t n);

    [[nodiscard]] std::uint32_t availWrite() const { return capacity_ - count_; }
    [[nodiscard]] std::uint32_t count() const { return count_; }
    [[nodiscard]] std::uint32_t capacity() const { return capacity_; }
    [[nodiscard]] std::uint32_t growthStep() const { return growth_; }
    [[nodiscard]] bool isFull() const { return count_ == capacity_; }
    [[nodiscard]] bool isEmpty() const { return count_ == 0; }
    [[nodiscard]] bool remote() const { return remote_; }
    void Empty();

    // New capacity (n / step + 1) * step with the stored bytes moved to its
    // start. Refused (false) for a remote queue and when the stored bytes
    // would not fit.
    bool resize(std::uint32_t n);
    bool FreeExtra() { return resize(count_); }
    // Rotates the stored bytes to offset 0, contiguous.
    void organize();
    // Contiguous view of the stored bytes (organizes first); not terminated.
    operator const char*();  // NOLINT(google-explicit-constructor): the queue reads as its bytes
    // The stored bytes in order, without consuming them.
    [[nodiscard]] std::string peek() const;

    // `n` contiguous writable bytes at the write position (growing or
    // organizing as needed), to be committed by ReleaseBuffer; empty when a
    // remote queue has no room for them.
    std::span<char> GetBuffer(std::uint32_t n);
    // Commits k of the reserved bytes (at most the reserved size), or all of
    // them when k is 0xFFFFFFFF.
    void ReleaseBuffer(std::uint32_t k = 0xFFFFFFFFu);

    // Appends the other queue's stored bytes in order, growing as needed.
    void concat(const CQueue& other);

    // Indexes, free and used space.
    [[nodiscard]] std::string print() const;
    // The stored bytes as one QXTrace text / as a formatted hex dump, when
    // the level is on.
    void Trace(int level) const;
    void TraceBytes(int level) const;

private:
    static std::uint32_t Size(std::span<const char> bytes) { return static_cast<std::uint32_t>(bytes.size()); }
    // Free bytes from the write index before the buffer end or the read index.
    [[nodiscard]] std::uint32_t contiguousFree() const;

    std::uint32_t write_ = 0;
    std::uint32_t read_ = 0;
    std::uint32_t count_ = 0;
    std::uint32_t capacity_ = 0;
    std::uint32_t growth_ = 0;
    std::vector<char> owned_;
    char* data_ = nullptr;
    bool remote_ = false;
    std::uint32_t reserved_ = 0;
    bool emptyWarned_ = false;
};

}  // namespace kestrel
