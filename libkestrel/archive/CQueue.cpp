#include "libkestrel/archive/CQueue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "libkestrel/error/QXError.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"

namespace kestrel {

namespace {
constexpr std::uint32_t kDefaultSize = 1024;

// Misuse lines go through QXTrace (a stream text), so they carry the head
// themselves and end their line.
void TraceMisuse(const char* what, int line)
{
    if (!TraceWanted(kLevelQueue)) {
        return;
    }
    const TraceHead head;
    QXTrace(kLevelQueue, KESTREL_TRACE_HEAD "%s\n", QXDateAndTime(), QXThreadId(), head.Error(), QXBasename(__FILE__),
            line, what);
}
}  // namespace

CQueue::CQueue() : CQueue(kDefaultSize) {}

CQueue::CQueue(std::uint32_t size)
    : capacity_(size), growth_(size != 0 ? size : kDefaultSize), owned_(size), data_(owned_.data())
{
}

CQueue::CQueue(char* buffer, std::uint32_t size, bool full)
    : count_(full ? size : 0), capacity_(size), growth_(size != 0 ? size : kDefaultSize), data_(buffer), remote_(true)
{
}

std::uint32_t CQueue::contiguousFree() const
{
    if (count_ == capacity_) {
        return 0;
    }
    return write_ >= read_ ? capacity_ - write_ : read_ - write_;
}

std::uint32_t CQueue::write(const char* bytes, std::uint32_t n)
{
    if (count_ == capacity_) {
        TRACE_LEVEL(kLevelUnclassified, "Queue if full !\n");
        return 0;
    }
    const std::uint32_t total = std::min(n, capacity_ - count_);
    std::uint32_t done = 0;
    while (done < total) {
        const std::uint32_t chunk = std::min(total - done, capacity_ - write_);
        std::memcpy(data_ + write_, bytes + done, chunk);
        write_ = (write_ + chunk) % capacity_;
        done += chunk;
    }
    count_ += total;
    return total;
}

std::uint32_t CQueue::writeAndGrow(const char* bytes, std::uint32_t n)
{
    if (availWrite() < n && !remote_) {
        resize(count_ + n);
    }
    return write(bytes, n);
}

std::uint32_t CQueue::read(char* bytes, std::uint32_t n)
{
    if (count_ == 0) {
        if (!emptyWarned_) {
            emptyWarned_ = true;
            TRACE_LEVEL(kLevelToolsDetail, "Queue is empty !\n");
        }
        return 0;
    }
    emptyWarned_ = false;
    const std::uint32_t total = std::min(n, count_);
    std::uint32_t done = 0;
    while (done < total) {
        const std::uint32_t chunk = std::min(total - done, capacity_ - read_);
        if (bytes != nullptr) {
            std::memcpy(bytes + done, data_ + read_, chunk);
        }
        read_ = (read_ + chunk) % capacity_;
        done += chunk;
    }
    count_ -= total;
    return total;
}

bool CQueue::unRead(std::uint32_t n)
{
    if (n > capacity_ - count_) {
        TraceMisuse("Unable to unread", __LINE__);
        return false;
    }
    if (n != 0) {
        read_ = (read_ + capacity_ - n % capacity_) % capacity_;
        count_ += n;
    }
    return true;
}

bool CQueue::unWrite(std::uint32_t n)
{
    if (n > count_) {
        TraceMisuse("Unable to unwrite", __LINE__);
        return false;
    }
    if (n != 0) {
        write_ = (write_ + capacity_ - n % capacity_) % capacity_;
        count_ -= n;
    }
    return true;
}

void CQueue::Empty()
{
    write_ = 0;
    read_ = 0;
    count_ = 0;
    reserved_ = 0;
}

bool CQueue::resize(std::uint32_t n)
{
    if (remote_) {
        return false;
    }
    const std::uint64_t wanted = (static_cast<std::uint64_t>(n) / growth_ + 1) * growth_;
    if (wanted > 0xFFFFFFFFu || wanted < count_) {
        return false;
    }
    const auto capacity = static_cast<std::uint32_t>(wanted);
    if (capacity == capacity_) {
        return true;
    }
    std::vector<char> fresh(capacity);
    const std::uint32_t stored = count_;
    const std::uint32_t first = std::min(stored, capacity_ - read_);
    if (stored != 0) {
        std::memcpy(fresh.data(), data_ + read_, first);
        std::memcpy(fresh.data() + first, data_, stored - first);
    }
    owned_ = std::move(fresh);
    data_ = owned_.data();
    capacity_ = capacity;
    read_ = 0;
    write_ = stored % capacity_;
    reserved_ = 0;
    return true;
}

void CQueue::organize()
{
    if (count_ == 0) {
        read_ = 0;
        write_ = 0;
        return;
    }
    if (read_ == 0) {
        return;
    }
    // A rotation of the whole buffer by read_ brings the stored bytes to 0
    // in order, whether or not they wrap.
    std::rotate(data_, data_ + read_, data_ + capacity_);
    read_ = 0;
    write_ = count_ % capacity_;
}

CQueue::operator const char*()
{
    organize();
    return data_;
}

std::string CQueue::peek() const
{
    std::string bytes;
    bytes.reserve(count_);
    const std::uint32_t first = std::min(count_, capacity_ - read_);
    bytes.append(data_ + read_, first);
    bytes.append(data_, count_ - first);
    return bytes;
}

std::span<char> CQueue::GetBuffer(std::uint32_t n)
{
    if (availWrite() < n && !resize(count_ + n)) {
        return {};
    }
    if (contiguousFree() < n) {
        organize();
    }
    if (contiguousFree() < n) {
        return {};
    }
    reserved_ = n;
    return {data_ + write_, n};
}

void CQueue::ReleaseBuffer(std::uint32_t k)
{
    const std::uint32_t committed = k == 0xFFFFFFFFu ? reserved_ : std::min(k, reserved_);
    if (committed != 0) {
        write_ = (write_ + committed) % capacity_;
        count_ += committed;
    }
    reserved_ = 0;
}

void CQueue::concat(const CQueue& other)
{
    const std::string bytes = other.peek();
    writeAndGrow(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

std::string CQueue::print() const
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "Queue %s: capacity %u, growth step %u, used %u, free %u, reserved %u"
                  "\nPut=%d, Get=%d, Restant pour ecrire : %d  Restant a lire : %d\n",
                  remote_ ? "(remote)" : "(owned)", capacity_, growth_, count_, availWrite(), reserved_,
                  static_cast<int>(write_), static_cast<int>(read_), static_cast<int>(availWrite()),
                  static_cast<int>(count_));
    return text;
}

void CQueue::Trace(int level) const
{
    if (CheckLevel(level) == 0) {
        return;
    }
    const std::string text = peek();
    QXTrace(level, "%s\n", text.c_str());
    if (text.find('\0') != std::string::npos) {
        QXTrace(level, "Warning: Truncated trace because of a '\\0' in the middle !\n");
    }
}

void CQueue::TraceBytes(int level) const
{
    const std::string bytes = peek();
    QXTraceBytesFormatted(level, bytes.data(), static_cast<int>(bytes.size()));
}

}  // namespace kestrel
