// One FTP connection for the length of an upload pass, on libcurl: the
// connection is made and logged in once, then every upload and directory
// creation of the pass goes over it. Every wait is bounded: connecting
// (log-in included) by the connect time-out, transfers and replies by the
// no-progress time-out, and an abort request ends whatever runs within a
// tenth of a second.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "serveur/ftp/FtpWire.h"

namespace vorlix::ftp {

struct FtpTimeouts {
    std::chrono::milliseconds connect{30000};
    std::chrono::milliseconds stall{60000};  // no byte moved and no reply for this long
};

// Where and as whom to connect.
struct FtpEndpoint {
    std::string serverUrl;             // "ftp://host:port/" (ServerUrl)
    std::optional<std::string> proxy;  // "host:port" of an HTTP proxy, tunnelled (ProxyText)
    std::string login;                 // empty: anonymous
    std::string password;              // empty: none
};

// What one operation came to. On failure: the system's error number when
// the network gave one, else the transfer library's code; its text; and
// whether the connection itself failed (as opposed to a refusal by the
// server, or a local file that cannot be read).
struct FtpOutcome {
    enum class Kind { Done, Refused, ConnectionLost, LocalFile, Aborted };
    Kind kind = Kind::Done;
    int code = 0;
    std::string text;
    [[nodiscard]] bool Ok() const { return kind == Kind::Done; }
};

class FtpSession {
public:
    // `abort` is polled during every wait; once true, operations end at
    // once with Kind::Aborted and the connection is dropped without QUIT.
    FtpSession(const std::atomic<bool>& abort, FtpTimeouts timeouts);
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // Sets up the transfer handles (nothing goes on the network yet).
    FtpOutcome Open();
    // Connects and logs in.
    FtpOutcome Connect(const FtpEndpoint& endpoint);
    // Uploads a local file in binary under the remote name.
    FtpOutcome Put(const std::string& localPath, const std::string& remoteName);
    // Creates each directory in turn; failures are ignored.
    void CreateDirectories(const std::vector<std::string>& names);
    // The server's newest reply (see ReplyCollector).
    [[nodiscard]] std::string LastResponse() const { return reply_.Last(); }

private:
    struct Handles;

    FtpOutcome Perform();
    FtpOutcome Failure(int curlCode);
    void ResetOperation();
    void DropConnections();
    struct Callbacks;
    friend struct Callbacks;

    const std::atomic<bool>& abort_;
    FtpTimeouts timeouts_;
    std::unique_ptr<Handles> handles_;
    std::string serverUrl_;
    ReplyCollector reply_;
    std::set<int> sockets_;  // open sockets of this session, to cut them on abort
    char errorText_[256] = {};
};

}  // namespace vorlix::ftp
