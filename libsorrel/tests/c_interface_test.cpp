// The C interface: registration and hook installation, the functions acting
// on the registered modes, the last-error values kept across a trace call,
// the error report path and its last-resort file.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "libkestrel/error/QXError.h"
#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "libsorrel/CErrorTraceMode.h"
#include "libsorrel/SorrelTrace.h"
#include "libsorrel/tests/RecordingMode.h"

namespace {

using sorrel::CTraceMode;
using sorrel::GetErrorMode;
using sorrel::GetTraceMode;
using sorrel_test::Line;
using sorrel_test::RecordingMode;

class CInterfaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sorrel_test::g_now = 1000;
        ASSERT_EQ(GetTraceMode(), nullptr);
        ASSERT_EQ(GetErrorMode(), nullptr);
    }
    void TearDown() override
    {
        sorrel::SetRemoteTraceFactory(nullptr);
        sorrel::SetTraceWindowPump(nullptr);
        sorrel_test::RestoreDefaultHooks();
    }
};

TEST_F(CInterfaceTest, WithoutAModeEverythingIsANoOp)
{
    errno = EPIPE;
    SorTraceln(5, "nobody");
    SorTrace(5, "nobody\n");
    SorError("nobody\n");
    EnableTrace(5);
    EnableLog(5);
    SetLogFile("x", 2, 1);
    ResetTraceAndLog();
    LockTrace();
    UnlockTrace();
    WaitForEndTrace(0xFFFFFFFF);
    ReleaseTrace();
    EXPECT_EQ(IsTraceEnabled(5), 0);
    EXPECT_EQ(IsLogEnabled(5), 0);
    EXPECT_EQ(SorCheckLevel(5), 0);
    EXPECT_EQ(ProcessTraceWndMessages(), 0);
    EXPECT_EQ(errno, EPIPE);
}

TEST_F(CInterfaceTest, TraceModeInstallsTheTraceHooksAndRegisters)
{
    RecordingMode mode(CTraceMode::kTraceSlot);
    EXPECT_EQ(GetTraceMode(), &mode);
    EXPECT_EQ(QXTraceln, &SorTraceln);
    EXPECT_EQ(QXTrace, &SorTrace);
    EXPECT_EQ(CheckLevel, &SorCheckLevel);
    EXPECT_EQ(QXError, &QXErrorNull);
    EXPECT_EQ(QXEnableTrace, &EnableTrace);
    EXPECT_EQ(QXSetLogFile, &SetLogFile);
    EXPECT_EQ(QXLockTrace, &LockTrace);

    QXEnableTrace(kestrel::kLevelWarn);
    errno = ENOENT;
    TRACE_WARN("Unable to open %s", "camera");
    ASSERT_EQ(mode.lines.size(), 1u);
    const std::string& text = mode.lines[0].text;
    EXPECT_EQ(mode.lines[0].level, kestrel::kLevelWarn);
    EXPECT_EQ(text.rfind("<COLOR 7>[WARN ] ", 0), 0u) << text;
    EXPECT_NE(text.find(" 2     c_interface_test.cpp("), std::string::npos) << text;
    EXPECT_NE(text.find("): Unable to open camera</COLOR>"), std::string::npos) << text;
    EXPECT_EQ(errno, ENOENT);

    QXDisableTrace();
    EXPECT_EQ(mode.IsTraceEnabled(kestrel::kLevelWarn), 0);
}

TEST_F(CInterfaceTest, ErrorModeAloneLeavesTheTraceHooksAtTheirDefaults)
{
    const kestrel::test::TempDir dir("sorrel_error_mode");
    sorrel::CErrorTraceMode error("errors", dir.File("error_log").c_str(), 3, 2);
    EXPECT_EQ(GetErrorMode(), &error);
    EXPECT_EQ(GetTraceMode(), nullptr);
    EXPECT_EQ(QXError, &SorError);
    EXPECT_EQ(QXTrace, &QXTraceNull);
    EXPECT_EQ(QXTraceln, &QXTraceNull);
    EXPECT_EQ(CheckLevel, &AlwaysTrue);
    EXPECT_EQ(error.IsTraceEnabled(0), 1);
    EXPECT_EQ(error.IsLogEnabled(0), 1);
    EXPECT_EQ(error.LogFileName(), dir.File("error_log"));
    EXPECT_EQ(error.LogSlices(), 3);
    EXPECT_EQ(error.Title(), "errors");
    EXPECT_EQ(error.Kind(), 2);

    SetQXErrorFile(dir.File("other_errors").c_str());
    EXPECT_EQ(error.LogFileName(), dir.File("other_errors"));
    EXPECT_EQ(error.LogSlices(), 2);
}

TEST_F(CInterfaceTest, DestroyingAModeClearsOnlyItsOwnSlot)
{
    {
        RecordingMode mode(CTraceMode::kTraceSlot);
    }
    EXPECT_EQ(GetTraceMode(), nullptr);

    auto older = std::make_unique<RecordingMode>(CTraceMode::kTraceSlot);
    RecordingMode newer(CTraceMode::kTraceSlot);
    older.reset();
    EXPECT_EQ(GetTraceMode(), &newer);
    // The hooks still lead into the library, which finds the newer mode.
    newer.EnableTrace(1);
    QXTraceln(1, "to the newer");
    EXPECT_EQ(newer.Texts(), std::vector<std::string>{"to the newer"});
}

TEST_F(CInterfaceTest, CheckLevelIsOnWithTheLogSwitchAlone)
{
    RecordingMode mode(CTraceMode::kTraceSlot);
    EXPECT_EQ(SorCheckLevel(101), 0);
    EnableLog(101);
    EXPECT_EQ(SorCheckLevel(101), 1);
    EXPECT_EQ(CheckLevel(101), 1);
    EXPECT_EQ(IsTraceEnabled(101), 0);
    EXPECT_EQ(SorCheckLevel(300), 0);
    EXPECT_EQ(SorCheckLevel(-5), 0);
}

TEST_F(CInterfaceTest, SwitchFunctionsReachTheTraceMode)
{
    RecordingMode mode(CTraceMode::kTraceSlot);
    EnableTrace(3);
    EnableTrace(4);
    SuspendTrace(3);
    EXPECT_EQ(IsTraceEnabled(3), 0);
    ResumeTrace(3);
    EXPECT_EQ(IsTraceEnabled(3), 1);
    DisableOneTrace(3);
    EXPECT_EQ(IsTraceEnabled(3), 0);
    EXPECT_EQ(IsTraceEnabled(4), 1);
    DisableTrace();
    EXPECT_EQ(IsTraceEnabled(4), 0);

    EnableLog(3);
    EnableLog(4);
    SuspendLog(3);
    EXPECT_EQ(IsLogEnabled(3), 0);
    ResumeLog(3);
    EXPECT_EQ(IsLogEnabled(3), 1);
    DisableOneLog(3);
    EXPECT_EQ(IsLogEnabled(3), 0);
    EXPECT_EQ(IsLogEnabled(4), 1);
    DisableLog();
    EXPECT_EQ(IsLogEnabled(4), 0);

    SetLevelDescription(100, "user", "base level");
    EXPECT_EQ(mode.LevelDescriptions().at("100"), std::string("user\x03"
                                                              "base level"));
}

TEST_F(CInterfaceTest, TracingKeepsBothLastErrorsEvenWhenTheOutputFailsASocketCall)
{
    RecordingMode mode(CTraceMode::kTraceSlot);
    mode.EnableTrace(5);
    mode.onTrace = [](const char*) {
        // An output whose send fails: errno and the socket slot change.
        const char byte = 0;
        EXPECT_LT(::send(-1, &byte, 1, MSG_NOSIGNAL), 0);
        SocketErrorSet(10038);
        EXPECT_EQ(errno, EBADF);
    };
    for (int call = 0; call < 4; ++call) {
        errno = ECONNREFUSED;
        SocketErrorSet(10061);
        switch (call) {
            case 0:
                SorTraceln(5, "after a refused connect %d", call);
                break;
            case 1:
                SorTrace(5, "stream %d\n", call);
                break;
            case 2:
                SorTraceStringln(5, "string");
                break;
            default:
                QXTraceln(5, "through the hook");
                break;
        }
        EXPECT_EQ(errno, ECONNREFUSED) << call;
        EXPECT_EQ(SocketErrorGet(), 10061u) << call;
    }
    EXPECT_EQ(mode.lines.size(), 4u);
}

TEST_F(CInterfaceTest, StringFunctionsUseTheTextAsFormat)
{
    RecordingMode mode(CTraceMode::kTraceSlot);
    mode.EnableTrace(5);
    SorTraceStringln(5, "100%% sure");
    SorTraceString(5, "part ");
    SorTraceString(5, "two\n");
    EXPECT_EQ(mode.Texts(), (std::vector<std::string>{"100% sure", "part two"}));
}

TEST_F(CInterfaceTest, WideTextsAreConvertedToLatin1)
{
    RecordingMode mode(CTraceMode::kTraceSlot);
    mode.EnableTrace(5);
    SorTraceStringlnU(5, L"caf\u00e9 \u20ac");
    SorTraceStringU(5, L"d\u00e9j\u00e0\n");
    SorTraceStringlnU(5, nullptr);
    EXPECT_EQ(mode.Texts(), (std::vector<std::string>{"caf\xe9 ?", "deja"}));
}

TEST_F(CInterfaceTest, ErrorTextsGoToTheErrorModeAtLevelZero)
{
    RecordingMode trace(CTraceMode::kTraceSlot);
    RecordingMode error(CTraceMode::kErrorSlot);
    trace.EnableTrace(0);
    error.EnableTrace(0);
    SorError("socket %d closed", 7);
    QXError("\n");
    EXPECT_TRUE(trace.lines.empty());
    EXPECT_EQ(error.lines, (std::vector<Line>{{'T', 0, "socket 7 closed"}}));
}

TEST_F(CInterfaceTest, OutputFailureIsReportedToTheErrorMode)
{
    RecordingMode trace(CTraceMode::kTraceSlot);
    RecordingMode error(CTraceMode::kErrorSlot);
    trace.EnableTrace(5);
    error.EnableTrace(0);
    trace.traceThrows = true;
    SorTraceln(5, "lost");
    // The head text, then the report, whose CR LF breaks are line ends of
    // the error mode's stream.
    ASSERT_EQ(error.lines.size(), 5u);
    EXPECT_NE(error.lines[0].text.find(" CTraceMode.cpp("), std::string::npos) << error.lines[0].text;
    EXPECT_NE(error.lines[0].text.find("  STD_EXH    Handled exception"), std::string::npos);
    EXPECT_EQ(error.lines[1].text, "Trace problem --> CTraceMode::Trace  An error occured");
    EXPECT_EQ(error.lines[2].text.rfind("Reported from CTraceMode.cpp(", 0), 0u) << error.lines[2].text;
    EXPECT_NE(error.lines[3].text.find("trace output down"), std::string::npos) << error.lines[3].text;
    EXPECT_EQ(error.lines[4].text, "");
}

class ErrorFileTest : public CInterfaceTest {
protected:
    // The ERROR file lives in the current directory: the test runs in a
    // scratch one.
    void SetUp() override
    {
        CInterfaceTest::SetUp();
        char cwd[PATH_MAX];
        ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
        oldCwd_ = cwd;
        ASSERT_EQ(::chdir(dir_.Path().c_str()), 0);
        char name[32];
        std::snprintf(name, sizeof name, "ERROR-%x.txt", QXThreadId());
        file_ = name;
    }
    void TearDown() override
    {
        EXPECT_EQ(::chdir(oldCwd_.c_str()), 0);
        CInterfaceTest::TearDown();
    }
    kestrel::test::TempDir dir_{"sorrel_error"};
    std::string oldCwd_;
    std::string file_;
};

TEST_F(ErrorFileTest, FailingErrorModeWritesToStderrAndAnExistingErrorFile)
{
    dir_.Write(file_, "");
    RecordingMode error(CTraceMode::kErrorSlot);
    error.EnableTrace(0);
    error.traceThrows = true;
    testing::internal::CaptureStderr();
    SorError("first failure\n");
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(
        printed.rfind("Trace problem --> CTraceMode::Trace  An error occured\r\nReported from CTraceMode.cpp(", 0), 0u)
        << printed;
    EXPECT_NE(printed.find("trace output down"), std::string::npos);

    EXPECT_EQ(dir_.Read(file_), printed);
}

TEST_F(ErrorFileTest, ErrorFileIsNeverCreated)
{
    RecordingMode error(CTraceMode::kErrorSlot);
    error.EnableTrace(0);
    error.traceThrows = true;
    testing::internal::CaptureStderr();
    SorError("failure\n");
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    struct stat st {};
    EXPECT_NE(::stat(file_.c_str(), &st), 0);
}

TEST_F(CInterfaceTest, WaitForEndTraceHandsOnTheTime)
{
    RecordingMode trace(CTraceMode::kTraceSlot);
    RecordingMode error(CTraceMode::kErrorSlot);
    WaitForEndTrace(0xFFFFFFFF);
    WaitForEndTrace(0);
    WaitForEndTrace(60000);
    EXPECT_EQ(trace.waits, (std::vector<unsigned long>{0xFFFFFFFF, 0, 60000}));
    ASSERT_EQ(error.waits.size(), 2u);  // never for the 0 wait
    EXPECT_EQ(error.waits[0], 0xFFFFFFFFu);
    EXPECT_GT(error.waits[1], 0u);
    EXPECT_LE(error.waits[1], 60000u);
}

int g_released = 0;
struct FactoryCall {
    std::string title, logFile, host, service;
    int slices = 0;
    bool extraIsNull = false;
    bool connectNow = false;
};
FactoryCall g_factoryCall;

class ReleasedMode : public RecordingMode {
public:
    ReleasedMode() : RecordingMode(kTraceSlot) {}
    ~ReleasedMode() override { ++g_released; }
    void InitLevels() override { NO_DYNAMIC(); }
};

CTraceMode* MakeRemote(const char* title, const char* logFile, int slices, const char* host, const char* service,
                       const char* extra, bool connectNow)
{
    g_factoryCall = {title, logFile, host, service, slices, extra == nullptr, connectNow};
    return new ReleasedMode;  // NOLINT(cppcoreguidelines-owning-memory): ReleaseTrace frees it
}

TEST_F(CInterfaceTest, AllocRemoteTraceFillsInDefaultsAndReleaseTraceFreesIt)
{
    sorrel::SetRemoteTraceFactory(&MakeRemote);
    g_released = 0;
    CTraceMode* mode = AllocRemoteTrace(nullptr, nullptr, 4, nullptr, reinterpret_cast<void*>(0x1));
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(GetTraceMode(), mode);
    EXPECT_FALSE(mode->IsAutoDelete());
    EXPECT_EQ(g_factoryCall.title, "Application");
    EXPECT_EQ(g_factoryCall.logFile, "application_log");
    EXPECT_EQ(g_factoryCall.host, "localhost");
    EXPECT_EQ(g_factoryCall.service, "qxtraced");
    EXPECT_EQ(g_factoryCall.slices, 4);
    EXPECT_TRUE(g_factoryCall.extraIsNull);
    EXPECT_TRUE(g_factoryCall.connectNow);

    EnableTrace(5);
    ReleaseTrace();
    EXPECT_EQ(g_released, 1);
    EXPECT_EQ(GetTraceMode(), nullptr);
    SorTraceln(5, "after release");  // finds no mode, returns
    EXPECT_EQ(SorCheckLevel(5), 0);
}

TEST_F(CInterfaceTest, AllocRemoteTraceUConvertsItsTexts)
{
    sorrel::SetRemoteTraceFactory(&MakeRemote);
    g_released = 0;
    AllocRemoteTraceU(L"Cam\u00e9ra", nullptr, 2, L"trace.local", nullptr);
    ASSERT_NE(GetTraceMode(), nullptr);
    EXPECT_EQ(g_factoryCall.title, "Cam\xe9ra");
    EXPECT_EQ(g_factoryCall.logFile, "application_log");
    EXPECT_EQ(g_factoryCall.host, "trace.local");
    ReleaseTrace();
    EXPECT_EQ(g_released, 1);
}

class StrictMode : public RecordingMode {
public:
    StrictMode() : RecordingMode(kTraceSlot) {}
    bool SetTitle(const char* /*title*/) override { throw kestrel::CGeneralException(1, "no title", __FILE__, 1); }
    bool SetLogFile(const char*, int, bool) override { throw kestrel::CGeneralException(2, "no log", __FILE__, 1); }
    void ResetOutput(bool, bool) override { throw kestrel::CGeneralException(3, "no reset", __FILE__, 1); }
    void* hWnd() override { return this; }
};

TEST_F(CInterfaceTest, SettingsSwallowExceptionsButResetDoesNot)
{
    StrictMode mode;
    EXPECT_NO_THROW(SetTraceTitle("t"));
    EXPECT_NO_THROW(SetLogFile("l", 2, 0));
    EXPECT_NO_THROW(QXSetTraceTitle("t"));
    EXPECT_THROW(ResetTraceAndLog(), kestrel::CGeneralException);
    EXPECT_THROW(QXResetTraceAndLog(), kestrel::CGeneralException);
}

TEST_F(CInterfaceTest, SetLogFileReachesTheTraceMode)
{
    RecordingMode mode(CTraceMode::kTraceSlot);
    SetLogFile("server_log", 5, 0);
    EXPECT_EQ(mode.LogFileName(), "server_log");
    EXPECT_EQ(mode.LogSlices(), 5);
    QXSetLogFile(nullptr, 2, 1);
    EXPECT_EQ(mode.LogFileName(), "application_log");
}

void* g_pumpedTrace = nullptr;
void* g_pumpedError = nullptr;
int Pump(void* traceWindow, void* errorWindow)
{
    g_pumpedTrace = traceWindow;
    g_pumpedError = errorWindow;
    return 1;
}

TEST_F(CInterfaceTest, WindowMessagesArePumpedOnlyWhenAModeHasAWindow)
{
    sorrel::SetTraceWindowPump(&Pump);
    {
        RecordingMode plain(CTraceMode::kTraceSlot);
        EXPECT_EQ(ProcessTraceWndMessages(), 0);
        EXPECT_EQ(g_pumpedTrace, nullptr);
    }
    StrictMode windowed;
    EXPECT_EQ(ProcessTraceWndMessages(), 1);
    EXPECT_EQ(g_pumpedTrace, &windowed);
    EXPECT_EQ(g_pumpedError, nullptr);
}

TEST_F(CInterfaceTest, LockedCallerCanStillTrace)
{
    RecordingMode mode(CTraceMode::kTraceSlot);
    mode.EnableTrace(5);
    QXLockTrace();
    SorTraceln(5, "one");
    SorTraceln(5, "two");
    QXUnlockTrace();
    EXPECT_EQ(mode.Texts(), (std::vector<std::string>{"one", "two"}));
}

}  // namespace
