// One SMTP connection of the mail sender: built for one recipient, connected,
// used for one message and destroyed. Every wait has a deadline; any failure
// throws MailError and the connection is closed with the object.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "libkestrel/framework/UniqueFd.h"
#include "serveur/mail/MailMime.h"
#include "serveur/mail/MailSettings.h"
#include "serveur/mail/SmtpWire.h"

namespace vorlix {

class TlsSession;

// Lets another thread end the connection in progress at once: the stop flag,
// and the socket of the connection, which a stop shuts down so that every
// wait on it ends.
class MailStop {
public:
    void Reset() { requested_.store(false); }
    void Request();
    [[nodiscard]] bool Requested() const { return requested_.load(); }
    // The connection's socket, from connect to close.
    void Attach(int fd);
    void Detach();

private:
    std::atomic<bool> requested_{false};
    std::mutex lock_;
    int fd_ = -1;  // guarded by lock_
};

class SendMail {
public:
    // A file larger than this is not attached (it cannot be a picture of ours).
    static constexpr std::size_t kMaxPictureBytes = std::size_t{64} << 20;
    // Bytes taken by one receive.
    static constexpr std::size_t kReceiveChunk = 2048;

    SendMail(const MailSettings& settings, MailStop& stop,
             std::chrono::milliseconds replyWait = std::chrono::milliseconds(10000));
    ~SendMail();
    SendMail(const SendMail&) = delete;
    SendMail& operator=(const SendMail&) = delete;

    // Connects (TLS at once with Security 2) and waits for the greeting.
    void Connect();
    // Greeting, envelope, DATA, the header lines and the first text part.
    void SendHeader(const std::string& recipient, const std::string& subjectSuffix, const std::string& history);
    // One picture part; the file's size, or -1 when it cannot be read.
    long AttachPicture(const std::string& path, const std::string& name);
    // A further text part.
    void AddTextPart(const std::string& text);
    // Ends the message (its acceptance is checked) and the connection.
    void Close();

    [[nodiscard]] const std::string& Boundary() const { return boundary_; }

    // One receive within the time left until `deadline`.
    std::string ReadReply(std::chrono::steady_clock::time_point deadline);
    // One whole reply within the reply time.
    SmtpReply ReadWholeReply();
    // Replies until one holds `text`; a refusal (4xx, 5xx) ends the wait at
    // once. Returns 1.
    int WaitReply(std::string_view text);
    // Sends every byte of `text`; `shown` replaces it in the trace (secrets).
    int SendText(std::string_view text, std::string_view shown = {});

private:
    void StartTls();
    void Greet();
    void Authenticate(const EhloOffer& offer);
    SmtpReply Command(std::string_view text, std::string_view shown = {});
    // Throws the reply's text when it refuses (4xx, 5xx).
    static void Judge(const SmtpReply& reply);
    // Throws the reply's text unless it has `code`.
    static void Expect(const SmtpReply& reply, int code);
    // Message data, dot-stuffed.
    void SendData(std::string_view text);
    long SendRaw(const char* data, std::size_t size);
    [[noreturn]] void ThrowWaitFailure();
    [[noreturn]] void ThrowReceiveFailure(const char* text);

    kestrel::UniqueFd socket_;
    int port_ = 25;
    std::string host_;  // "SMTP", at most kMaxMailHost characters
    std::string boundary_;
    std::string subject_;
    std::string to_;
    std::string cc_;
    std::string from_;
    MailSecurity security_ = MailSecurity::kNone;
    std::string login_;
    std::string password_;
    bool verify_ = true;

    MailStop& stop_;
    std::chrono::milliseconds replyWait_;
    std::unique_ptr<TlsSession> tls_;
    ReplyReader reader_;
    DotStuffer stuffer_;
};

}  // namespace vorlix
