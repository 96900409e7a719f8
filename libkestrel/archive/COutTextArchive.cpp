#include "libkestrel/archive/COutTextArchive.h"

#include <cstdio>

namespace kestrel {

std::string ArchiveNumberText(char value)
{
    return std::string(1, value);
}

std::string ArchiveNumberText(int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}

std::string ArchiveNumberText(long value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%ld", value);
    return text;
}

// Unsigned values above the signed range print as themselves, not negative.
std::string ArchiveNumberText(unsigned long value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lu", value);
    return text;
}

std::string ArchiveNumberText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

CQXArchive& COutTextArchive::operator<<(const std::string& text)
{
    WriteRaw(text.data(), text.size());
    return *this;
}

CQXArchive& COutTextArchive::operator<<(unsigned int value)
{
    scratch_ = ArchiveNumberText(static_cast<unsigned long>(value));
    return *this << scratch_;
}
CQXArchive& COutTextArchive::operator<<(char value)
{
    scratch_ = ArchiveNumberText(value);
    return *this << scratch_;
}
CQXArchive& COutTextArchive::operator<<(short value)
{
    scratch_ = ArchiveNumberText(static_cast<int>(value));
    return *this << scratch_;
}
CQXArchive& COutTextArchive::operator<<(int value)
{
    scratch_ = ArchiveNumberText(value);
    return *this << scratch_;
}
CQXArchive& COutTextArchive::operator<<(double value)
{
    scratch_ = ArchiveNumberText(value);
    return *this << scratch_;
}
CQXArchive& COutTextArchive::operator<<(float value)
{
    scratch_ = ArchiveNumberText(static_cast<double>(value));
    return *this << scratch_;
}
CQXArchive& COutTextArchive::operator<<(unsigned long value)
{
    scratch_ = ArchiveNumberText(value);
    return *this << scratch_;
}
CQXArchive& COutTextArchive::operator<<(long value)
{
    scratch_ = ArchiveNumberText(value);
    return *this << scratch_;
}
CQXArchive& COutTextArchive::operator<<(unsigned short value)
{
    scratch_ = ArchiveNumberText(static_cast<int>(value));
    return *this << scratch_;
}
CQXArchive& COutTextArchive::operator<<(unsigned char value)
{
    scratch_ = ArchiveNumberText(static_cast<int>(value));
    return *this << scratch_;
}

CQXArchive& COutTextArchive::operator>>(CQueue& /*queue*/)
{
    return *this;
}
CQXArchive& COutTextArchive::operator>>(std::string& /*text*/)
{
    return *this;
}
CQXArchive& COutTextArchive::operator>>(unsigned int& /*value*/)
{
    return *this;
}
CQXArchive& COutTextArchive::operator>>(char& /*value*/)
{
    return *this;
}
CQXArchive& COutTextArchive::operator>>(short& /*value*/)
{
    return *this;
}
CQXArchive& COutTextArchive::operator>>(int& /*value*/)
{
    return *this;
}
CQXArchive& COutTextArchive::operator>>(double& /*value*/)
{
    return *this;
}
CQXArchive& COutTextArchive::operator>>(float& /*value*/)
{
    return *this;
}
CQXArchive& COutTextArchive::operator>>(long& /*value*/)
{
    return *this;
}
CQXArchive& COutTextArchive::operator>>(unsigned long& /*value*/)
{
    return *this;
}
CQXArchive& COutTextArchive::operator>>(unsigned short& /*value*/)
{
    return *this;
}
CQXArchive& COutTextArchive::operator>>(unsigned char& /*value*/)
{
    return *this;
}

}  // namespace kestrel
