// The trace server's loop: one thread, one poll over the listening socket,
// the clients, the console and a stop descriptor. Nothing waits on a client:
// sockets are non-blocking and each client's unsent bytes are bounded.
#pragma once

#include <chrono>
#include <cstdio>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "libwicket/CListener.h"
#include "tools/qxtraced/TraceSession.h"

namespace qxtraced {

struct ServerOptions {
    std::string bind = "127.0.0.1";
    int port = 0;
    std::string logDirectory = ".";
    std::size_t maxClients = 32;
    // A connection that has not logged in by then is closed.
    std::chrono::milliseconds loginTimeout{10000};
    // Unsent bytes a client may leave waiting before it is dropped, and the
    // kernel's send buffer of each client (what it holds unread stays small).
    std::size_t outputLimit = 1u << 20;
    int clientSendBuffer = 65536;
    // Commands sent to every client when it logs in ("ENABLETRACE", "241").
    std::vector<std::pair<std::string, std::string>> loginCommands;
    // Colour markup as terminal colours (else left out) on the lines printed.
    bool colour = false;
};

class TraceServer {
public:
    // Lines go to `lines`, notices (connections, answers, errors) to `notices`.
    TraceServer(ServerOptions options, std::FILE* lines, std::FILE* notices);
    ~TraceServer();
    TraceServer(const TraceServer&) = delete;
    TraceServer& operator=(const TraceServer&) = delete;

    // False with a notice when the port cannot be had.
    bool Listen();
    [[nodiscard]] int Port() const { return listener_.Port(); }

    // Serves until `stopFd` becomes readable; console lines are read from
    // `consoleFd` (-1: none) until it ends.
    void Run(int consoleFd, int stopFd);
    // One console line: "enable 241", "disable 241 Vorlix_2", "list", ...
    void Command(const std::string& line);
    [[nodiscard]] std::size_t Clients() const { return clients_.size(); }

private:
    struct Client {
        kestrel::UniqueFd fd;
        std::unique_ptr<TraceSession> session;
        std::string outgoing;
        std::chrono::steady_clock::time_point since;
        bool closing = false;
    };

    void Accept();
    void Read(Client& client);
    void Write(Client& client);
    void Drop(Client& client, const std::string& why);
    void Broadcast(const std::string& command, const std::string& argument, const std::string& target);
    // False once the console has ended.
    bool ReadConsole(int fd);
    void Notice(const std::string& text);
    void Print(const TraceSession& session, const std::string& line);
    void CollectOutgoing(Client& client);

    ServerOptions options_;
    std::FILE* lines_;
    std::FILE* notices_;
    wicket::CListener listener_;
    LogFiles logs_;
    std::list<Client> clients_;
    std::string consoleLine_;
};

}  // namespace qxtraced
