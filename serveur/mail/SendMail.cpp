#include "serveur/mail/SendMail.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "libkestrel/error/QXError.h"
#include "libkestrel/framework/FileIo.h"
#include "libkestrel/trace/TraceLevels.h"
#include "libwicket/ServerConnect.h"
#include "libwicket/SockAvail.h"
#include "serveur/mail/MailError.h"
#include "serveur/mail/TlsSession.h"

namespace vorlix {

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::string_view kHidden = "(credentials)";

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}
}  // namespace

void MailStop::Request()
{
    requested_.store(true);
    const std::lock_guard<std::mutex> guard(lock_);
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_RDWR);
    }
}

void MailStop::Attach(int fd)
{
    const std::lock_guard<std::mutex> guard(lock_);
    fd_ = fd;
    if (requested_.load()) {
        ::shutdown(fd_, SHUT_RDWR);
    }
}

void MailStop::Detach()
{
    const std::lock_guard<std::mutex> guard(lock_);
    fd_ = -1;
}

SendMail::SendMail(const MailSettings& settings, MailStop& stop, std::chrono::milliseconds replyWait)
    : port_(settings.port),
      host_(settings.smtp.substr(0, kMaxMailHost)),
      subject_(settings.subject),
      to_(settings.to),
      cc_(settings.cc),
      from_(settings.from),
      security_(settings.security),
      login_(settings.login),
      password_(settings.password),
      verify_(settings.verify),
      stop_(stop),
      replyWait_(replyWait)
{
}

SendMail::~SendMail()
{
    // A connection that failed part-way ends here: the socket is closed.
    stop_.Detach();
}

void SendMail::Connect()
{
    const int fd = wicket::ServerConnect(host_.c_str(), port_, false, true, static_cast<int>(replyWait_.count()),
                                         [this] { return stop_.Requested(); });
    if (fd < 0) {
        if (stop_.Requested()) {
            throw MailError(kStopped);
        }
        TRACE_WARN("Connect to SMTP %s:%d failed", host_.c_str(), port_);
        TRACE_WARN_DETAIL();
        throw MailError(kConnectFailed);
    }
    socket_.Reset(fd);
    stop_.Attach(fd);
    // A server that stops reading cannot hold a send for longer than a reply may take.
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(replyWait_.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((replyWait_.count() % 1000) * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    TRACE_LEVEL(kestrel::kLevelUser3, "Connect to SMTP Ok(%s:%d)", host_.c_str(), port_);
    if (security_ == MailSecurity::kTls) {
        StartTls();
    }
    WaitReply("220");
}

void SendMail::StartTls()
{
    tls_ = std::make_unique<TlsSession>(socket_.Get(), host_, verify_, static_cast<int>(replyWait_.count()));
    if (!verify_) {
        TRACE_WARN("Mail: certificate of %s not checked (Verify 0)", host_.c_str());
    }
}

std::string SendMail::ReadReply(Clock::time_point deadline)
{
    std::array<char, kReceiveChunk> buffer{};
    long got = 0;
    if (tls_) {
        // GnuTLS may hold whole records read with an earlier one: it waits on
        // the socket itself, only when it has nothing left.
        got = tls_->Receive(buffer.data(), buffer.size(), std::max(MillisecondsLeft(deadline), 1));
        if (got == TlsSession::kTimedOut) {
            ThrowWaitFailure();
        }
    } else {
        if (wicket::SockAvailReadMs(socket_.Get(), MillisecondsLeft(deadline)) <= 0) {
            ThrowWaitFailure();
        }
        do {
            got = ::recv(socket_.Get(), buffer.data(), buffer.size(), 0);
        } while (got < 0 && errno == EINTR);
    }
    if (got <= 0) {
        ThrowReceiveFailure(kRecvFailed);
    }
    TRACE_LEVEL(kestrel::kLevelUser4, "(Recv Packet) recv (%d bytes)=(%.32s)", static_cast<int>(got),
                std::string(buffer.data(), static_cast<std::size_t>(got)).c_str());
    return std::string(buffer.data(), static_cast<std::size_t>(got));
}

void SendMail::ThrowWaitFailure()
{
    if (stop_.Requested()) {
        throw MailError(kStopped);
    }
    TRACE_WARN("Error on SendMail(%d), SockAvailReadMs", socket_.Get());
    throw MailError(kWaitFailed);
}

void SendMail::ThrowReceiveFailure(const char* text)
{
    if (stop_.Requested()) {
        throw MailError(kStopped);
    }
    TRACE_WARN("Error on SendMail(%d), Recv Packet", socket_.Get());
    TRACE_WARN_DETAIL();
    throw MailError(text);
}

SmtpReply SendMail::ReadWholeReply()
{
    const auto deadline = Clock::now() + replyWait_;
    for (;;) {
        if (auto reply = reader_.Next()) {
            return *reply;
        }
        if (reader_.Overlong()) {
            throw MailError("Mail: reply too long");
        }
        reader_.Add(ReadReply(deadline));
    }
}

int SendMail::WaitReply(std::string_view text)
{
    const auto deadline = Clock::now() + replyWait_;
    for (;;) {
        while (auto reply = reader_.Next()) {
            if (reply->Failed()) {
                throw MailError(reply->OneLine());  // even when its words hold the text
            }
            if (reply->text.find(text) != std::string::npos) {
                return 1;
            }
        }
        if (reader_.Overlong()) {
            throw MailError("Mail: reply too long");
        }
        reader_.Add(ReadReply(deadline));
    }
}

long SendMail::SendRaw(const char* data, std::size_t size)
{
    if (tls_) {
        return tls_->Send(data, size);
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t sent = ::send(socket_.Get(), data + done, size - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            break;
        }
        done += static_cast<std::size_t>(sent);
    }
    return static_cast<long>(done);
}

int SendMail::SendText(std::string_view text, std::string_view shown)
{
    const long sent = SendRaw(text.data(), text.size());
    if (sent != static_cast<long>(text.size())) {
        if (stop_.Requested()) {
            throw MailError(kStopped);
        }
        TRACE_WARN("Error on (%d), Send Packet (%d au lieu de %d)", socket_.Get(), static_cast<int>(sent),
                   static_cast<int>(text.size()));
        TRACE_WARN_DETAIL();
        throw MailError(kWriteFailed);
    }
    const std::string traced(shown.empty() ? text.substr(0, 32) : shown);
    TRACE_LEVEL(kestrel::kLevelUser4, "(Send Packet) send (%d bytes) (%.32s)", static_cast<int>(text.size()),
                traced.c_str());
    return 1;
}

SmtpReply SendMail::Command(std::string_view text, std::string_view shown)
{
    SendText(text, shown);
    return ReadWholeReply();
}

void SendMail::Judge(const SmtpReply& reply)
{
    if (reply.Failed()) {
        throw MailError(reply.OneLine());
    }
}

void SendMail::Expect(const SmtpReply& reply, int code)
{
    if (reply.code != code) {
        throw MailError(reply.OneLine().empty() ? std::string(kRecvFailed) : reply.OneLine());
    }
}

void SendMail::Greet()
{
    if (security_ == MailSecurity::kNone && login_.empty()) {
        // Plain mail as it always was: any answer to HELO will do.
        Command(kHeloCommand);
        return;
    }
    SmtpReply reply = Command(kEhloCommand);
    Judge(reply);
    EhloOffer offer = ParseEhlo(reply);
    if (security_ == MailSecurity::kStartTls) {
        if (!offer.startTls) {
            throw MailError("Mail: the server offers no STARTTLS");
        }
        Expect(Command(kStartTlsCommand), 220);
        if (reader_.Waiting() != 0) {
            // Bytes sent before the handshake would pass for protected ones.
            throw MailError("Mail: unexpected data after STARTTLS");
        }
        StartTls();
        reply = Command(kEhloCommand);
        Judge(reply);
        offer = ParseEhlo(reply);
    }
    if (!login_.empty()) {
        Authenticate(offer);
    }
}

void SendMail::Authenticate(const EhloOffer& offer)
{
    if (!tls_) {
        TRACE_WARN("Mail: login to %s sent without TLS (Security 0)", host_.c_str());
    }
    if (offer.auth.contains("PLAIN")) {
        Expect(Command(AuthPlainCommand(login_, password_), kHidden), 235);
    } else if (offer.auth.contains("LOGIN")) {
        Expect(Command(kAuthLoginCommand), 334);
        Expect(Command(AuthLoginAnswer(login_), kHidden), 334);
        Expect(Command(AuthLoginAnswer(password_), kHidden), 235);
    } else {
        throw MailError("Mail: the server offers no AUTH PLAIN or LOGIN");
    }
    TRACE_LEVEL(kestrel::kLevelUser3, "Mail: logged in to %s as %s", host_.c_str(), login_.c_str());
}

void SendMail::SendData(std::string_view text)
{
    SendText(stuffer_.Stuff(text));
}

void SendMail::SendHeader(const std::string& recipient, const std::string& subjectSuffix, const std::string& history)
{
    Greet();
    Judge(Command(MailFromCommand(from_)));
    Judge(Command(RcptToCommand(recipient)));
    Judge(Command(kDataCommand));
    stuffer_ = DotStuffer{};
    SendData(DateHeader(std::time(nullptr)));
    SendData(FromHeader(from_));
    SendData(ToHeader(to_));
    if (!cc_.empty()) {
        SendData(CcHeader(cc_));
    }
    SendData(SubjectHeader(subject_ + subjectSuffix));
    boundary_ = BoundaryFromRand(std::rand());  // NOLINT(cert-msc30-c,cert-msc50-cpp): only a boundary
    SendData(MimeHeader(boundary_));
    SendData(FirstTextPart(boundary_, history));
}

long SendMail::AttachPicture(const std::string& path, const std::string& name)
{
    const std::optional<std::string> bytes = kestrel::ReadWholeFile(path, kMaxPictureBytes);
    if (!bytes) {
        const unsigned int code = ErrorLast();
        TRACE_WARN("access file (%s) (%d,%s)", path.c_str(), static_cast<int>(code), ErrorDescription(code));
        return -1;
    }
    SendData(PicturePart(boundary_, name, SplitLines(Base64Encode(*bytes))));
    return static_cast<long>(bytes->size());
}

void SendMail::AddTextPart(const std::string& text)
{
    SendData(TextPart(boundary_, text));
}

void SendMail::Close()
{
    SendData(ClosingBoundary(boundary_));
    SendText(kDataEnd);
    Judge(ReadWholeReply());  // whether the server took the message
    try {
        Command(kQuitCommand);
    } catch (const MailError& error) {
        // The message is accepted: a server that leaves without a word costs nothing.
        TRACE_LEVEL(kestrel::kLevelUser3, "Mail: no answer to QUIT (%s)", error.what());
    }
    if (tls_) {
        tls_->Bye();
        tls_.reset();
    }
    stop_.Detach();
    socket_.Reset();
    TRACE_LEVEL(kestrel::kLevelUser3, "Close Mail Ok");
}

}  // namespace vorlix
