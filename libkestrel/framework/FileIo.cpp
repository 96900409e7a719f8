#include "libkestrel/framework/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kestrel {

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t limit)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return std::nullopt;
    }
    std::string data;
    struct stat st {};
    if (::fstat(fd.Get(), &st) == 0 && st.st_size > 0) {
        if (static_cast<std::size_t>(st.st_size) > limit) {
            errno = EFBIG;
            return std::nullopt;
        }
        data.reserve(static_cast<std::size_t>(st.st_size));
    }
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (n == 0) {
            return data;
        }
        if (data.size() + static_cast<std::size_t>(n) > limit) {
            errno = EFBIG;
            return std::nullopt;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
}

namespace {

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

AtomicFile::AtomicFile(std::string target, std::string temporary, UniqueFd fd, Durability durability)
    : target_(std::move(target)), temporary_(std::move(temporary)), fd_(std::move(fd)), durability_(durability)
{
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::exchange(other.temporary_, std::string())),
      fd_(std::move(other.fd_)),
      durability_(other.durability_)
{
}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept
{
    if (this != &other) {
        Discard();
        target_ = std::move(other.target_);
        temporary_ = std::exchange(other.temporary_, std::string());
        fd_ = std::move(other.fd_);
        durability_ = other.durability_;
    }
    return *this;
}

AtomicFile::~AtomicFile()
{
    Discard();
}

void AtomicFile::Discard() noexcept
{
    if (temporary_.empty()) {
        return;
    }
    const int saved = errno;
    fd_.Reset();
    ::unlink(temporary_.c_str());
    temporary_.clear();
    errno = saved;
}

std::optional<AtomicFile> AtomicFile::Open(const std::string& path, Durability durability, mode_t mode)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
    std::string temporary = path.substr(0, baseStart) + "." + path.substr(baseStart) + "." +
                            std::to_string(static_cast<long>(::getpid())) + "-" +
                            std::to_string(static_cast<long>(::gettid())) + ".tmp";
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    }
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (!fd) {
        return std::nullopt;
    }
    // O_CREAT's mode is cut by the umask and ignored for a leftover file.
    if (::fchmod(fd.Get(), mode) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return std::nullopt;
    }
    return AtomicFile(path, std::move(temporary), std::move(fd), durability);
}

bool AtomicFile::Commit()
{
    if (temporary_.empty()) {
        errno = EBADF;
        return false;
    }
    const bool synced = durability_ != Durability::kSynced || ::fsync(fd_.Get()) == 0;
    if (!synced || !fd_.Close() || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        Discard();
        return false;
    }
    temporary_.clear();
    if (durability_ == Durability::kSynced) {
        const UniqueFd dir(::open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir) {
            ::fsync(dir.Get());
        }
    }
    return true;
}

bool AtomicWriteFile(const std::string& path, std::string_view data, Durability durability)
{
    std::optional<AtomicFile> file = AtomicFile::Open(path, durability);
    return file && file->Write(data) && file->Commit();
}

}  // namespace kestrel
