// What the FTP uploader puts on the wire and into the events window, built
// apart from any connection: file names, the proxy rule, directory levels,
// command and address texts, the server's last reply, and the catch-up rule.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serveur/core/SettingsSections.h"

namespace vorlix::ftp {

// The settings section of the uploader.
inline constexpr const char* kSection = section::kFtp;
// The key text that scrambles the stored password.
inline constexpr const char* kPasswordKey = "Password";
// The only service number that means FTP.
inline constexpr int kServiceFtp = 1;
inline constexpr int kDefaultFtpPort = 21;
// Longest server reply kept for the trace.
inline constexpr std::size_t kReplyMax = 4096;

// "<RemoteDir>vorlix_<k>.jpg": RemoteDir is a prefix ending with "/".
std::string RemotePictureName(std::string_view remoteDir, int number);
// "<pictureDir>/vorlix_<k>.jpg"
std::string LocalPicturePath(std::string_view pictureDir, int number);
std::string RemoteIndexName(std::string_view remoteDir);
std::string LocalIndexPath(std::string_view pictureDir);

// "host:port" when "ifproxy" is exactly 1 and the host is not empty;
// nullopt means a direct connection.
std::optional<std::string> ProxyText(int ifproxy, std::string_view proxyHost, int proxyPort);

// The directories to create, shallowest first: the text before every "/"
// or "\" of RemoteDir. Empty names (a leading separator, doubled
// separators) are left out: creating them can only fail.
std::vector<std::string> DirectoryLevels(std::string_view remoteDir);

// The quote command that creates one directory, its failure ignored by
// the transfer ("*MKD <name>"); nullopt when the name holds a control
// character, which would end the command early and start another.
std::optional<std::string> MakeDirectoryCommand(std::string_view name);

// "ftp://<host>:<port>/" with an IPv6 literal in brackets and port 0 taken
// as 21; nullopt for an empty host, a host holding anything that is not a
// host name or an address, or a port outside 0..65535.
std::optional<std::string> ServerUrl(std::string_view host, int port);
// The base address followed by the remote name, every byte but letters,
// digits, "-._~/" percent-encoded. A leading "/" makes the name absolute.
std::string FileUrl(std::string_view serverUrl, std::string_view remoteName);

// Whether a login or password can be sent in a command line (no control
// character).
bool SafeCredential(std::string_view text);

// The events-window lines (six leading blanks, as the events list aligns them).
std::string UploadedLine(std::string_view remoteName);           // "      Ftp=%s"
std::string RetryUploadedLine(std::string_view localPath);       // "      Ftp retry=%s"
std::string RetryFailedLine(std::string_view localPath);         // "      KO Ftp=%s"
std::string OpenFailedLine(int code, std::string_view text);     // "      KO ftp open (%d,%s)"
std::string ConnectFailedLine(int code, std::string_view text);  // "      KO ftp connect (%d,%s)"

// The pictures one pass goes through: numbers `first` to `last` of the
// shot counter (both included; none when first > last). Pictures older
// than the `maxJpg` newest ones have been overwritten on disk by newer
// ones, so a pass that fell behind by more than a whole set starts at the
// oldest picture still there instead of sending the same slot twice.
struct PendingRange {
    int first = 0;
    int last = -1;
    [[nodiscard]] bool Empty() const { return first > last; }
};
PendingRange Pending(int lastUploaded, int shots, int maxJpg);
// The slot of a picture number: number modulo "Max jpg" (below 1 counts as 1).
int PictureSlot(int number, int maxJpg);

// Collects the server's reply lines as they arrive and keeps the last
// complete reply ("123-" opens a multi-line reply, "123 " ends it), cut to
// kReplyMax bytes, without its final line end.
class ReplyCollector {
public:
    void Feed(std::string_view line);
    // The newest reply: the lines received so far of an unfinished one,
    // else the last complete one.
    [[nodiscard]] std::string Last() const;
    void Clear();

private:
    static void Append(std::string& to, std::string_view line);

    std::string current_;
    std::string last_;
    std::string openCode_;  // the code of an open multi-line reply
};

}  // namespace vorlix::ftp
