// The browser view's HTTP server (libmicrohttpd, one polling thread for
// every connection): the page, the live stream, the snapshot, the pictures
// of the rotating set and the events list, behind Digest authentication
// when the camera has a password, over TLS when a certificate is set. A
// connection that has to wait (a live viewer between pictures, a snapshot,
// a wrong password's delay) is parked rather than waited for. Its threads
// read the live pictures and what the owner tells them, never the camera.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "serveur/web/GuessGuard.h"
#include "serveur/web/LiveFrames.h"
#include "serveur/web/ParkedConnections.h"
#include "serveur/web/WebPage.h"
#include "serveur/web/WebSettings.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace vorlix::web {

struct WebServerOptions {
    WebSettings settings;
    std::string password;  // empty: every address is open
    int camera = 0;
    // A viewer whose socket takes nothing for this long is dropped.
    std::chrono::seconds stallLimit{10};
    std::chrono::milliseconds firstWrongDelay{1000};
    std::chrono::milliseconds mostWrongDelay{16000};
    // Kernel send buffer of each connection: small, so a stalled viewer is
    // found out soon and holds little memory.
    int sendBuffer = 128 * 1024;
};

// What the addresses show that may change while the server runs.
struct WebSite {
    std::string pictureDir;
    int maxJpg = 0;
    Words words;  // never empty
};

class WebServer {
public:
    // The camera's state for the page; called on connection threads.
    using StateSource = std::function<PageState()>;

    WebServer(LiveFrames& frames, StateSource state);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens as `options` say; false (traced) when it cannot.
    bool Start(const WebServerOptions& options, std::shared_ptr<const WebSite> site);
    // Ends every connection and joins the server's threads; waits are cut
    // short.
    void Stop();
    void SetSite(std::shared_ptr<const WebSite> site);

    [[nodiscard]] bool Running() const { return daemon_ != nullptr; }
    // The port listened on (the chosen one when the settings say 0).
    [[nodiscard]] int Port() const { return port_; }
    [[nodiscard]] int Viewers() const { return viewers_.load(); }
    // Connections waiting for a picture or a moment.
    [[nodiscard]] std::size_t Parked() const { return parking_.Count(); }
    [[nodiscard]] const WebServerOptions& Options() const { return options_; }

private:
    struct Request;  // what one request has come to, across its calls

    struct Glue;  // the library's callbacks
    int Answer(MHD_Connection* connection, const std::string& url, bool head, Request& request);
    // Null when the request may go on; else the result of the 401 queued,
    // or of parking the connection for a wrong answer's delay.
    std::optional<int> Challenge(MHD_Connection* connection, bool head, Request& request);
    int AnswerLive(MHD_Connection* connection);
    int AnswerSnapshot(MHD_Connection* connection, Request& request);
    int AnswerPicture(MHD_Connection* connection, int number, const WebSite& site);
    std::shared_ptr<const WebSite> Site() const;

    LiveFrames& frames_;
    StateSource state_;
    WebServerOptions options_;
    GuessGuard guard_;
    std::string realm_;
    std::string certificate_, key_;  // PEM bytes, alive while the daemon runs
    std::string nonceRandom_;
    MHD_Daemon* daemon_ = nullptr;
    int port_ = 0;
    std::atomic<int> viewers_{0};
    ParkedConnections parking_;

    mutable std::mutex mutex_;
    std::shared_ptr<const WebSite> site_;
};

}  // namespace vorlix::web
