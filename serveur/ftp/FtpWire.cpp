#include "serveur/ftp/FtpWire.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace vorlix::ftp {

namespace {

bool IsControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 32 || byte == 127;
}

bool HasControl(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), IsControl);
}

std::string WithCode(std::string_view head, int code, std::string_view text)
{
    std::string line(head);
    line += " (";
    line += std::to_string(code);
    line += ',';
    line += text;
    line += ')';
    return line;
}

bool HostByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return std::isalnum(byte) != 0 || c == '-' || c == '.' || c == '_' || c == ':' || c == '%';
}

bool ReplyCode(std::string_view line, char separator)
{
    return line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) != 0 &&
           std::isdigit(static_cast<unsigned char>(line[1])) != 0 &&
           std::isdigit(static_cast<unsigned char>(line[2])) != 0 && line[3] == separator;
}

}  // namespace

std::string RemotePictureName(std::string_view remoteDir, int number)
{
    return std::string(remoteDir) + "vorlix_" + std::to_string(number) + ".jpg";
}

std::string LocalPicturePath(std::string_view pictureDir, int number)
{
    return std::string(pictureDir) + "/vorlix_" + std::to_string(number) + ".jpg";
}

std::string RemoteIndexName(std::string_view remoteDir)
{
    return std::string(remoteDir) + "index.php";
}

std::string LocalIndexPath(std::string_view pictureDir)
{
    return std::string(pictureDir) + "/index.php";
}

std::optional<std::string> ProxyText(int ifproxy, std::string_view proxyHost, int proxyPort)
{
    if (ifproxy != 1 || proxyHost.empty()) {
        return std::nullopt;
    }
    return std::string(proxyHost) + ":" + std::to_string(proxyPort);
}

std::vector<std::string> DirectoryLevels(std::string_view remoteDir)
{
    std::vector<std::string> levels;
    for (std::size_t i = 0; i < remoteDir.size(); ++i) {
        if ((remoteDir[i] == '/' || remoteDir[i] == '\\') && i > 0 && remoteDir[i - 1] != '/' &&
            remoteDir[i - 1] != '\\') {
            levels.emplace_back(remoteDir.substr(0, i));
        }
    }
    return levels;
}

std::optional<std::string> MakeDirectoryCommand(std::string_view name)
{
    if (name.empty() || HasControl(name)) {
        return std::nullopt;
    }
    return "*MKD " + std::string(name);
}

std::optional<std::string> ServerUrl(std::string_view host, int port)
{
    if (host.empty() || host.size() > 253 || port < 0 || port > 65535) {
        return std::nullopt;
    }
    std::string_view bare = host;
    if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']') {
        bare = bare.substr(1, bare.size() - 2);
    }
    if (!std::all_of(bare.begin(), bare.end(), HostByte)) {
        return std::nullopt;
    }
    const bool ipv6 = bare.find(':') != std::string_view::npos;
    std::string url = "ftp://";
    url += ipv6 ? "[" + std::string(bare) + "]" : std::string(bare);
    url += ":" + std::to_string(port == 0 ? kDefaultFtpPort : port) + "/";
    return url;
}

std::string FileUrl(std::string_view serverUrl, std::string_view remoteName)
{
    std::string url(serverUrl);
    for (const char c : remoteName) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            url += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            url += escaped;
        }
    }
    return url;
}

bool SafeCredential(std::string_view text)
{
    return !HasControl(text);
}

std::string UploadedLine(std::string_view remoteName)
{
    return "      Ftp=" + std::string(remoteName);
}

std::string RetryUploadedLine(std::string_view localPath)
{
    return "      Ftp retry=" + std::string(localPath);
}

std::string RetryFailedLine(std::string_view localPath)
{
    return "      KO Ftp=" + std::string(localPath);
}

std::string OpenFailedLine(int code, std::string_view text)
{
    return WithCode("      KO ftp open", code, text);
}

std::string ConnectFailedLine(int code, std::string_view text)
{
    return WithCode("      KO ftp connect", code, text);
}

int PictureSlot(int number, int maxJpg)
{
    const int n = std::max(maxJpg, 1);
    const int slot = number % n;
    return slot < 0 ? slot + n : slot;
}

PendingRange Pending(int lastUploaded, int shots, int maxJpg)
{
    PendingRange range{lastUploaded + 1, shots};
    const int n = std::max(maxJpg, 1);
    if (!range.Empty() && range.last - range.first >= n) {
        range.first = range.last - n + 1;
    }
    return range;
}

void ReplyCollector::Append(std::string& to, std::string_view line)
{
    if (to.size() < kReplyMax) {
        to.append(line.substr(0, kReplyMax - to.size()));
    }
}

void ReplyCollector::Feed(std::string_view line)
{
    if (openCode_.empty()) {
        current_.clear();
        if (ReplyCode(line, '-')) {
            openCode_ = std::string(line.substr(0, 3));
        }
        Append(current_, line);
        if (openCode_.empty()) {
            last_ = current_;
            current_.clear();
        }
        return;
    }
    Append(current_, line);
    if (ReplyCode(line, ' ') && line.substr(0, 3) == openCode_) {
        last_ = current_;
        current_.clear();
        openCode_.clear();
    }
}

std::string ReplyCollector::Last() const
{
    std::string reply = current_.empty() ? last_ : current_;
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) {
        reply.pop_back();
    }
    return reply;
}

void ReplyCollector::Clear()
{
    current_.clear();
    last_.clear();
    openCode_.clear();
}

}  // namespace vorlix::ftp
