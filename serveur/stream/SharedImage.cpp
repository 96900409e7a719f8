#include "serveur/stream/SharedImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vorlix {

std::shared_ptr<const SharedImage> SharedImage::Load(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    auto image = std::make_shared<SharedImage>();
    struct stat info {};
    const off_t size = ::fstat(fd, &info) == 0 ? ::lseek(fd, 0, SEEK_END) : -1;
    if (size < 0 || size > 0x7FFFFFFF || ::lseek(fd, 0, SEEK_SET) != 0) {
        const int error = size > 0x7FFFFFFF ? EFBIG : errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    image->modified_ = info.st_mtime;
    const auto wanted = static_cast<std::size_t>(size);
    image->bytes_ = std::make_unique_for_overwrite<char[]>(wanted);
    std::size_t done = 0;
    while (done < wanted) {
        const ssize_t got = ::read(fd, image->bytes_.get() + done, wanted - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;  // the file shrank while read: send what it holds now
        }
        done += static_cast<std::size_t>(got);
    }
    image->size_ = done;
    ::close(fd);
    return image;
}

}  // namespace vorlix
