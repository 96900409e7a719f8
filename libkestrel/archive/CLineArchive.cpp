#include "libkestrel/archive/CLineArchive.h"

#include "libkestrel/archive/COutTextArchive.h"
#include "libkestrel/framework/QXString.h"
#include "libkestrel/trace/TraceLevels.h"

namespace kestrel {

namespace {
constexpr std::uint32_t kOwnQueueSize = 8192;
constexpr std::uint32_t kReadSize = 4096;
constexpr const char* kDefaultTerminator = "\r\n";

std::string TerminatorOrDefault(const char* terminator)
{
    return terminator != nullptr && *terminator != '\0' ? terminator : kDefaultTerminator;
}
}  // namespace

CLineArchive::CLineArchive(CArchive* archive, CQueue* queue, const char* terminator)
    : CQXArchive(archive), terminator_(TerminatorOrDefault(terminator))
{
    if (queue != nullptr) {
        UseBuffer(queue);
    } else {
        AllocBuffer(kOwnQueueSize);
    }
}

CLineArchive::CLineArchive(CFile* file, unsigned mode, CQueue* queue, const char* terminator, std::size_t bufferSize,
                           std::span<std::byte> buffer)
    : CQXArchive(file, mode, bufferSize, buffer), terminator_(TerminatorOrDefault(terminator))
{
    if (queue != nullptr) {
        UseBuffer(queue);
    } else {
        AllocBuffer(kOwnQueueSize);
    }
}

// -- writing ----------------------------------------------------------------

CQXArchive& CLineArchive::operator<<(const std::string& text)
{
    scratch_.clear();
    scratch_.reserve(text.size() + terminator_.size() + 8);
    for (const char c : text) {
        if (c == '&' || terminator_.find(c) != std::string::npos) {
            scratch_ += '&';
        }
        scratch_ += c;
    }
    scratch_ += terminator_;
    WriteRaw(scratch_.data(), scratch_.size());
    Flush();
    TRACE_LEVEL(kLevelPacket, "PACK << Sent (not coded): %s\n", text.c_str());
    return *this;
}

CQXArchive& CLineArchive::operator<<(unsigned int value)
{
    return *this << ArchiveNumberText(static_cast<unsigned long>(value));
}
CQXArchive& CLineArchive::operator<<(char value)
{
    return *this << ArchiveNumberText(value);
}
CQXArchive& CLineArchive::operator<<(short value)
{
    return *this << ArchiveNumberText(static_cast<int>(value));
}
CQXArchive& CLineArchive::operator<<(int value)
{
    return *this << ArchiveNumberText(value);
}
CQXArchive& CLineArchive::operator<<(double value)
{
    return *this << ArchiveNumberText(value);
}
CQXArchive& CLineArchive::operator<<(float value)
{
    return *this << ArchiveNumberText(static_cast<double>(value));
}
CQXArchive& CLineArchive::operator<<(unsigned long value)
{
    return *this << ArchiveNumberText(value);
}
CQXArchive& CLineArchive::operator<<(long value)
{
    return *this << ArchiveNumberText(value);
}
CQXArchive& CLineArchive::operator<<(unsigned short value)
{
    return *this << ArchiveNumberText(static_cast<int>(value));
}
CQXArchive& CLineArchive::operator<<(unsigned char value)
{
    return *this << ArchiveNumberText(static_cast<int>(value));
}

// -- reading ----------------------------------------------------------------

bool CLineArchive::Scan(std::string& line, std::uint32_t& taken)
{
    CQueue& queue = *ReadQueue();
    while (!queue.isEmpty()) {
        char c = 0;
        queue.read(&c, 1);
        ++taken;
        switch (scanner_.state) {
            case ScanState::escaped:
                line += c;
                scanner_.state = ScanState::normal;
                break;
            case ScanState::matching:
                if (c == terminator_[scanner_.matched]) {
                    if (++scanner_.matched == terminator_.size()) {
                        Complete(line);
                        return true;
                    }
                } else {
                    // The partly matched terminator is not kept.
                    line += c;
                    scanner_.state = ScanState::normal;
                }
                break;
            case ScanState::normal:
                if (c == terminator_[0]) {
                    if (terminator_.size() == 1) {
                        Complete(line);
                        return true;
                    }
                    scanner_.state = ScanState::matching;
                    scanner_.matched = 1;
                } else if (c == '&') {
                    scanner_.state = ScanState::escaped;
                } else {
                    line += c;
                }
                break;
        }
    }
    return false;
}

void CLineArchive::Complete(std::string& line)
{
    scanner_ = Scanner{};
    if (!removeBackspace_) {
        return;
    }
    std::string kept;
    kept.reserve(line.size());
    for (const char c : line) {
        if (c == '\b') {
            if (!kept.empty()) {
                kept.pop_back();
            }
        } else {
            kept += c;
        }
    }
    line = std::move(kept);
}

CQXArchive& CLineArchive::operator>>(std::string& text)
{
    CArchive& archive = Archive();
    if (archive.IsStoring()) {
        throw CArchiveException(CArchiveException::writeOnly, __FILE__, __LINE__);
    }
    CQueue& queue = *ReadQueue();
    text.clear();
    const Scanner saved = scanner_;
    std::uint32_t taken = 0;
    auto complete = [&]() -> CQXArchive& {
        SetFullPacket(true);
        TRACE_LEVEL(kLevelPacket, "PACK (%d)>> %s\n", static_cast<int>(text.size()), text.c_str());
        return *this;
    };
    if (Scan(text, taken)) {
        return complete();
    }
    queue.unRead(taken);

    std::size_t got = 0;
    const std::span<char> room = queue.GetBuffer(kReadSize);
    if (!room.empty() && archive.GetFile() != nullptr) {
        try {
            got = archive.GetFile()->Read(room.data(), room.size());
        } catch (...) {
            queue.ReleaseBuffer(0);
            scanner_ = saved;
            throw;
        }
        queue.ReleaseBuffer(static_cast<std::uint32_t>(got));
        TRACE_LEVEL(kLevelPacket, "PACK >> %d bytes red\n", static_cast<int>(got));
        if (got == 0) {
            scanner_ = saved;
            text.clear();
            SetFullPacket(false);
            throw CFileException(0, "end of file", __FILE__, __LINE__);
        }
    }
    if (got != 0) {
        queue.read(nullptr, taken);
        if (Scan(text, taken)) {
            return complete();
        }
    }
    scanner_ = saved;
    queue.unRead(taken);
    text.clear();
    SetFullPacket(false);
    TRACE_LEVEL(kLevelPacket, "PACK >> Packet not complete\n");
    return *this;
}

bool CLineArchive::ReadNumberLine()
{
    *this >> scratch_;
    return FullPacket();
}

CQXArchive& CLineArchive::operator>>(unsigned int& value)
{
    if (ReadNumberLine()) {
        value = QXString(scratch_).toUInt();
    }
    return *this;
}
CQXArchive& CLineArchive::operator>>(char& value)
{
    if (ReadNumberLine()) {
        if (scratch_.size() != 1) {
            KESTREL_THROW_GENERAL(5, "String too long to be casted into char");
        }
        value = scratch_[0];
    }
    return *this;
}
CQXArchive& CLineArchive::operator>>(short& value)
{
    if (ReadNumberLine()) {
        value = QXString(scratch_).toShort();
    }
    return *this;
}
CQXArchive& CLineArchive::operator>>(int& value)
{
    if (ReadNumberLine()) {
        value = QXString(scratch_).toInt();
    }
    return *this;
}
CQXArchive& CLineArchive::operator>>(double& value)
{
    if (ReadNumberLine()) {
        value = QXString(scratch_).toDouble();
    }
    return *this;
}
CQXArchive& CLineArchive::operator>>(float& value)
{
    if (ReadNumberLine()) {
        value = QXString(scratch_).toFloat();
    }
    return *this;
}
CQXArchive& CLineArchive::operator>>(long& value)
{
    if (ReadNumberLine()) {
        value = QXString(scratch_).toLong();
    }
    return *this;
}
CQXArchive& CLineArchive::operator>>(unsigned long& value)
{
    if (ReadNumberLine()) {
        value = QXString(scratch_).toULong();
    }
    return *this;
}
CQXArchive& CLineArchive::operator>>(unsigned short& value)
{
    if (ReadNumberLine()) {
        value = QXString(scratch_).toUShort();
    }
    return *this;
}
CQXArchive& CLineArchive::operator>>(unsigned char& value)
{
    if (ReadNumberLine()) {
        value = QXString(scratch_).toUChar();
    }
    return *this;
}

std::uint32_t CLineArchive::Backlog()
{
    return ReadQueue()->count();
}

// -- duplex -----------------------------------------------------------------

CDuplexLineArchive::CDuplexLineArchive() : CDuplexArchive(static_cast<CFile*>(nullptr), nullptr) {}

CDuplexLineArchive::CDuplexLineArchive(CFile* out, CFile* in, CQueue* queue) : CDuplexArchive(out, in)
{
    AllocArchives(out, in, queue);
}

void CDuplexLineArchive::AllocArchives(CFile* out, CFile* in, CQueue* queue)
{
    const unsigned noFlush = CArchive::bNoFlushOnDelete;
    auto store = std::make_unique<CLineArchive>(out, CArchive::store | noFlush, queue, kDefaultTerminator, kReadSize);
    auto load = std::make_unique<CLineArchive>(in != nullptr ? in : out, CArchive::load | noFlush, queue,
                                               kDefaultTerminator, kReadSize);
    SetHalves(std::move(store), std::move(load));
}

}  // namespace kestrel
