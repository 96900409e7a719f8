#include "serveur/mail/SmtpWire.h"

#include <cctype>

#include "serveur/mail/MailMime.h"

namespace vorlix {

namespace {
bool Digit(char c)
{
    return c >= '0' && c <= '9';
}

// A line that says more lines of the same reply follow: three digits and "-".
bool GoesOn(std::string_view line)
{
    return line.size() >= 4 && Digit(line[0]) && Digit(line[1]) && Digit(line[2]) && line[3] == '-';
}

std::string Upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string_view StripLineEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    return line;
}
}  // namespace

std::string MailFromCommand(std::string_view address)
{
    return "MAIL FROM: <" + EnvelopeAddress(address) + ">\r\n";
}

std::string RcptToCommand(std::string_view address)
{
    return "RCPT TO: <" + EnvelopeAddress(address) + ">\r\n";
}

std::string AuthPlainCommand(std::string_view login, std::string_view password)
{
    std::string token(1, '\0');
    token.append(login).push_back('\0');
    token.append(password);
    return "AUTH PLAIN " + Base64Encode(token) + "\r\n";
}

std::string AuthLoginAnswer(std::string_view text)
{
    return Base64Encode(text) + "\r\n";
}

std::string SmtpReply::OneLine() const
{
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        line.push_back(c == '\r' || c == '\n' ? ' ' : c);
    }
    std::string out;
    out.reserve(line.size());
    for (const char c : line) {
        if (c != ' ' || (!out.empty() && out.back() != ' ')) {
            out.push_back(c);
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

std::optional<SmtpReply> ReplyReader::Next()
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = pending_.find('\n', start);
        if (end == std::string::npos) {
            return std::nullopt;
        }
        const std::string_view line = StripLineEnd(std::string_view(pending_).substr(start, end + 1 - start));
        if (!GoesOn(line)) {
            SmtpReply reply;
            if (line.size() >= 3 && Digit(line[0]) && Digit(line[1]) && Digit(line[2])) {
                reply.code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
            }
            reply.text = pending_.substr(0, end + 1);
            pending_.erase(0, end + 1);
            return reply;
        }
        start = end + 1;
    }
}

EhloOffer ParseEhlo(const SmtpReply& reply)
{
    EhloOffer offer;
    std::string_view rest = reply.text;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = StripLineEnd(rest.substr(0, end == std::string_view::npos ? rest.size() : end + 1));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (line.size() < 4) {
            continue;
        }
        const std::string keywords = Upper(line.substr(4));
        if (keywords == "STARTTLS") {
            offer.startTls = true;
        } else if (keywords.starts_with("AUTH ") || keywords.starts_with("AUTH=")) {
            std::string_view names = std::string_view(keywords).substr(5);
            while (!names.empty()) {
                const std::size_t blank = names.find(' ');
                const std::string_view name = names.substr(0, blank);
                if (!name.empty()) {
                    offer.auth.emplace(name);
                }
                names = blank == std::string_view::npos ? std::string_view{} : names.substr(blank + 1);
            }
        }
    }
    return offer;
}

}  // namespace vorlix
