#include "serveur/web/WebReplies.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::web {

namespace {

constexpr std::size_t kMaxPemBytes = std::size_t{1024} * 1024;

const char* const kSecurityHeaders[][2] = {
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"},
    // The page's own style and few lines of script, nothing from elsewhere.
    {"Content-Security-Policy",
     "default-src 'self'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; frame-ancestors 'none'"},
    {"Cache-Control", "no-store"},
};

}  // namespace

MHD_Result Queue(MHD_Connection* connection, unsigned status, MHD_Response* response, const char* type)
{
    if (response == nullptr) {
        return MHD_NO;
    }
    for (const auto& header : kSecurityHeaders) {
        MHD_add_response_header(response, header[0], header[1]);
    }
    if (type != nullptr) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    }
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result QueueText(MHD_Connection* connection, unsigned status, const std::string& body, const char* type)
{
    MHD_Response* response =
        MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    return Queue(connection, status, response, type);
}

MHD_Result QueueError(MHD_Connection* connection, unsigned status, const char* text)
{
    return QueueText(connection, status, std::string(text) + "\n", "text/plain; charset=utf-8");
}

std::string PeerAddress(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr) {
        return "?";
    }
    char text[INET6_ADDRSTRLEN] = "?";
    const sockaddr* address = info->client_addr;
    if (address->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    } else if (address->sa_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    }
    return text;
}

std::optional<std::string> ReadPem(const std::string& path)
{
    kestrel::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::size_t>(info.st_size) > kMaxPemBytes) {
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return std::nullopt;
        }
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

void LogFromLibrary(void* /*self*/, const char* format, va_list args)
{
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    const std::size_t n = std::strlen(line);
    if (n > 0 && line[n - 1] == '\n') {
        line[n - 1] = '\0';
    }
    TRACE_INFO("Web: %s", line);
}

std::size_t UnescapeInPlace(char* text)
{
    auto hex = [](char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        if (in[0] == '%' && in[1] != '\0' && in[2] != '\0') {
            const int high = hex(in[1]);
            const int low = hex(in[2]);
            if (high >= 0 && low >= 0 && (high | low) != 0) {
                *out++ = static_cast<char>(high * 16 + low);
                in += 2;
                continue;
            }
        }
        *out++ = *in;
    }
    *out = '\0';
    return static_cast<std::size_t>(out - text);
}

}  // namespace vorlix::web
