// What every answer of the browser view shares: the security headers, the
// error texts, the peer's address, bounded PEM reading, the library's log
// lines and the address decoding.
#pragma once

#include <microhttpd.h>

#include <cstdarg>
#include <cstddef>
#include <optional>
#include <string>

namespace vorlix::web {

// Queues `response` with the security headers and `type` (may be null),
// and lets it go; MHD_NO when there is no response.
MHD_Result Queue(MHD_Connection* connection, unsigned status, MHD_Response* response, const char* type);
MHD_Result QueueText(MHD_Connection* connection, unsigned status, const std::string& body, const char* type);
MHD_Result QueueError(MHD_Connection* connection, unsigned status, const char* text);
std::string PeerAddress(MHD_Connection* connection);
// A PEM file, bounded; nullopt when it cannot be read.
std::optional<std::string> ReadPem(const std::string& path);
void LogFromLibrary(void* self, const char* format, va_list args);
// Decodes %XX in place, except %00: a NUL would cut the address short and
// give a second name to what it names. Returns the new length.
std::size_t UnescapeInPlace(char* text);

}  // namespace vorlix::web
