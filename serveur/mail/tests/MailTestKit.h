// What the mail tests share: a real SMTP server (aiosmtpd) started on
// 127.0.0.1 with the messages it took parsed by Python's email package, a
// scripted TCP peer for servers that misbehave, a self-signed certificate,
// and an events list that the worker writes to.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/actions/ActionSeams.h"
#include "serveur/mail/MailWorker.h"

namespace vorlix::test {

using namespace std::chrono_literals;

// One message as the server took it.
struct ReceivedMail {
    struct Part {
        std::string type;      // "text/plain", "image/jpeg"
        std::string charset;   // "-" when none
        std::string filename;  // "-" when none
        std::string payload;   // decoded
    };
    std::string mailFrom;
    std::vector<std::string> rcpt;
    std::string login;                                         // empty when none
    std::vector<std::pair<std::string, std::string>> headers;  // in order
    std::vector<Part> parts;
    std::string defects;  // what the parser found wrong; empty when nothing
    std::string raw;      // the data with dot-stuffing undone

    // The value of the first header of that name (case-insensitive); "" when none.
    [[nodiscard]] std::string Header(std::string_view name) const;
    [[nodiscard]] int HeaderCount(std::string_view name) const;
};

struct PeerOptions {
    std::string mode = "plain";  // "plain", "starttls", "tls"
    std::string cert;
    std::string key;
    std::string login;  // a login and password the server accepts
    std::string password;
    std::vector<std::string> exclude;  // AUTH mechanisms not offered
    std::vector<std::string> reject;   // recipients answered 550
};

// aiosmtpd through /usr/bin/python3 (mail_peer.py).
class SmtpPeer {
public:
    explicit SmtpPeer(const PeerOptions& options = {});
    ~SmtpPeer();
    SmtpPeer(const SmtpPeer&) = delete;
    SmtpPeer& operator=(const SmtpPeer&) = delete;

    [[nodiscard]] bool Ready() const { return port_ > 0; }
    [[nodiscard]] int Port() const { return port_; }
    // The messages taken so far, in order.
    [[nodiscard]] std::vector<ReceivedMail> Messages() const;
    // Waits until `count` messages are in.
    bool WaitForMessages(std::size_t count, std::chrono::milliseconds limit = 10s) const;

private:
    kestrel::test::TempDir dir_{"vorlix_smtp"};
    pid_t pid_ = -1;
    int port_ = 0;
};

// A TCP peer on 127.0.0.1 that runs a script for each connection it accepts
// (at most `connections`), on a thread of its own.
class ScriptedPeer {
public:
    class Connection {
    public:
        explicit Connection(int fd) : fd_(fd) {}
        void Send(std::string_view bytes);
        // One line (without its end) within `limit`; nullopt when none came.
        std::optional<std::string> ReadLine(std::chrono::milliseconds limit = 5s);
        // Waits until the client closes or `limit` passes; true when it closed.
        bool WaitClosed(std::chrono::milliseconds limit = 5s);
        [[nodiscard]] const std::vector<std::string>& Lines() const { return lines_; }

    private:
        kestrel::UniqueFd fd_;
        std::string pending_;
        std::vector<std::string> lines_;
    };
    using Script = std::function<void(Connection&)>;

    explicit ScriptedPeer(Script script, int connections = 1);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    [[nodiscard]] int Port() const { return port_; }
    [[nodiscard]] int Accepted() const { return accepted_.load(); }
    // Every line the clients sent, in order.
    [[nodiscard]] std::vector<std::string> Lines() const;

private:
    kestrel::UniqueFd listener_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

// A self-signed certificate for "localhost" and 127.0.0.1 made by openssl in
// `dir`: paths of the certificate and its key; empty paths when it failed.
struct Certificate {
    std::string cert;
    std::string key;
};
Certificate MakeSelfSignedCertificate(const std::string& dir);

// The events window of the worker.
class EventsList final : public EventsWindow {
public:
    void AddEntry(const std::string& line) override;
    [[nodiscard]] std::vector<std::string> Lines() const;
    bool WaitForCount(std::size_t count, std::chrono::milliseconds limit = 10s) const;

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

// Writes the mail section of a settings file: every pair key=value.
void WriteMailSection(const std::string& file, const std::map<std::string, std::string>& keys);

// `size` bytes that differ from one seed to the next (every byte value occurs).
std::string PictureBytes(std::size_t size, unsigned seed);

// Waits shortened for tests: replies within 5 s, no pause before a mail,
// checks every 100 ms.
inline constexpr MailTimings kQuickTimings{std::chrono::milliseconds(5000), std::chrono::milliseconds(50),
                                           std::chrono::milliseconds(100)};

// A camera's settings file, picture directory and events list, and a worker
// on them.
struct MailBench {
    kestrel::test::TempDir dir{"vorlix_mail"};
    std::string ini = dir.File("Vorlix.ini");
    std::string pictures = dir.File("files");
    EventsList events;
    std::string history = "Sun Dec 06 08:26:20 2026 Events(1)=\"In zone 1\"\r\n";

    MailBench();
    // Mail on, to the server on `port` of 127.0.0.1, sender "cam@vorlix.test",
    // recipient "owner@vorlix.test"; `keys` add to or replace these.
    void Configure(int port, const std::map<std::string, std::string>& keys = {}) const;
    // Writes picture `name` in the picture directory; returns its bytes.
    std::string Picture(const std::string& name, std::size_t size, unsigned seed) const;
    // A worker with the events list, the history and a ring of `maxJpg`.
    std::unique_ptr<MailWorker> Worker(MailTimings timings = kQuickTimings, int maxJpg = 500);
    // The events-window lines that begin with `head` (after the indent).
    [[nodiscard]] std::vector<std::string> EventLines(std::string_view head) const;
};

}  // namespace vorlix::test
