#include "libkestrel/framework/CFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <cstring>
#include <utility>

namespace kestrel {

namespace {
int OpenFlagsToPosix(unsigned flags)
{
    int posix = O_CLOEXEC;
    if ((flags & CFile::modeReadWrite) != 0U) {
        posix |= O_RDWR;
    } else if ((flags & CFile::modeWrite) != 0U) {
        posix |= O_WRONLY;
    } else {
        posix |= O_RDONLY;
    }
    if ((flags & CFile::modeCreate) != 0U) {
        posix |= O_CREAT;
        if ((flags & CFile::modeNoTruncate) == 0U) {
            posix |= O_TRUNC;
        }
    }
    if ((flags & CFile::modeAppend) != 0U) {
        posix |= O_APPEND;
    }
    return posix;
}
}  // namespace

CFile::CFile(const std::string& path, unsigned flags)
{
    if (!Open(path, flags)) {
        ThrowErrno("open");
    }
}

CFile::~CFile()
{
    if (owned_ && fd_ >= 0) {
        ::close(fd_);
    }
}

CFile::CFile(CFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), owned_(other.owned_), path_(std::move(other.path_))
{
}

CFile& CFile::operator=(CFile&& other) noexcept
{
    if (this != &other) {
        if (owned_ && fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        owned_ = other.owned_;
        path_ = std::move(other.path_);
    }
    return *this;
}

bool CFile::Open(const std::string& path, unsigned flags)
{
    CFile::Close();  // also called from the constructor, where dispatch would not reach a subclass anyway
    const int fd = ::open(path.c_str(), OpenFlagsToPosix(flags), 0644);
    if (fd < 0) {
        return false;
    }
    fd_ = fd;
    owned_ = true;
    path_ = path;
    return true;
}

std::size_t CFile::Read(std::span<std::byte> buffer)
{
    for (;;) {
        const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            ThrowErrno("read");
        }
    }
}

void CFile::Write(std::span<const std::byte> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowErrno("write");
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
}

std::int64_t CFile::Seek(std::int64_t offset, SeekPosition from)
{
    const off_t pos = ::lseek(fd_, offset, static_cast<int>(from));
    if (pos < 0) {
        ThrowErrno("seek");
    }
    return pos;
}

std::int64_t CFile::GetLength() const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        ThrowErrno("stat");
    }
    return st.st_size;
}

void CFile::Flush()
{
    if (fd_ >= 0 && ::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
        ThrowErrno("flush");
    }
}

void CFile::Close()
{
    if (fd_ >= 0) {
        const int fd = std::exchange(fd_, -1);
        if (owned_ && ::close(fd) != 0 && errno != EINTR) {
            ThrowErrno("close");
        }
    }
}

void CFile::ThrowErrno(const char* what) const
{
    const int error = errno;
    std::string text = what;
    text += " ";
    text += path_.empty() ? std::string("descriptor") : path_;
    text += ": ";
    text += std::strerror(error);
    throw CFileException(error, std::move(text), __FILE__, __LINE__);
}

}  // namespace kestrel
