// The binary archive encoding (little-endian values, the string length
// prefix with its 0xFF escapes), the text archive and the duplex archive.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cfloat>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "libkestrel/archive/CDuplexArchive.h"
#include "libkestrel/archive/COutTextArchive.h"
#include "libkestrel/archive/CQXArchive.h"
#include "libkestrel/framework/UniqueFd.h"

namespace {

using kestrel::CArchive;
using kestrel::CArchiveException;
using kestrel::CFile;
using kestrel::COutTextArchive;
using kestrel::CQXArchive;

class ArchiveFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/archive_test_XXXXXX";
        const kestrel::UniqueFd fd(::mkstemp(name));
        ASSERT_TRUE(fd);
        path_ = name;
    }
    void TearDown() override { ::unlink(path_.c_str()); }

    [[nodiscard]] std::string Bytes() const
    {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void Store(const std::string& bytes) const
    {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    std::string path_;
};

TEST_F(ArchiveFile, EveryTypeRoundTrips)
{
    {
        CFile file(path_, CFile::modeWrite | CFile::modeCreate);
        CQXArchive ar(&file, CArchive::store);
        ar << static_cast<char>(-7) << static_cast<unsigned char>(250) << static_cast<short>(SHRT_MIN)
           << static_cast<unsigned short>(65535) << INT_MIN << 4000000000u << -123456789L << 4000000001UL << 1.5e300
           << -0.25f << std::string("text") << "c text";
        ar << kestrel::arflush;
    }
    EXPECT_EQ(Bytes().size(), 1u + 1 + 2 + 2 + 4 + 4 + 4 + 4 + 8 + 4 + 5 + 7);

    CFile file(path_, CFile::modeRead);
    CQXArchive ar(&file, CArchive::load);
    char c = 0;
    unsigned char uc = 0;
    short s = 0;
    unsigned short us = 0;
    int i = 0;
    unsigned int ui = 0;
    long l = 0;
    unsigned long ul = 0;
    double d = 0;
    float f = 0;
    std::string text;
    std::string ctext;
    ar >> c >> uc >> s >> us >> i >> ui >> l >> ul >> d >> f >> text >> ctext;
    EXPECT_EQ(c, -7);
    EXPECT_EQ(uc, 250);
    EXPECT_EQ(s, SHRT_MIN);
    EXPECT_EQ(us, 65535);
    EXPECT_EQ(i, INT_MIN);
    EXPECT_EQ(ui, 4000000000u);
    EXPECT_EQ(l, -123456789L);
    EXPECT_EQ(ul, 4000000001UL);
    EXPECT_EQ(d, 1.5e300);
    EXPECT_EQ(f, -0.25f);
    EXPECT_EQ(text, "text");
    EXPECT_EQ(ctext, "c text");
    EXPECT_THROW(ar >> c, CArchiveException);
}

TEST_F(ArchiveFile, ValuesAreLittleEndian)
{
    {
        CFile file(path_, CFile::modeWrite | CFile::modeCreate);
        CQXArchive ar(&file, CArchive::store);
        ar << 0x01020304 << static_cast<short>(0x0506) << 1.0f;
    }
    EXPECT_EQ(Bytes(), std::string("\x04\x03\x02\x01\x06\x05\x00\x00\x80\x3f", 10));
}

struct PrefixCase {
    std::size_t length;
    std::string prefix;
};

class StringPrefix : public ArchiveFile, public ::testing::WithParamInterface<PrefixCase> {};

TEST_P(StringPrefix, EncodesItsLengthAndRoundTrips)
{
    const PrefixCase& param = GetParam();
    std::string text(param.length, 'x');
    for (std::size_t k = 0; k < text.size(); ++k) {
        text[k] = static_cast<char>('a' + k % 26);
    }
    {
        CFile file(path_, CFile::modeWrite | CFile::modeCreate);
        CQXArchive ar(&file, CArchive::store);
        ar << text;
    }
    const std::string bytes = Bytes();
    ASSERT_EQ(bytes.size(), param.prefix.size() + param.length);
    EXPECT_EQ(bytes.substr(0, param.prefix.size()), param.prefix);

    CFile file(path_, CFile::modeRead);
    CQXArchive ar(&file, CArchive::load);
    std::string back = "stale";
    ar >> back;
    EXPECT_EQ(back, text);
}

INSTANTIATE_TEST_SUITE_P(Lengths, StringPrefix,
                         ::testing::Values(PrefixCase{0, std::string("\x00", 1)}, PrefixCase{254, "\xFE"},
                                           PrefixCase{255, std::string("\xFF\xFF\x00", 3)},
                                           PrefixCase{300, std::string("\xFF\x2C\x01", 3)},
                                           PrefixCase{65533, "\xFF\xFD\xFF"},
                                           PrefixCase{65534, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
                                           PrefixCase{65535, std::string("\xFF\xFF\xFF\xFF\xFF\x00\x00", 7)},
                                           PrefixCase{70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)}));

TEST_F(ArchiveFile, TruncatedStringThrowsEndOfFile)
{
    Store(
        std::string("\x05"
                    "abc",
                    4));
    CFile file(path_, CFile::modeRead);
    CQXArchive ar(&file, CArchive::load);
    std::string text;
    try {
        ar >> text;
        FAIL() << "no exception";
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.GetCause(), CArchiveException::endOfFile);
    }
}

TEST_F(ArchiveFile, WideStringMarkerIsRejected)
{
    Store(std::string("\xFF\xFE\xFF\x01", 4));
    CFile file(path_, CFile::modeRead);
    CQXArchive ar(&file, CArchive::load);
    std::string text;
    EXPECT_THROW(ar >> text, CArchiveException);
}

TEST_F(ArchiveFile, WrongDirectionThrowsItsCause)
{
    CFile out(path_, CFile::modeWrite | CFile::modeCreate);
    CQXArchive storing(&out, CArchive::store);
    int value = 0;
    try {
        storing >> value;
        FAIL() << "read from a storing archive";
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.GetCause(), CArchiveException::writeOnly);
        EXPECT_EQ(e.GetCause(), 4);
    }
    CFile in(path_, CFile::modeRead);
    CQXArchive loading(&in, CArchive::load);
    try {
        loading << 5;
        FAIL() << "write into a loading archive";
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.GetCause(), CArchiveException::readOnly);
        EXPECT_EQ(e.GetCause(), 2);
    }
}

TEST_F(ArchiveFile, AttachedArchiveIsNotOwned)
{
    CFile file(path_, CFile::modeWrite | CFile::modeCreate);
    CArchive framework(&file, CArchive::store);
    {
        CQXArchive ar(&framework);
        ar << 7;
    }
    // The framework archive outlives the archive attached to it.
    framework.Write("z", 1);
    framework.Flush();
    EXPECT_EQ(Bytes(), std::string("\x07\x00\x00\x00z", 5));
}

TEST_F(ArchiveFile, EndlineEncodesAsEachArchiveKindDoes)
{
    {
        CFile file(path_, CFile::modeWrite | CFile::modeCreate);
        CQXArchive ar(&file, CArchive::store);
        ar << kestrel::arendl;
        // arendl flushed: the bytes are in the file before the archive ends.
        EXPECT_EQ(Bytes(), std::string("\x02\r\n", 3));
    }
    {
        CFile file(path_, CFile::modeWrite | CFile::modeCreate);
        COutTextArchive ar(&file, CArchive::store);
        ar << "line" << kestrel::arendl;
        EXPECT_EQ(Bytes(), "line\r\n");
    }
}

TEST_F(ArchiveFile, TextArchiveWritesNumbersAsText)
{
    {
        CFile file(path_, CFile::modeWrite | CFile::modeCreate);
        COutTextArchive ar(&file, CArchive::store);
        ar << static_cast<char>(65) << "|" << static_cast<unsigned char>(65) << "|" << 1.5 << "|" << -3 << "|"
           << static_cast<short>(-2) << "|" << 123456789012L << "|" << 2.5f << "|" << 4000000000u;
        int untouched = 42;
        ar >> untouched;  // reading does nothing
        EXPECT_EQ(untouched, 42);
    }
    EXPECT_EQ(Bytes(), "A|65|1.5|-3|-2|123456789012|2.5|4000000000");
}

TEST_F(ArchiveFile, DuplexSendsWritesToStoreAndReadsFromLoad)
{
    Store(std::string("\x2A\x00\x00\x00", 4));
    std::string outPath = path_ + ".out";
    {
        CFile in(path_, CFile::modeRead);
        CFile out(outPath, CFile::modeWrite | CFile::modeCreate);
        CQXArchive load(&in, CArchive::load);
        CQXArchive store(&out, CArchive::store);
        kestrel::CDuplexArchive duplex(&store, &load);
        int value = 0;
        duplex >> value;
        EXPECT_EQ(value, 42);
        duplex << value + 1 << kestrel::arflush;
        EXPECT_EQ(duplex.GetLoad(), &load);
        EXPECT_TRUE(duplex.IsBlocking());
        duplex.Blocking(false);
        EXPECT_FALSE(load.IsBlocking());
        EXPECT_TRUE(store.IsBlocking());
        duplex.ReadAllowed(10);
        EXPECT_EQ(load.GetReadAllowance(), 10u);
        EXPECT_EQ(store.GetReadAllowance(), 0xFFFFFFFFu);
        EXPECT_FALSE(duplex.HasMoreData());
    }
    std::ifstream written(outPath, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(written), std::istreambuf_iterator<char>()};
    EXPECT_EQ(bytes, std::string("\x2B\x00\x00\x00", 4));
    ::unlink(outPath.c_str());
}

TEST(ArchiveWithoutStream, DuplexWithoutHalvesThrowsInsteadOfCrashing)
{
    kestrel::CDuplexArchive duplex(static_cast<CFile*>(nullptr), nullptr);
    EXPECT_THROW(duplex << 1, CArchiveException);
    int value = 0;
    EXPECT_THROW(duplex >> value, CArchiveException);
}

}  // namespace
