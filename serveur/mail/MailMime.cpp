#include "serveur/mail/MailMime.h"

#include <array>
#include <cstdio>

namespace vorlix {

namespace {
constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kLineLength = 72;
constexpr std::uint32_t kBoundaryFactor = 1358136504U;  // 0x50F384B8

std::string Line(std::string_view head, std::string_view value)
{
    std::string line;
    line.reserve(head.size() + value.size() + 2);
    line.append(head).append(value).append("\r\n");
    return line;
}

std::string_view Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}
}  // namespace

std::string Base64Encode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto at = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[k])); };
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);
        out.push_back(kAlphabet[(group >> 18) & 63]);
        out.push_back(kAlphabet[(group >> 12) & 63]);
        out.push_back(kAlphabet[(group >> 6) & 63]);
        out.push_back(kAlphabet[group & 63]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        const std::uint32_t group = (at(i) << 16) | (rest == 2 ? at(i + 1) << 8 : 0);
        out.push_back(kAlphabet[(group >> 18) & 63]);
        out.push_back(kAlphabet[(group >> 12) & 63]);
        out.push_back(rest == 2 ? kAlphabet[(group >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::string SplitLines(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / kLineLength * 2);
    for (std::size_t i = 0; i < text.size(); i += kLineLength) {
        const std::string_view line = text.substr(i, kLineLength);
        out.append(line);
        if (line.size() == kLineLength) {
            out.append("\r\n");
        }
    }
    return out;
}

std::string BoundaryFromRand(int r)
{
    const std::uint32_t product = (static_cast<std::uint32_t>(r) + 1U) * kBoundaryFactor;
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), "-----%lx", static_cast<unsigned long>(product));
    return text.data();
}

std::string DateHeader(std::time_t t)
{
    static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    localtime_r(&t, &local);
    const long offset = local.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "Date: %s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld\r\n",
                  kDays[static_cast<std::size_t>(local.tm_wday) % 7], local.tm_mday,
                  kMonths[static_cast<std::size_t>(local.tm_mon) % 12], local.tm_year + 1900, local.tm_hour,
                  local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return text.data();
}

std::string FromHeader(std::string_view from)
{
    return Line("FROM: ", from);
}

std::string ToHeader(std::string_view to)
{
    return Line("TO: ", to);
}

std::string CcHeader(std::string_view cc)
{
    return Line("CC: ", cc);
}

std::string SubjectHeader(std::string_view subject)
{
    return Line("Subject: ", subject);
}

std::string MimeHeader(std::string_view boundary)
{
    std::string text = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"";
    text.append(boundary).append("\"\r\n\r\n");
    return text;
}

std::string FirstTextPart(std::string_view boundary, std::string_view history)
{
    std::string text = "Je vous informe que ceci est un message au format MIME 1.0 multipart/mixed.\r\n--";
    text.append(boundary).append(
        "\r\nContent-Type: text/plain; charset=\"iso-8859-1\"\r\n"
        "Content-Transfer-Encoding: 8bit\r\n"
        "\r\n"
        // ISO-8859-1: each e acute is the byte 0xE9.
        "Mail provenant de Vorlix suite aux \xE9"
        "v\xE9"
        "nements suivants :\r\n");
    text.append(history).append("\r\n");
    return text;
}

std::string PicturePart(std::string_view boundary, std::string_view name, std::string_view splitBase64)
{
    std::string text = "\r\n--";
    text.reserve(splitBase64.size() + 256);
    text.append(boundary)
        .append("\r\nContent-Type: image/jpeg; name=\"")
        .append(name)
        .append("\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: inline; filename=\"")
        .append(name)
        .append("\"\r\n\r\n")
        .append(splitBase64)
        .append("\r\n\r\n");
    return text;
}

std::string TextPart(std::string_view boundary, std::string_view text)
{
    std::string part = "--";
    part.append(boundary)
        .append(
            "\r\nContent-Type: text/plain; charset=\"iso-8859-1\"\r\n"
            "Content-Transfer-Encoding: 8bit\r\n"
            "\r\n")
        .append(text)
        .append("\r\n");
    return part;
}

std::string ClosingBoundary(std::string_view boundary)
{
    std::string text = "--";
    text.append(boundary).append("--\r\n");
    return text;
}

std::string SizeMaxNote(int next, int shots)
{
    return "sizemax atteint (de " + std::to_string(next) + " a " + std::to_string(shots) + ")";
}

std::string SummaryLine(std::string_view host, std::string_view to, std::string_view subject)
{
    std::string line = "      SendMail (";
    line.append(host).append(",to:").append(to).append(",sujet:").append(subject).append(")");
    return line;
}

std::string FailureLine(std::string_view reason)
{
    std::string line = "      KO SendMail (";
    line.append(reason).append(")");
    return line;
}

std::vector<std::string> Recipients(std::string_view to, std::string_view cc)
{
    std::string all(to);
    if (!cc.empty()) {
        all.append(";").append(cc);
    }
    std::vector<std::string> list;
    std::size_t start = 0;
    while (start <= all.size()) {
        const std::size_t end = std::min(all.find(';', start), all.size());
        if (end > start) {
            list.emplace_back(all, start, end - start);
        }
        start = end + 1;
    }
    return list;
}

std::string EnvelopeAddress(std::string_view address)
{
    const auto open = address.rfind('<');
    if (open != std::string_view::npos) {
        const auto close = address.find('>', open);
        if (close != std::string_view::npos) {
            return std::string(Trim(address.substr(open + 1, close - open - 1)));
        }
    }
    return std::string(Trim(address));
}

std::string PictureName(int i, int maxJpg)
{
    const int slots = maxJpg < 1 ? 1 : maxJpg;
    int n = i % slots;
    if (n < 0) {
        n += slots;
    }
    return "vorlix_" + std::to_string(n) + ".jpg";
}

std::string PicturePath(std::string_view directory, std::string_view name)
{
    std::string path(directory);
    path.append("/").append(name);
    return path;
}

std::string DotStuffer::Stuff(std::string_view piece)
{
    std::string out;
    out.reserve(piece.size() + 8);
    for (const char c : piece) {
        if (atLineStart_ && c == '.') {
            out.push_back('.');
        }
        out.push_back(c);
        atLineStart_ = c == '\n';
    }
    return out;
}

}  // namespace vorlix
