// A real FTP server on 127.0.0.1 for the uploader's tests (pyftpdlib run by
// Debian's Python), and a camera directory to upload from.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "serveur/actions/ActionSeams.h"

namespace vorlix::ftp::test {

// Ends a test peer (SIGKILL, then reaped); -1 afterwards.
void StopProcess(pid_t& pid);

class FtpPeer {
public:
    struct Config {
        std::string user = "camera";
        std::string password = "s3cret";
        bool stall = false;  // never read upload data
    };

    // Starts the server on a free port (Config defaults).
    FtpPeer();
    explicit FtpPeer(Config config);
    // Stops the server.
    ~FtpPeer();
    FtpPeer(const FtpPeer&) = delete;
    FtpPeer& operator=(const FtpPeer&) = delete;

    // Starts again on the same port after Stop.
    void Start();
    void Stop();

    [[nodiscard]] int Port() const { return port_; }
    // The user's home directory on the server.
    [[nodiscard]] std::string Root() const { return dir_.File("root"); }
    [[nodiscard]] std::string RootFile(const std::string& name) const { return Root() + "/" + name; }
    // The commands received so far ("USER camera", "STOR vorlix_1.jpg", ...).
    [[nodiscard]] std::vector<std::string> Commands() const;
    [[nodiscard]] int Logins() const;
    // The commands that begin with `verb` ("STOR", "MKD").
    [[nodiscard]] std::vector<std::string> CommandsLike(const std::string& verb) const;
    void ClearLog() const;

private:
    Config config_;
    kestrel::test::TempDir dir_{"vorlix_ftp_peer"};
    pid_t pid_ = -1;
    int port_ = 0;
};

// An HTTP proxy that opens CONNECT tunnels to 127.0.0.1 and logs them.
class ConnectProxy {
public:
    ConnectProxy();
    ~ConnectProxy();
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    [[nodiscard]] int Port() const { return port_; }
    // "127.0.0.1:<port>" of every tunnel opened so far.
    [[nodiscard]] std::vector<std::string> Tunnels() const;

private:
    kestrel::test::TempDir dir_{"vorlix_ftp_proxy"};
    pid_t pid_ = -1;
    int port_ = 0;
};

// The events window as the uploader sees it: its lines, in order.
class EventLines final : public EventsWindow {
public:
    void AddEntry(const std::string& line) override;
    [[nodiscard]] std::vector<std::string> Lines() const;

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

// A camera's working directory: settings file and picture directory.
class CameraDir {
public:
    CameraDir();
    [[nodiscard]] const std::string& SettingsFile() const { return settings_; }
    [[nodiscard]] const std::string& PictureDir() const { return pictures_; }
    // Writes picture slot `slot` with distinct binary bytes (CR, LF, NUL,
    // high bytes: a text-mode transfer would change them); returns them.
    std::string WritePicture(int slot, std::size_t size = 3000) const;
    // The "Vorlix FTP" section pointing at `peer`.
    void PointAt(const FtpPeer& peer, const std::string& remoteDir = "") const;
    void Set(const std::string& key, const std::string& value) const;
    void SetInt(const std::string& key, int value) const;
    // Stores `plain` scrambled under "Password", as the configuration dialog does.
    void SetPassword(const std::string& plain) const;
    void WriteIndexPage(const std::string& bytes) const;

private:
    kestrel::test::TempDir dir_{"vorlix_ftp_cam"};
    std::string settings_;
    std::string pictures_;
};

}  // namespace vorlix::ftp::test
