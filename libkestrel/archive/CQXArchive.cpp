#include "libkestrel/archive/CQXArchive.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace kestrel {

namespace {
template <typename T>
std::array<unsigned char, sizeof(T)> LittleEndian(T value)
{
    std::array<unsigned char, sizeof(T)> bytes{};
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
    return bytes;
}

template <typename T>
T FromLittleEndian(const std::array<unsigned char, sizeof(T)>& bytes)
{
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        value = static_cast<T>(value | static_cast<T>(static_cast<T>(bytes[i]) << (8 * i)));
    }
    return value;
}

// Strings are read in slices so a corrupt length cannot make one huge
// allocation before the stream runs out.
constexpr std::size_t kStringSlice = 65536;
}  // namespace

CQXArchive::CQXArchive(CArchive* archive) : archive_(archive) {}

CQXArchive::CQXArchive(CFile* file, unsigned mode, std::size_t bufferSize, std::span<std::byte> buffer)
    : ownedArchive_(std::make_unique<CArchive>(file, mode, bufferSize, buffer))
{
    archive_ = ownedArchive_.get();
}

CQXArchive::~CQXArchive() = default;

CArchive& CQXArchive::Archive() const
{
    if (archive_ == nullptr) {
        throw CArchiveException(CArchiveException::genericException, __FILE__, __LINE__);
    }
    return *archive_;
}

// -- writing ----------------------------------------------------------------

template <typename T>
static void Put(CArchive& archive, T value)
{
    const auto bytes = LittleEndian(value);
    archive.Write(bytes.data(), bytes.size());
}

CQXArchive& CQXArchive::operator<<(ArchiveManipulator manipulator)
{
    return manipulator(*this);
}

CQXArchive& CQXArchive::operator<<(CQueue& /*queue*/)
{
    return *this;
}

void CQXArchive::WriteStringLength(std::uint64_t length)
{
    CArchive& archive = Archive();
    if (length < 0xFF) {
        Put(archive, static_cast<std::uint8_t>(length));
        return;
    }
    Put(archive, static_cast<std::uint8_t>(0xFF));
    if (length < 0xFFFE) {
        Put(archive, static_cast<std::uint16_t>(length));
        return;
    }
    Put(archive, static_cast<std::uint16_t>(0xFFFF));
    if (length < 0xFFFFFFFFu) {
        Put(archive, static_cast<std::uint32_t>(length));
        return;
    }
    Put(archive, static_cast<std::uint32_t>(0xFFFFFFFFu));
    Put(archive, length);
}

CQXArchive& CQXArchive::operator<<(const std::string& text)
{
    WriteStringLength(text.size());
    WriteRaw(text.data(), text.size());
    return *this;
}

CQXArchive& CQXArchive::operator<<(unsigned int value)
{
    Put(Archive(), static_cast<std::uint32_t>(value));
    return *this;
}
CQXArchive& CQXArchive::operator<<(char value)
{
    Put(Archive(), static_cast<std::uint8_t>(value));
    return *this;
}
CQXArchive& CQXArchive::operator<<(short value)
{
    Put(Archive(), static_cast<std::uint16_t>(value));
    return *this;
}
CQXArchive& CQXArchive::operator<<(int value)
{
    Put(Archive(), static_cast<std::uint32_t>(value));
    return *this;
}
CQXArchive& CQXArchive::operator<<(double value)
{
    Put(Archive(), std::bit_cast<std::uint64_t>(value));
    return *this;
}
CQXArchive& CQXArchive::operator<<(float value)
{
    Put(Archive(), std::bit_cast<std::uint32_t>(value));
    return *this;
}
// Longs travel as four bytes, as they do between the programs' peers.
CQXArchive& CQXArchive::operator<<(unsigned long value)
{
    Put(Archive(), static_cast<std::uint32_t>(value));
    return *this;
}
CQXArchive& CQXArchive::operator<<(long value)
{
    Put(Archive(), static_cast<std::uint32_t>(value));
    return *this;
}
CQXArchive& CQXArchive::operator<<(unsigned short value)
{
    Put(Archive(), static_cast<std::uint16_t>(value));
    return *this;
}
CQXArchive& CQXArchive::operator<<(unsigned char value)
{
    Put(Archive(), static_cast<std::uint8_t>(value));
    return *this;
}

// -- reading ----------------------------------------------------------------

template <typename T>
static T Get(CArchive& archive)
{
    std::array<unsigned char, sizeof(T)> bytes{};
    archive.ReadExact(bytes.data(), bytes.size());
    return FromLittleEndian<T>(bytes);
}

CQXArchive& CQXArchive::operator>>(CQueue& /*queue*/)
{
    return *this;
}

std::uint64_t CQXArchive::ReadStringLength()
{
    CArchive& archive = Archive();
    const auto byte = Get<std::uint8_t>(archive);
    if (byte < 0xFF) {
        return byte;
    }
    const auto word = Get<std::uint16_t>(archive);
    if (word < 0xFFFE) {
        return word;
    }
    if (word == 0xFFFE) {
        // The wide-character string marker: no such strings are written here.
        throw CArchiveException(CArchiveException::badSchema, __FILE__, __LINE__);
    }
    const auto dword = Get<std::uint32_t>(archive);
    if (dword < 0xFFFFFFFFu) {
        return dword;
    }
    return Get<std::uint64_t>(archive);
}

CQXArchive& CQXArchive::operator>>(std::string& text)
{
    std::uint64_t remaining = ReadStringLength();
    std::string result;
    while (remaining != 0) {
        const std::size_t slice = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kStringSlice));
        const std::size_t old = result.size();
        result.resize(old + slice);
        ReadRaw(result.data() + old, slice);
        remaining -= slice;
    }
    text = std::move(result);
    return *this;
}

CQXArchive& CQXArchive::operator>>(unsigned int& value)
{
    value = Get<std::uint32_t>(Archive());
    return *this;
}
CQXArchive& CQXArchive::operator>>(char& value)
{
    value = static_cast<char>(Get<std::uint8_t>(Archive()));
    return *this;
}
CQXArchive& CQXArchive::operator>>(short& value)
{
    value = static_cast<short>(Get<std::uint16_t>(Archive()));
    return *this;
}
CQXArchive& CQXArchive::operator>>(int& value)
{
    value = static_cast<int>(Get<std::uint32_t>(Archive()));
    return *this;
}
CQXArchive& CQXArchive::operator>>(double& value)
{
    value = std::bit_cast<double>(Get<std::uint64_t>(Archive()));
    return *this;
}
CQXArchive& CQXArchive::operator>>(float& value)
{
    value = std::bit_cast<float>(Get<std::uint32_t>(Archive()));
    return *this;
}
CQXArchive& CQXArchive::operator>>(long& value)
{
    value = static_cast<std::int32_t>(Get<std::uint32_t>(Archive()));
    return *this;
}
CQXArchive& CQXArchive::operator>>(unsigned long& value)
{
    value = Get<std::uint32_t>(Archive());
    return *this;
}
CQXArchive& CQXArchive::operator>>(unsigned short& value)
{
    value = Get<std::uint16_t>(Archive());
    return *this;
}
CQXArchive& CQXArchive::operator>>(unsigned char& value)
{
    value = Get<std::uint8_t>(Archive());
    return *this;
}

// -- the rest ---------------------------------------------------------------

void CQXArchive::Flush()
{
    Archive().Flush();
}

void CQXArchive::Close()
{
    Archive().Close();
}

std::uint32_t CQXArchive::Backlog()
{
    return 0;
}

bool CQXArchive::HasMoreData()
{
    return fullPacket_ && Backlog() != 0;
}

void CQXArchive::ReadAllowed(std::uint32_t n)
{
    readAllowance_ = n;
}

void CQXArchive::Endp() {}
void CQXArchive::Startp() {}

void CQXArchive::Blocking(bool blocking)
{
    blocking_ = blocking;
}

bool CQXArchive::IsBlocking()
{
    return blocking_;
}

bool CQXArchive::FullPacket()
{
    return fullPacket_;
}

void CQXArchive::AllocBuffer(std::uint32_t size)
{
    ownedQueue_ = std::make_unique<CQueue>(size);
    queue_ = ownedQueue_.get();
}

void CQXArchive::UseBuffer(CQueue* queue)
{
    ownedQueue_.reset();
    queue_ = queue;
}

CQXArchive& arendl(CQXArchive& archive)
{
    archive << std::string("\r\n");
    archive.Flush();
    return archive;
}

CQXArchive& arflush(CQXArchive& archive)
{
    archive.Flush();
    return archive;
}

}  // namespace kestrel
