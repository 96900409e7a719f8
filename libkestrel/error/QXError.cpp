#include "libkestrel/error/QXError.h"

#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include <array>
#include <atomic>
#include <memory>
#include <thread>

namespace {

thread_local unsigned int t_socketError = 0;
thread_local char t_errorString[16];
thread_local char t_errorDescription[1024];
thread_local char t_dateAndTime[64];
thread_local char t_timeOrDate[32];

// The user error table: created once, slots filled and emptied under a lock
// because any thread may add or read a text.
struct UserErrorTable {
    std::mutex lock;
    std::array<std::unique_ptr<std::string>, KESTREL_USER_ERROR_SLOTS> slots;
};
std::atomic<UserErrorTable*> g_table{nullptr};
std::once_flag g_tableOnce;

UserErrorTable* Table()
{
    return g_table.load(std::memory_order_acquire);
}

struct BuiltinText {
    unsigned int code;
    const char* text;
};

constexpr BuiltinText kBuiltinTexts[] = {
    {6, "Specified event object handle is invalid"},
    {8, "Insufficient memory available"},
    {87, "One or more parameters are invalid"},
    {995, "Overlapped operation aborted"},
    {996, "Overlapped I/O event object not in signaled state"},
    {997, "Overlapped operations will complete later"},
    {10004, "Interrupted function call"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Resource temporarily unavailable"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Cannot assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Cannot send after socket shutdown"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10067, "Too many processes"},
    {10091, "Network subsystem is unavailable"},
    {10092, "WINSOCK.DLL version out of range"},
    {10093, "Successful WSAStartup not yet performed"},
    {10101, "Graceful shutdown in progress"},
    {10107, "System call failure"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "This is a non-recoverable error"},
    {11004, "Valid name, no data record of requested type"},
};

constexpr const char* kUnknown = "Unknown error !";

const char* BuiltinText(unsigned int code)
{
    for (const auto& entry : kBuiltinTexts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return nullptr;
}

// The system's own text for a code, or null when it has none.
const char* SystemText(unsigned int code, char* buffer, std::size_t size)
{
    if (code == 0 || code > 4095) {  // errno values are small; the rest are the socket table's
        return code == 0 ? std::strerror(0) : nullptr;
    }
    // GNU strerror_r returns a pointer that may or may not be `buffer`.
    const char* text = strerror_r(static_cast<int>(code), buffer, size);
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) {
        return nullptr;
    }
    return text;
}

void DefaultMessageBox(const char* caption, const char* text)
{
    std::fprintf(stderr, "%s\n%s\n", caption, text);
}

std::atomic<QXMessageBoxFunction> g_messageBox{&DefaultMessageBox};

}  // namespace

extern "C" {

unsigned int SocketErrorGet(void)
{
    return t_socketError;
}

void SocketErrorSet(unsigned int code)
{
    t_socketError = code;
}

unsigned int ErrorLast(void)
{
    const int system = errno;
    if (system != 0) {
        errno = system;
        return static_cast<unsigned int>(system);
    }
    return t_socketError;
}

void ErrorInit(void)
{
    std::call_once(g_tableOnce, [] {
        // Lives to the end of the process, by design.
        g_table.store(new UserErrorTable, std::memory_order_release);  // NOLINT(cppcoreguidelines-owning-memory)
    });
}

const char* ErrorDescription(unsigned int code)
{
    if ((code & KESTREL_USER_ERROR_FLAG) != 0U) {
        UserErrorTable* table = Table();
        const unsigned int index = code & ~KESTREL_USER_ERROR_FLAG;
        if (table == nullptr || index >= KESTREL_USER_ERROR_SLOTS) {
            return kUnknown;
        }
        const std::lock_guard<std::mutex> guard(table->lock);
        const auto& slot = table->slots[index];
        if (!slot) {
            return kUnknown;
        }
        std::snprintf(t_errorDescription, sizeof t_errorDescription, "%s", slot->c_str());
        return t_errorDescription;
    }
    char scratch[sizeof t_errorDescription];
    if (const char* text = SystemText(code, scratch, sizeof scratch)) {
        std::snprintf(t_errorDescription, sizeof t_errorDescription, "%s", text);
        return t_errorDescription;
    }
    if (const char* text = BuiltinText(code)) {
        return text;
    }
    return kUnknown;
}

const char* ErrorLastString(void)
{
    const int saved = errno;
    const unsigned int code = ErrorLast();
    if ((code & KESTREL_USER_ERROR_FLAG) != 0U) {
        std::snprintf(t_errorString, sizeof t_errorString, "U%-4u", code & ~KESTREL_USER_ERROR_FLAG);
    } else {
        std::snprintf(t_errorString, sizeof t_errorString, "%-5d", static_cast<int>(code));
    }
    errno = saved;
    return t_errorString;
}

void ErrorSet(unsigned int code)
{
    if (code == 0) {
        errno = 0;
        return;
    }
    ErrorInit();
    errno = static_cast<int>(code | KESTREL_USER_ERROR_FLAG);
}

void ErrorSysSet(unsigned int code)
{
    if (code >= 10000) {
        t_socketError = code;
    } else {
        errno = static_cast<int>(code);
    }
}

unsigned int ErrorVal(unsigned int code)
{
    return code | KESTREL_USER_ERROR_FLAG;
}

void ErrorUnset(void)
{
    errno = 0;
    t_socketError = 0;
}

int ErrorAdd(unsigned int code, const char* text)
{
    if (code >= KESTREL_USER_ERROR_SLOTS) {
        return 0;
    }
    ErrorInit();
    UserErrorTable* table = Table();
    const std::lock_guard<std::mutex> guard(table->lock);
    auto& slot = table->slots[code];
    if (slot) {
        return 0;
    }
    slot = std::make_unique<std::string>(text != nullptr ? text : "");
    return 1;
}

int ErrorDel(unsigned int code)
{
    UserErrorTable* table = Table();
    if (table == nullptr || code >= KESTREL_USER_ERROR_SLOTS) {
        return 0;
    }
    const std::lock_guard<std::mutex> guard(table->lock);
    auto& slot = table->slots[code];
    if (!slot) {
        return 0;
    }
    slot.reset();
    return 1;
}

void SetMessageBoxFunction(QXMessageBoxFunction function)
{
    g_messageBox.store(function != nullptr ? function : &DefaultMessageBox);
}

void ErrorShow(const char* text)
{
    const unsigned int code = ErrorLast();
    std::string message;
    if (text != nullptr) {
        message = text;
        message += "\n";
    }
    message += ErrorDescription(code);
    g_messageBox.load()("Error...", message.c_str());
}

const char* QXDateAndTime(void)
{
    const int saved = errno;
    const std::time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    kestrel::FormatDateAndTime(t_dateAndTime, sizeof t_dateAndTime, local);
    errno = saved;
    return t_dateAndTime;
}

const char* QXTime(void)
{
    const int saved = errno;
    const std::time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    std::snprintf(t_timeOrDate, sizeof t_timeOrDate, "%.02d:%.02d:%.02d", local.tm_hour, local.tm_min, local.tm_sec);
    errno = saved;
    return t_timeOrDate;
}

const char* QXDate(void)
{
    const int saved = errno;
    const std::time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    std::snprintf(t_timeOrDate, sizeof t_timeOrDate, "%.02d/%.02d/%.02d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900);
    errno = saved;
    return t_timeOrDate;
}

const char* QXBasename(const char* path)
{
    if (path == nullptr) {
        return "";
    }
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') {
            base = p + 1;
        }
    }
    return base;
}

unsigned int QXThreadId(void)
{
    static thread_local const auto id = static_cast<unsigned int>(::syscall(SYS_gettid));
    return id;
}

int QXSleep(unsigned int seconds)
{
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}

int QXSleepms(unsigned int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return 0;
}

int QXSleepus(unsigned int microseconds)
{
    const unsigned int ms = microseconds <= 1000 ? microseconds / 1000 : 1;
    if (ms == 0) {
        std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    return 0;
}

}  // extern "C"

namespace kestrel {
void FormatDateAndTime(char* out, unsigned long size, const std::tm& local)
{
    if (std::strftime(out, size, "%j %H:%M:%S", &local) == 0 && size > 0) {
        out[0] = '\0';
    }
}
}  // namespace kestrel
