// The SMTP commands the mail sender sends and the reading of the server's
// replies, apart from any socket.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vorlix {

// Sent as they are (the blanks before CR LF included).
inline constexpr std::string_view kHeloCommand = "HELO server \r\n";
inline constexpr std::string_view kEhloCommand = "EHLO server\r\n";
inline constexpr std::string_view kDataCommand = "DATA \r\n";
inline constexpr std::string_view kQuitCommand = "QUIT \r\n";
inline constexpr std::string_view kStartTlsCommand = "STARTTLS\r\n";
inline constexpr std::string_view kAuthLoginCommand = "AUTH LOGIN\r\n";

// "MAIL FROM: <address>\r\n" and "RCPT TO: <address>\r\n".
std::string MailFromCommand(std::string_view address);
std::string RcptToCommand(std::string_view address);
// "AUTH PLAIN " and the base64 of NUL login NUL password.
std::string AuthPlainCommand(std::string_view login, std::string_view password);
// One answer to an AUTH LOGIN prompt: the base64 of `text`.
std::string AuthLoginAnswer(std::string_view text);

// One whole reply of the server: every line up to the one that does not go
// on ("250-..." goes on, "250 ..." ends).
struct SmtpReply {
    int code = 0;      // the three digits of the last line; 0 when it has none
    std::string text;  // the lines as received

    [[nodiscard]] bool Failed() const { return code >= 400 && code <= 599; }
    // The text on one line: line ends as blanks, no trailing blanks.
    [[nodiscard]] std::string OneLine() const;
};

// Gathers received bytes into whole replies.
class ReplyReader {
public:
    // Longest reply kept; a server that says more is cut off.
    static constexpr std::size_t kMaxReply = std::size_t{64} * 1024;

    void Add(std::string_view bytes) { pending_.append(bytes); }
    // The next whole reply, when one has arrived.
    std::optional<SmtpReply> Next();
    // Bytes received that do not yet make a whole reply.
    [[nodiscard]] std::size_t Waiting() const { return pending_.size(); }
    [[nodiscard]] bool Overlong() const { return pending_.size() > kMaxReply; }

private:
    std::string pending_;
};

// What an EHLO reply offers.
struct EhloOffer {
    bool startTls = false;
    std::set<std::string> auth;  // mechanism names in upper case
};
EhloOffer ParseEhlo(const SmtpReply& reply);

}  // namespace vorlix
