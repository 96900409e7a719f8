// A write-only text archive: strings go out as their characters, numbers as
// their decimal text. Reading does nothing.
#pragma once

#include <string>

#include "libkestrel/archive/CQXArchive.h"

namespace kestrel {

class COutTextArchive : public CQXArchive {
public:
    explicit COutTextArchive(CArchive* archive) : CQXArchive(archive) {}
    COutTextArchive(CFile* file, unsigned mode, std::size_t bufferSize = 4096, std::span<std::byte> buffer = {})
        : CQXArchive(file, mode, bufferSize, buffer)
    {
    }

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
    CQXArchive& operator>>(CQueue& queue) override;
    CQXArchive& operator>>(std::string& text) override;
    CQXArchive& operator>>(unsigned int& value) override;
    CQXArchive& operator>>(char& value) override;
    CQXArchive& operator>>(short& value) override;
    CQXArchive& operator>>(int& value) override;
    CQXArchive& operator>>(double& value) override;
    CQXArchive& operator>>(float& value) override;
    CQXArchive& operator>>(long& value) override;
    CQXArchive& operator>>(unsigned long& value) override;
    CQXArchive& operator>>(unsigned short& value) override;
    CQXArchive& operator>>(unsigned char& value) override;

private:
    std::string scratch_;
};

// The text of each number as the text archives write it.
std::string ArchiveNumberText(char value);
std::string ArchiveNumberText(int value);
std::string ArchiveNumberText(long value);
std::string ArchiveNumberText(unsigned long value);
std::string ArchiveNumberText(double value);

}  // namespace kestrel
