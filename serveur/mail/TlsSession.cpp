#include "serveur/mail/TlsSession.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/mail/MailError.h"

namespace vorlix {

namespace {
struct CredentialsDeleter {
    void operator()(gnutls_certificate_credentials_t c) const { gnutls_certificate_free_credentials(c); }
};
struct SessionDeleter {
    void operator()(gnutls_session_t s) const { gnutls_deinit(s); }
};
using Credentials = std::unique_ptr<std::remove_pointer_t<gnutls_certificate_credentials_t>, CredentialsDeleter>;
using Session = std::unique_ptr<std::remove_pointer_t<gnutls_session_t>, SessionDeleter>;

int FdOf(gnutls_transport_ptr_t ptr)
{
    return static_cast<int>(reinterpret_cast<std::intptr_t>(ptr));
}

// Writes without SIGPIPE: a server that hung up must not end the program.
ssize_t PushVector(gnutls_transport_ptr_t ptr, const giovec_t* iov, int count)
{
    msghdr message{};
    message.msg_iov = const_cast<iovec*>(reinterpret_cast<const iovec*>(iov));
    message.msg_iovlen = static_cast<std::size_t>(count);
    return ::sendmsg(FdOf(ptr), &message, MSG_NOSIGNAL);
}

bool IsAddress(const std::string& host)
{
    in6_addr any{};
    return inet_pton(AF_INET, host.c_str(), &any) == 1 || inet_pton(AF_INET6, host.c_str(), &any) == 1;
}

std::string Why(int code)
{
    return gnutls_strerror(code);
}
}  // namespace

struct TlsSession::Handles {
    Credentials credentials;
    Session session;
};

TlsSession::TlsSession(int fd, const std::string& host, bool verify, int timeoutMs)
    : handles_(std::make_unique<Handles>())
{
    gnutls_certificate_credentials_t credentials = nullptr;
    if (gnutls_certificate_allocate_credentials(&credentials) != GNUTLS_E_SUCCESS) {
        throw MailError("Mail: TLS unavailable");
    }
    handles_->credentials.reset(credentials);
    if (verify) {
        const int loaded = gnutls_certificate_set_x509_system_trust(credentials);
        if (loaded <= 0) {
            TRACE_WARN("Mail: no certificate in the system trust store (%d)", loaded);
        }
    }
    gnutls_session_t session = nullptr;
    if (gnutls_init(&session, GNUTLS_CLIENT) != GNUTLS_E_SUCCESS) {
        throw MailError("Mail: TLS unavailable");
    }
    handles_->session.reset(session);
    gnutls_set_default_priority(session);
    gnutls_credentials_set(session, GNUTLS_CRD_CERTIFICATE, credentials);
    if (!IsAddress(host)) {
        gnutls_server_name_set(session, GNUTLS_NAME_DNS, host.data(), host.size());
    }
    if (verify) {
        // The handshake itself fails on an untrusted certificate or another name.
        gnutls_session_set_verify_cert(session, host.c_str(), 0);
    }
    gnutls_transport_set_int(session, fd);
    gnutls_transport_set_vec_push_function(session, PushVector);
    gnutls_handshake_set_timeout(session, static_cast<unsigned>(timeoutMs > 0 ? timeoutMs : 1));

    // GnuTLS keeps its own handshake time; this deadline only bounds the
    // retries of non-fatal results.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int result = 0;
    do {
        result = gnutls_handshake(session);
    } while (result < 0 && gnutls_error_is_fatal(result) == 0 && std::chrono::steady_clock::now() < deadline);
    if (result < 0) {
        std::string reason = "Mail: Error during TLS handshake (" + Why(result);
        if (result == GNUTLS_E_CERTIFICATE_VERIFICATION_ERROR) {
            gnutls_datum_t status{};
            const gnutls_certificate_type_t type = gnutls_certificate_type_get(session);
            if (gnutls_certificate_verification_status_print(gnutls_session_get_verify_cert_status(session), type,
                                                             &status, 0) == GNUTLS_E_SUCCESS) {
                std::string text(reinterpret_cast<const char*>(status.data), status.size);
                gnutls_free(status.data);
                while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) {
                    text.pop_back();
                }
                reason.append(" ").append(text);
            }
        }
        reason.append(")");
        throw MailError(reason);
    }
    char* description = gnutls_session_get_desc(session);
    TRACE_LEVEL(kestrel::kLevelUser3, "TLS with %s: %s", host.c_str(), description != nullptr ? description : "?");
    gnutls_free(description);
}

TlsSession::~TlsSession() = default;

long TlsSession::Send(const char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t sent = gnutls_record_send(handles_->session.get(), data + done, size - done);
        if (sent == GNUTLS_E_INTERRUPTED) {
            continue;
        }
        if (sent <= 0) {
            // GNUTLS_E_AGAIN here is the socket's send time limit passing.
            lastError_ = Why(static_cast<int>(sent));
            break;
        }
        done += static_cast<std::size_t>(sent);
    }
    return static_cast<long>(done);
}

long TlsSession::Receive(char* data, std::size_t size, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            lastError_ = Why(GNUTLS_E_TIMEDOUT);
            return kTimedOut;
        }
        gnutls_record_set_timeout(handles_->session.get(), static_cast<unsigned>(left));
        const ssize_t got = gnutls_record_recv(handles_->session.get(), data, size);
        if (got > 0) {
            return static_cast<long>(got);
        }
        if (got == 0) {
            return kClosed;
        }
        if (got == GNUTLS_E_INTERRUPTED || got == GNUTLS_E_AGAIN) {
            continue;  // also after a message of the protocol itself (a TLS 1.3 session ticket)
        }
        lastError_ = Why(static_cast<int>(got));
        return got == GNUTLS_E_TIMEDOUT ? kTimedOut : kFailed;
    }
}

void TlsSession::Bye()
{
    gnutls_record_set_timeout(handles_->session.get(), 1);
    gnutls_bye(handles_->session.get(), GNUTLS_SHUT_WR);
}

}  // namespace vorlix
