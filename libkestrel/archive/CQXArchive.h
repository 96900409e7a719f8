// The archive: one polymorphic interface for every byte and text stream.
// The base encodes values as the framework archive does (little-endian
// binary, strings with a length prefix); subclasses write text lines or
// protocol records with the same operators.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "libkestrel/archive/CArchive.h"
#include "libkestrel/archive/CQueue.h"

namespace kestrel {

class CQXArchive;
// Applied by operator<<: `ar << "x" << arendl`.
using ArchiveManipulator = CQXArchive& (*)(CQXArchive&);

class CQXArchive {
public:
    // Attaches to a framework archive that the caller keeps.
    explicit CQXArchive(CArchive* archive);
    // Creates and owns a framework archive over `file` (CArchive::store or
    // CArchive::load, possibly with CArchive::bNoFlushOnDelete).
    CQXArchive(CFile* file, unsigned mode, std::size_t bufferSize = 4096, std::span<std::byte> buffer = {});
    virtual ~CQXArchive();

    CQXArchive(const CQXArchive&) = delete;
    CQXArchive& operator=(const CQXArchive&) = delete;

    virtual CQXArchive& operator<<(ArchiveManipulator manipulator);
    virtual CQXArchive& operator<<(CQueue& queue);
    virtual CQXArchive& operator<<(const std::string& text);
    virtual CQXArchive& operator<<(unsigned int value);
    virtual CQXArchive& operator<<(char value);
    virtual CQXArchive& operator<<(short value);
    virtual CQXArchive& operator<<(int value);
    virtual CQXArchive& operator<<(double value);
    virtual CQXArchive& operator<<(float value);
    virtual CQXArchive& operator<<(unsigned long value);
    virtual CQXArchive& operator<<(long value);
    virtual CQXArchive& operator<<(unsigned short value);
    virtual CQXArchive& operator<<(unsigned char value);
    virtual CQXArchive& operator>>(CQueue& queue);
    virtual CQXArchive& operator>>(std::string& text);
    virtual CQXArchive& operator>>(unsigned int& value);
    virtual CQXArchive& operator>>(char& value);
    virtual CQXArchive& operator>>(short& value);
    virtual CQXArchive& operator>>(int& value);
    virtual CQXArchive& operator>>(double& value);
    virtual CQXArchive& operator>>(float& value);
    virtual CQXArchive& operator>>(long& value);
    virtual CQXArchive& operator>>(unsigned long& value);
    virtual CQXArchive& operator>>(unsigned short& value);
    virtual CQXArchive& operator>>(unsigned char& value);
    // A C text goes as a string.
    CQXArchive& operator<<(const char* text) { return *this << std::string(text != nullptr ? text : ""); }

    virtual void Flush();
    // Bytes read ahead and not yet taken.
    virtual std::uint32_t Backlog();
    // A complete record is present and bytes wait.
    virtual bool HasMoreData();
    virtual void ReadAllowed(std::uint32_t n);
    // Record brackets; framing belongs to subclasses.
    virtual void Endp();
    virtual void Startp();

    virtual void Blocking(bool blocking);
    [[nodiscard]] virtual bool IsBlocking();
    [[nodiscard]] virtual bool FullPacket();
    void Close();

    [[nodiscard]] CArchive* GetArchive() const { return archive_; }
    [[nodiscard]] std::uint32_t GetReadAllowance() const { return readAllowance_; }

protected:
    // No framework archive: for archives made of other archives.
    CQXArchive() = default;

    // An owned read queue of `size` bytes.
    void AllocBuffer(std::uint32_t size);
    // A read queue that the caller keeps.
    void UseBuffer(CQueue* queue);
    [[nodiscard]] CQueue* ReadQueue() const { return queue_; }
    void SetFullPacket(bool full) { fullPacket_ = full; }

    // The framework archive, or a generic archive exception when there is none.
    [[nodiscard]] CArchive& Archive() const;
    void WriteRaw(const void* bytes, std::size_t count) { Archive().Write(bytes, count); }
    void ReadRaw(void* bytes, std::size_t count) { Archive().ReadExact(bytes, count); }

private:
    void WriteStringLength(std::uint64_t length);
    std::uint64_t ReadStringLength();

    CArchive* archive_ = nullptr;
    std::unique_ptr<CArchive> ownedArchive_;
    bool blocking_ = true;
    bool fullPacket_ = false;
    std::uint32_t readAllowance_ = 0xFFFFFFFFu;
    CQueue* queue_ = nullptr;
    std::unique_ptr<CQueue> ownedQueue_;
};

// Writes "\r\n" as a string (each archive kind encodes it its own way), then
// flushes.
CQXArchive& arendl(CQXArchive& archive);
// Flushes.
CQXArchive& arflush(CQXArchive& archive);

}  // namespace kestrel
