// Whole-file reading and writing on descriptors, and the atomic file writer
// used for settings files and pictures alike: the new contents go to a
// temporary file beside the target, which is then renamed over it, so a reader
// sees the old file or the new one, never a part.
//
// Failures return false (or nullopt) with errno set; nothing here traces.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "libkestrel/framework/UniqueFd.h"

namespace kestrel {

// Writes every byte, going on after EINTR and short writes.
bool WriteAll(int fd, const void* data, std::size_t size);
inline bool WriteAll(int fd, std::string_view data)
{
    return WriteAll(fd, data.data(), data.size());
}

// The whole file, or nullopt (errno set; ENOENT when it does not exist).
// Files longer than `limit` bytes are refused with EFBIG.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t limit = std::size_t{1} << 30);

enum class Durability {
    kSynced,   // data and directory entry reach the disk before Commit returns
    kRenamed,  // atomic for readers, left to the kernel's write-back (pictures)
};

class AtomicFile {
public:
    // Opens the temporary file ".<name>.<pid>-<tid>.tmp" beside `path` (one name
    // per writing thread, so the leftover of a crash is reused, not piled up).
    // The file gets the target's mode when it exists, else `mode`.
    static std::optional<AtomicFile> Open(const std::string& path, Durability durability, mode_t mode = 0644);

    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&& other) noexcept;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Without a successful Commit the temporary file is removed; the target is untouched.
    ~AtomicFile();

    [[nodiscard]] int Fd() const { return fd_.Get(); }
    [[nodiscard]] const std::string& TemporaryPath() const { return temporary_; }
    bool Write(const void* data, std::size_t size) { return WriteAll(fd_.Get(), data, size); }
    bool Write(std::string_view data) { return WriteAll(fd_.Get(), data); }

    // Syncs (kSynced), closes and renames over the target. On failure the
    // temporary file is removed and errno tells why.
    bool Commit();

private:
    AtomicFile(std::string target, std::string temporary, UniqueFd fd, Durability durability);
    void Discard() noexcept;

    std::string target_;
    std::string temporary_;
    UniqueFd fd_;
    Durability durability_ = Durability::kSynced;
};

// Replaces `path` by `data` in one step (see AtomicFile).
bool AtomicWriteFile(const std::string& path, std::string_view data, Durability durability = Durability::kSynced);

}  // namespace kestrel
