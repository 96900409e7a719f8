#include "libkestrel/archive/CArchive.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace kestrel {

namespace {
const char* CauseText(CArchiveException::Cause cause)
{
    switch (cause) {
        case CArchiveException::none:
            return "no archive error";
        case CArchiveException::readOnly:
            return "archive is read-only: cannot write into a loading archive";
        case CArchiveException::endOfFile:
            return "archive: unexpected end of file";
        case CArchiveException::writeOnly:
            return "archive is write-only: cannot read from a storing archive";
        case CArchiveException::badIndex:
            return "archive: bad index";
        case CArchiveException::badClass:
            return "archive: bad class";
        case CArchiveException::badSchema:
            return "archive: bad schema";
        case CArchiveException::genericException:
            break;
    }
    return "archive error";
}
}  // namespace

CArchiveException::CArchiveException(Cause cause, const char* file, int line)
    : CQXException(cause, CauseText(cause), file, line)
{
}

CArchive::CArchive(CFile* file, unsigned mode, std::size_t bufferSize, std::span<std::byte> buffer)
    : file_(file), mode_(mode)
{
    if (buffer.empty()) {
        owned_.resize(std::max<std::size_t>(bufferSize, 1));
        buffer_ = owned_;
    } else {
        buffer_ = buffer;
    }
}

CArchive::~CArchive()
{
    if (IsStoring() && (mode_ & bNoFlushOnDelete) == 0) {
        try {
            Flush();
        } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor cannot report
        }
    }
}

void CArchive::Write(std::span<const std::byte> bytes)
{
    if (IsLoading()) {
        throw CArchiveException(CArchiveException::readOnly, __FILE__, __LINE__);
    }
    while (!bytes.empty()) {
        if (used_ == buffer_.size()) {
            Flush();
        }
        const std::size_t chunk = std::min(bytes.size(), buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, bytes.data(), chunk);
        used_ += chunk;
        bytes = bytes.subspan(chunk);
    }
}

std::size_t CArchive::Read(std::span<std::byte> bytes)
{
    if (IsStoring()) {
        throw CArchiveException(CArchiveException::writeOnly, __FILE__, __LINE__);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (taken_ == used_) {
            if (file_ == nullptr) {
                break;
            }
            used_ = file_->Read(buffer_);
            taken_ = 0;
            if (used_ == 0) {
                break;
            }
        }
        const std::size_t chunk = std::min(bytes.size() - done, used_ - taken_);
        std::memcpy(bytes.data() + done, buffer_.data() + taken_, chunk);
        taken_ += chunk;
        done += chunk;
    }
    return done;
}

void CArchive::ReadExact(std::span<std::byte> bytes)
{
    if (Read(bytes) != bytes.size()) {
        throw CArchiveException(CArchiveException::endOfFile, __FILE__, __LINE__);
    }
}

void CArchive::Flush()
{
    if (IsLoading() || used_ == 0) {
        return;
    }
    if (file_ != nullptr) {
        // Kept when the file fails, so nothing buffered is lost.
        file_->Write(std::span<const std::byte>(buffer_.data(), used_));
    }
    used_ = 0;
}

void CArchive::Close()
{
    Flush();
    file_ = nullptr;
}

}  // namespace kestrel
