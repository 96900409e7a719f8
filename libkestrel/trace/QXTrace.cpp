#include "libkestrel/trace/QXTrace.h"

#include <cstdio>
#include <cstring>

#include "libkestrel/error/QXError.h"
#include "libkestrel/framework/QXException.h"

extern "C" {

void QXTraceNull(int /*level*/, const char* /*format*/, ...) {}
void QXErrorNull(const char* /*format*/, ...) {}
void QXLockNull(void) {}
void QXEnableTraceNull(int /*level*/) {}
void QXDisableTraceNull(void) {}
void QXEnableLogNull(int /*level*/) {}
void QXDisableLogNull(void) {}
void QXResetTraceAndLogNull(void) {}
void QXSetLogFileNull(const char* /*name*/, int /*slices*/, int /*force*/) {}
void QXSetTraceTitleNull(const char* /*title*/) {}
int AlwaysTrue(int /*level*/)
{
    return 1;
}

QXTraceFunction QXTrace = &QXTraceNull;
QXTraceFunction QXTraceln = &QXTraceNull;
QXErrorFunction QXError = &QXErrorNull;
QXCheckLevelFunction CheckLevel = &AlwaysTrue;
QXLockFunction QXLockTrace = &QXLockNull;
QXLockFunction QXUnlockTrace = &QXLockNull;
QXLockFunction QXLockError = &QXLockNull;
QXLockFunction QXUnlockError = &QXLockNull;
QXLevelFunction QXEnableTrace = &QXEnableTraceNull;
QXVoidFunction QXDisableTrace = &QXDisableTraceNull;
QXLevelFunction QXEnableLog = &QXEnableLogNull;
QXVoidFunction QXDisableLog = &QXDisableLogNull;
QXLevelFunction QXDisableOneTrace = &QXEnableTraceNull;  // a do-nothing level function
QXLevelFunction QXDisableOneLog = &QXEnableLogNull;
QXVoidFunction QXResetTraceAndLog = &QXResetTraceAndLogNull;
QXSetLogFileFunction QXSetLogFile = &QXSetLogFileNull;
QXSetTraceTitleFunction QXSetTraceTitle = &QXSetTraceTitleNull;

void SetTraceFunction(QXTraceFunction function)
{
    QXTrace = function;
}
void SetTracelnFunction(QXTraceFunction function)
{
    QXTraceln = function;
}
void SetErrorFunction(QXErrorFunction function)
{
    QXError = function;
}
void SetCheckLevelFunction(QXCheckLevelFunction function)
{
    CheckLevel = function;
}
void SetTraceLockFunctions(QXLockFunction lock, QXLockFunction unlock)
{
    QXLockTrace = lock;
    QXUnlockTrace = unlock;
}
void SetErrorLockFunctions(QXLockFunction lock, QXLockFunction unlock)
{
    QXLockError = lock;
    QXUnlockError = unlock;
}
void SetEnableTraceFunction(QXLevelFunction function)
{
    QXEnableTrace = function;
}
void SetDisableTraceFunction(QXVoidFunction function)
{
    QXDisableTrace = function;
}
void SetEnableLogFunction(QXLevelFunction function)
{
    QXEnableLog = function;
}
void SetDisableOneTraceFunction(QXLevelFunction function)
{
    QXDisableOneTrace = function;
}
void SetDisableOneLogFunction(QXLevelFunction function)
{
    QXDisableOneLog = function;
}
void SetDisableLogFunction(QXVoidFunction function)
{
    QXDisableLog = function;
}
void SetResetTraceAndLogFunction(QXVoidFunction function)
{
    QXResetTraceAndLog = function;
}
void SetLogFileFunction(QXSetLogFileFunction function)
{
    QXSetLogFile = function;
}
void SetTraceTitleFunction(QXSetTraceTitleFunction function)
{
    QXSetTraceTitle = function;
}

void QXTraceBytes(int level, const void* bytes, int count)
{
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (int i = 0; i < count; ++i) {
        QXTrace(level, "<0x%02x>", p[i]);
        if ((i + 1) % 16 == 0) {
            QXTrace(level, "\n");
        }
    }
    QXTrace(level, "\n");
}

void QXTraceBytesFormatted(int level, const void* bytes, int count)
{
    if (CheckLevel(level) == 0) {
        return;
    }
    constexpr int kHexWidth = 49;
    constexpr int kTextWidth = 17;
    char hex[kHexWidth + 1];
    char text[kTextWidth + 1];
    auto reset = [&] {
        std::memset(hex, ' ', kHexWidth);
        hex[kHexWidth] = '\0';
        std::memset(text, ' ', kTextWidth);
        text[kTextWidth] = '\0';
    };
    auto emit = [&](int offset) {
        char row[16 + kHexWidth + kTextWidth + 8];
        std::snprintf(row, sizeof row, "%04d  %s  %s", offset, hex, text);
        QXTrace(level, "%s\n", row);
    };
    reset();
    const auto* p = static_cast<const unsigned char*>(bytes);
    int rowStart = 0;
    for (int i = 0; i < count; ++i) {
        const int k = i - rowStart;
        if (k == 16) {
            emit(rowStart);
            reset();
            rowStart = i;
        }
        const int column = i - rowStart;
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", p[i]);
        hex[static_cast<std::size_t>(3 * column)] = digits[0];
        hex[static_cast<std::size_t>(3 * column) + 1] = digits[1];
        text[column] = (p[i] >= 0x20 && p[i] <= 0x7D) ? static_cast<char>(p[i]) : '.';
    }
    emit(rowStart);
}

}  // extern "C"

void QXExceptionTrace(const kestrel::CFrameworkException& exception, int level)
{
    char message[1024];
    if (!exception.GetErrorMessage(message, sizeof message)) {
        message[0] = '\0';
    }
    QXTrace(level, "%s\n", message);
}

void QXExceptionError(const kestrel::CFrameworkException& exception)
{
    if (dynamic_cast<const kestrel::CQXException*>(&exception) != nullptr) {
        char message[1024];
        if (!exception.GetErrorMessage(message, sizeof message)) {
            message[0] = '\0';
        }
        QXError("%s %X    %s", QXDateAndTime(), QXThreadId(), "STD_EXH    Handled exception\n");
        QXError("%s", message);
        QXError("\r\n");
        return;
    }
    char message[512];
    if (!exception.GetErrorMessage(message, sizeof message)) {
        message[0] = '\0';
    }
    QXError("%s\n", message);
}
