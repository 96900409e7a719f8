// A line protocol: each string is one line ended by a terminator (default
// "\r\n"); "&" escapes itself and every terminator character inside a line.
// Numbers travel as text lines. Reading scans a read-ahead queue and makes
// at most one file read per call; an incomplete line leaves FullPacket()
// false and everything in the queue for the next call.
#pragma once

#include <string>

#include "libkestrel/archive/CDuplexArchive.h"
#include "libkestrel/archive/CQXArchive.h"

namespace kestrel {

class CLineArchive : public CQXArchive {
public:
    // Without a queue the archive reads ahead into its own 8192-byte one; a
    // null or empty terminator means "\r\n".
    explicit CLineArchive(CArchive* archive, CQueue* queue = nullptr, const char* terminator = nullptr);
    CLineArchive(CFile* file, unsigned mode, CQueue* queue = nullptr, const char* terminator = nullptr,
                 std::size_t bufferSize = 4096, std::span<std::byte> buffer = {});

    using CQXArchive::operator<<;
    using CQXArchive::operator>>;

    CQXArchive& operator<<(const std::string& text) override;
    CQXArchive& operator<<(unsigned int value) override;
    CQXArchive& operator<<(char value) override;
    CQXArchive& operator<<(short value) override;
    CQXArchive& operator<<(int value) override;
    CQXArchive& operator<<(double value) override;
    CQXArchive& operator<<(float value) override;
    CQXArchive& operator<<(unsigned long value) override;
    CQXArchive& operator<<(long value) override;
    CQXArchive& operator<<(unsigned short value) override;
    CQXArchive& operator<<(unsigned char value) override;
    // One line, or an empty text with FullPacket() false when the line is
    // not complete yet. The end of the file throws CFileException.
    CQXArchive& operator>>(std::string& text) override;
    // Numbers are converted from a complete line only; otherwise unchanged.
    CQXArchive& operator>>(unsigned int& value) override;
    // A line of exactly one character, else CGeneralException (code 5).
    CQXArchive& operator>>(char& value) override;
    CQXArchive& operator>>(short& value) override;
    CQXArchive& operator>>(int& value) override;
    CQXArchive& operator>>(double& value) override;
    CQXArchive& operator>>(float& value) override;
    CQXArchive& operator>>(long& value) override;
    CQXArchive& operator>>(unsigned long& value) override;
    CQXArchive& operator>>(unsigned short& value) override;
    CQXArchive& operator>>(unsigned char& value) override;

    std::uint32_t Backlog() override;
    // On a complete line each 0x08 removes the nearest kept byte before it.
    void RemoveBackspace(bool remove) { removeBackspace_ = remove; }
    [[nodiscard]] const std::string& Terminator() const { return terminator_; }

private:
    enum class ScanState { normal, escaped, matching };
    struct Scanner {
        ScanState state = ScanState::normal;
        std::size_t matched = 0;  // terminator characters matched so far
    };

    // Takes bytes from the queue into `line`, counting them in `taken`,
    // until a line is complete (true) or the queue is empty (false).
    bool Scan(std::string& line, std::uint32_t& taken);
    void Complete(std::string& line);
    // Reads a complete line for a number; false when none arrived.
    bool ReadNumberLine();

    std::string scratch_;
    std::string terminator_;
    bool removeBackspace_ = false;
    Scanner scanner_;
};

// A duplex archive whose halves are line archives.
class CDuplexLineArchive : public CDuplexArchive {
public:
    // Halves to be made by AllocArchives.
    CDuplexLineArchive();
    // Borrows two protocol archives.
    CDuplexLineArchive(CQXArchive* store, CQXArchive* load) : CDuplexArchive(store, load) {}
    CDuplexLineArchive(CFile* out, CFile* in, CQueue* queue);

    // The store half on `out`, the load half on `in` (or on `out` when `in`
    // is null), 4096-byte buffers, the given queue, no flush on deletion.
    void AllocArchives(CFile* out, CFile* in, CQueue* queue);
};

}  // namespace kestrel
