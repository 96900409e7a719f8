#include "serveur/stream/SharedImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "libkestrel/framework/SpareFd.h"
#include "libkestrel/framework/UniqueFd.h"

namespace vorlix {

std::shared_ptr<const SharedImage> SharedImage::Load(const std::string& path, kestrel::SpareFd* spare)
{
    const auto open = [&] { return kestrel::UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); };
    kestrel::UniqueFd fd = spare != nullptr ? spare->OpenWithSpare(open) : open();
    struct RetakeSpare {
        kestrel::SpareFd* spare;
        kestrel::UniqueFd& fd;
        ~RetakeSpare()
        {
            fd.Reset();  // the picture's descriptor first, so the spare gets a slot
            if (spare != nullptr) {
                spare->Take();
            }
        }
    } retake{spare, fd};
    if (!fd) {
        return nullptr;
    }
    auto image = std::make_shared<SharedImage>();
    struct stat info {};
    const off_t size = ::fstat(fd.Get(), &info) == 0 ? ::lseek(fd.Get(), 0, SEEK_END) : -1;
    if (size < 0 || size > 0x7FFFFFFF || ::lseek(fd.Get(), 0, SEEK_SET) != 0) {
        errno = size > 0x7FFFFFFF ? EFBIG : errno;
        return nullptr;
    }
    image->modified_ = info.st_mtime;
    const auto wanted = static_cast<std::size_t>(size);
    image->bytes_ = std::make_unique_for_overwrite<char[]>(wanted);
    std::size_t done = 0;
    while (done < wanted) {
        const ssize_t got = ::read(fd.Get(), image->bytes_.get() + done, wanted - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;  // the file shrank while read: send what it holds now
        }
        done += static_cast<std::size_t>(got);
    }
    image->size_ = done;
    return image;
}

}  // namespace vorlix
