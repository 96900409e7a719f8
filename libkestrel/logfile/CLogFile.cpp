#include "libkestrel/logfile/CLogFile.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

#include "libkestrel/error/QXError.h"
#include "libkestrel/trace/TraceLevels.h"

namespace kestrel {

namespace {

[[noreturn]] void ThrowFileError(int error, const std::string& what, const std::string& path)
{
    throw CFileException(error, what + " " + path + ": " + std::strerror(error), __FILE__, __LINE__);
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

CLogFile::CLogFile(const char* name, unsigned long sliceSize, unsigned long sliceCount)
{
    Logname(name);
    Size(sliceSize);
    Number(sliceCount);
    char probe[64];
    std::snprintf(probe, sizeof probe, "-%x-%x", static_cast<unsigned>(::getpid()), QXThreadId());
    const std::string path = name_ + probe;
    CFile file;
    if (!file.Open(path, modeWrite | modeCreate)) {
        ThrowFileError(errno, "log directory check: cannot create", path);
    }
    file.Close();
    ::unlink(path.c_str());
}

std::string CLogFile::SliceName(std::uint32_t number) const
{
    return name_ + "." + std::to_string(number);
}

std::uint32_t CLogFile::FindLastSlice(const std::string& name)
{
    const std::size_t cut = name.find_last_of("/\\");
    const std::string directory = cut == std::string::npos ? "." : (cut == 0 ? "/" : name.substr(0, cut));
    const std::string base = cut == std::string::npos ? name : name.substr(cut + 1);
    TRACE_LEVEL(kLevelToolsDetail, "Looking for log %s in directory %s", base.c_str(), directory.c_str());
    std::uint32_t last = 0;
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
    if (dir) {
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::string_view file(entry->d_name);
            // "<base>.<digits>": a base name may hold dots of its own.
            if (file.size() <= base.size() + 1 || !file.starts_with(base) || file[base.size()] != '.') {
                continue;
            }
            const std::string_view digits = file.substr(base.size() + 1);
            std::uint32_t number = 0;
            const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
            if (error == std::errc() && end == digits.data() + digits.size() && number > last) {
                last = number;
            }
        }
    }
    TRACE_LEVEL(kLevelToolsDetail, "Last log slice found=%s.%u", name.c_str(), last);
    return last;
}

void CLogFile::OpenSlice()
{
    if (slice_ == kUnknownSlice) {
        slice_ = FindLastSlice(name_);
    }
    const std::string path = SliceName(slice_);
    if (!CFile::Open(path, modeWrite | modeCreate | modeNoTruncate | modeAppend)) {
        ThrowFileError(errno, "open", path);
    }
    struct stat st {};
    length_ = ::fstat(Handle(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    open_ = true;
}

void CLogFile::Open()
{
    OpenSlice();
}

void CLogFile::Open(const char* name)
{
    if (name != nullptr && name_ != name) {
        name_ = name;
        slice_ = kUnknownSlice;
    }
    OpenSlice();
}

void CLogFile::Close()
{
    open_ = false;
    CFile::Close();
}

void CLogFile::Abort() noexcept
{
    open_ = false;
    try {
        CFile::Close();
    } catch (...) {  // NOLINT(bugprone-empty-catch): Abort reports nothing by design
    }
}

void CLogFile::Write(std::span<const std::byte> bytes)
{
    if (!open_) {
        Open();
    }
    if (length_ >= sliceSize_) {
        length_ = 0;
        Close();
        ++slice_;
        OpenSlice();
        if (slice_ >= sliceCount_) {
            // A slice that someone removed already is no failure of ours.
            const std::string old = SliceName(slice_ - sliceCount_);
            if (::unlink(old.c_str()) != 0 && errno != ENOENT) {
                ThrowFileError(errno, "remove", old);
            }
        }
    }
    length_ += bytes.size();
    CFile::Write(bytes);
}

void CLogFile::WriteString(const char* text)
{
    if (text != nullptr) {
        Write(text, std::strlen(text));
    }
}

void CLogFile::WriteString(const std::string& text)
{
    Write(text.data(), text.size());
}

void CLogFile::DelRef()
{
    if (refs_ > 0 && --refs_ == 0) {
        delete this;  // NOLINT(cppcoreguidelines-owning-memory): the count owns the object
    }
}

}  // namespace kestrel
