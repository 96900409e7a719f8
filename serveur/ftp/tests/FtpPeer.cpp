#include "serveur/ftp/tests/FtpPeer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/Children.h"
#include "serveur/ftp/FtpWire.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::ftp::test {

using namespace std::chrono_literals;

namespace {

// Starts Debian's Python on `argv` (script first); its errors go to `errPath`.
pid_t SpawnPython(std::vector<std::string> argv, const std::string& errPath)
{
    argv.insert(argv.begin(), "/usr/bin/python3");
    const pid_t pid = kestrel::test::StartChild(argv, {.err = errPath, .appendErr = true});
    if (pid < 0) {
        throw std::runtime_error("cannot start /usr/bin/python3");
    }
    return pid;
}

// Waits for the port the peer writes once it listens; ends the peer and
// throws when it does not come.
int WaitForPort(const kestrel::test::TempDir& dir, pid_t& pid)
{
    if (!kestrel::test::WaitUntil([&] { return !dir.Read("port").empty(); }, 10s, 10ms)) {
        StopProcess(pid);
        throw std::runtime_error("a test peer did not start: " + dir.Read("peer.err"));
    }
    return static_cast<int>(std::strtol(dir.Read("port").c_str(), nullptr, 10));
}

std::vector<std::string> LogLines(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(line.substr(prefix.size()));
        }
    }
    return lines;
}

}  // namespace

void StopProcess(pid_t& pid)
{
    kestrel::test::EndChild(pid, 0ms);  // killed at once: a peer has nothing to save
    pid = -1;
}

FtpPeer::FtpPeer() : FtpPeer(Config{}) {}

FtpPeer::FtpPeer(Config config) : config_(std::move(config))
{
    ::mkdir(Root().c_str(), 0755);
    Start();
}

FtpPeer::~FtpPeer()
{
    Stop();
}

void FtpPeer::Start()
{
    if (pid_ > 0) {
        return;
    }
    ::unlink(dir_.File("port").c_str());
    std::vector<std::string> argv = {VORLIX_FTP_PEER_SCRIPT,
                                     "--port",
                                     std::to_string(port_),
                                     "--port-file",
                                     dir_.File("port"),
                                     "--root",
                                     Root(),
                                     "--user",
                                     config_.user,
                                     "--password",
                                     config_.password,
                                     "--log",
                                     dir_.File("commands.log")};
    if (config_.stall) {
        argv.emplace_back("--stall");
    }
    pid_ = SpawnPython(std::move(argv), dir_.File("peer.err"));
    port_ = WaitForPort(dir_, pid_);
}

void FtpPeer::Stop()
{
    StopProcess(pid_);
}

std::vector<std::string> FtpPeer::Commands() const
{
    return LogLines(dir_.Read("commands.log"), "CMD ");
}

std::vector<std::string> FtpPeer::CommandsLike(const std::string& verb) const
{
    std::vector<std::string> matching;
    for (const std::string& command : Commands()) {
        if (command.rfind(verb, 0) == 0) {
            matching.push_back(command);
        }
    }
    return matching;
}

int FtpPeer::Logins() const
{
    return static_cast<int>(LogLines(dir_.Read("commands.log"), "LOGIN ").size());
}

void FtpPeer::ClearLog() const
{
    // The server appends to the file it opened: truncate it in place.
    ::truncate(dir_.File("commands.log").c_str(), 0);
}

ConnectProxy::ConnectProxy()
{
    pid_ = SpawnPython({VORLIX_FTP_PROXY_SCRIPT, "--port-file", dir_.File("port"), "--log", dir_.File("tunnels.log")},
                       dir_.File("peer.err"));
    port_ = WaitForPort(dir_, pid_);
}

ConnectProxy::~ConnectProxy()
{
    StopProcess(pid_);
}

std::vector<std::string> ConnectProxy::Tunnels() const
{
    return LogLines(dir_.Read("tunnels.log"), "CONNECT ");
}

void EventLines::AddEntry(const std::string& line)
{
    const std::lock_guard<std::mutex> guard(lock_);
    lines_.push_back(line);
}

std::vector<std::string> EventLines::Lines() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

CameraDir::CameraDir() : settings_(dir_.File("Vorlix.ini")), pictures_(dir_.File("files"))
{
    ::mkdir(pictures_.c_str(), 0755);
}

std::string CameraDir::WritePicture(int slot, std::size_t size) const
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + static_cast<std::size_t>(slot) * 7) & 0xFF);
    }
    bytes.replace(0, 6, "\r\n\0\xff\n\r", 6);
    kestrel::test::WriteFile(LocalPicturePath(pictures_, slot), bytes);
    return bytes;
}

void CameraDir::PointAt(const FtpPeer& peer, const std::string& remoteDir) const
{
    Set("Server", "127.0.0.1");
    SetInt("Port", peer.Port());
    Set("Login", "camera");
    SetPassword("s3cret");
    Set("RemoteDir", remoteDir);
    SetInt("management", 1);
}

void CameraDir::Set(const std::string& key, const std::string& value) const
{
    kestrel::profile::WriteString(settings_, kSection, key, value);
}

void CameraDir::SetInt(const std::string& key, int value) const
{
    kestrel::profile::WriteInt(settings_, kSection, key, value);
}

void CameraDir::SetPassword(const std::string& plain) const
{
    std::string scrambled;
    if (!plain.empty()) {
        ScramblePassword(plain, kPasswordKey, scrambled);
    }
    Set("Password", scrambled);
}

void CameraDir::WriteIndexPage(const std::string& bytes) const
{
    kestrel::test::WriteFile(LocalIndexPath(pictures_), bytes);
}

}  // namespace vorlix::ftp::test
