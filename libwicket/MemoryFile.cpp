#include "libwicket/MemoryFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace wicket {

std::size_t MemoryFile::Read(std::span<std::byte> buffer)
{
    const std::size_t n = std::min(buffer.size(), Remaining());
    std::memcpy(buffer.data(), bytes_.data() + position_, n);
    position_ += n;
    return n;
}

void MemoryFile::Write(std::span<const std::byte> bytes)
{
    bytes_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::int64_t MemoryFile::Seek(std::int64_t offset, SeekPosition from)
{
    const std::int64_t base =
        from == begin ? 0 : (from == current ? static_cast<std::int64_t>(position_) : GetLength());
    const std::int64_t target = base + offset;
    if (target < 0 || target > GetLength()) {
        errno = EINVAL;
        ThrowErrno("seek");
    }
    position_ = static_cast<std::size_t>(target);
    return target;
}

void MemoryFile::Reset(std::string bytes)
{
    bytes_ = std::move(bytes);
    position_ = 0;
}

}  // namespace wicket
