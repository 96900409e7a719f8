// TLS over a connected socket through GnuTLS: the server's certificate is
// checked against the system's trust store and its name against the host
// name the user configured, unless verification is turned off.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vorlix {

class TlsSession {
public:
    // Receive results besides a byte count.
    static constexpr long kClosed = 0;
    static constexpr long kFailed = -1;
    static constexpr long kTimedOut = -2;

    // Runs the handshake on the blocking socket `fd` (not owned) within
    // `timeoutMs`; throws MailError with the reason when it fails.
    TlsSession(int fd, const std::string& host, bool verify, int timeoutMs);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Sends every byte; the count sent, less than `size` on failure.
    long Send(const char* data, std::size_t size);
    // Decrypted bytes (at most `size`), kClosed, kFailed, or kTimedOut when
    // no whole record came within `timeoutMs`.
    long Receive(char* data, std::size_t size, int timeoutMs);
    // Tells the server the session ends, without waiting for its answer.
    void Bye();
    // The last GnuTLS failure as text.
    [[nodiscard]] const std::string& LastError() const { return lastError_; }

private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
    std::string lastError_;
};

}  // namespace vorlix
