// A picture as sent to viewers: read once and shared by every client that has
// it in flight (the shared pointer's count is the number of clients still
// sending it; the last one frees it).
#pragma once

#include <ctime>
#include <memory>
#include <string>

namespace kestrel {
class SpareFd;
}

namespace vorlix {

class SharedImage {
public:
    // The file's bytes and modification time, or null with errno set when it
    // cannot be opened or read. An empty file gives an image of size 0. With
    // `spare`, an open that fails for want of descriptors is tried once more
    // with the spare's slot (taken back before returning).
    static std::shared_ptr<const SharedImage> Load(const std::string& path, kestrel::SpareFd* spare = nullptr);

    [[nodiscard]] long Size() const { return static_cast<long>(size_); }
    [[nodiscard]] const char* Data() const { return bytes_.get(); }
    [[nodiscard]] std::time_t ModificationTime() const { return modified_; }

private:
    std::unique_ptr<char[]> bytes_;  // not zero-filled: every byte is read from the file
    std::size_t size_ = 0;
    std::time_t modified_ = 0;
};

}  // namespace vorlix
