#include "tools/qxtraced/TraceServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "libkestrel/logfile/ColourMarkup.h"

namespace qxtraced {

namespace {

constexpr int kTickMs = 250;
constexpr std::size_t kReadChunk = 16384;
constexpr std::size_t kLongestConsoleLine = 1024;

const char* const kHelp =
    "commands (to every client, or to those whose name or title is NAME):\n"
    "  enable LEVEL [NAME]      trace lines of LEVEL on\n"
    "  disable LEVEL [NAME]     trace lines of LEVEL off\n"
    "  enablelog LEVEL [NAME]   log lines of LEVEL on\n"
    "  disablelog LEVEL [NAME]  log lines of LEVEL off\n"
    "  list [NAME]              the clients' described levels\n"
    "  clients                  who is connected\n"
    "  help                     this text\n";

bool ParseLevel(const std::string& text, int& level)
{
    if (text.empty() || text.size() > 3 || !std::all_of(text.begin(), text.end(), ::isdigit)) {
        return false;
    }
    level = std::stoi(text);
    return level <= 255;
}

}  // namespace

TraceServer::TraceServer(ServerOptions options, std::FILE* lines, std::FILE* notices)
    : options_(std::move(options)), lines_(lines), notices_(notices), logs_(options_.logDirectory)
{
}

TraceServer::~TraceServer() = default;

void TraceServer::Notice(const std::string& text)
{
    std::fprintf(notices_, "qxtraced: %s\n", text.c_str());
    std::fflush(notices_);
}

void TraceServer::Print(const TraceSession& session, const std::string& line)
{
    const std::string shown = kestrel::RenderColourMarkup(line, options_.colour);
    std::fprintf(lines_, "%s: %s\n", session.Title().c_str(), shown.c_str());
}

bool TraceServer::Listen()
{
    if (!listener_.Listen(options_.port, options_.bind)) {
        Notice("cannot listen on " + options_.bind + ":" + std::to_string(options_.port) + ": " + std::strerror(errno));
        return false;
    }
    Notice("listening on " + options_.bind + ":" + std::to_string(listener_.Port()) + ", log files under " +
           options_.logDirectory);
    return true;
}

void TraceServer::Accept()
{
    for (;;) {
        wicket::AcceptedPeer peer;
        const wicket::CListener::AcceptResult result = listener_.Accept(peer);
        if (result != wicket::CListener::AcceptResult::kAccepted) {
            return;
        }
        const std::string where = peer.address + ":" + std::to_string(peer.port);
        if (clients_.size() >= options_.maxClients) {
            Notice("refused " + where + ": already " + std::to_string(clients_.size()) + " clients");
            continue;  // the descriptor closes here
        }
        const int sendBuffer = options_.clientSendBuffer;
        ::setsockopt(peer.fd.Get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        Client& client = clients_.emplace_back();
        client.fd = std::move(peer.fd);
        client.since = std::chrono::steady_clock::now();
        TraceSession::Events events;
        events.print = [this](const TraceSession& s, const std::string& line) { Print(s, line); };
        events.notice = [this](const TraceSession& s, const std::string& text) {
            Notice(s.Title() + " (" + s.Peer() + "): " + text);
        };
        client.session = std::make_unique<TraceSession>(where, logs_, std::move(events));
    }
}

void TraceServer::CollectOutgoing(Client& client)
{
    client.outgoing += client.session->TakeOutgoing();
    Write(client);
    if (!client.closing && client.outgoing.size() > options_.outputLimit) {
        Drop(client, "does not read what it is sent");
    }
}

void TraceServer::Read(Client& client)
{
    char bytes[kReadChunk];
    const ssize_t got = ::recv(client.fd.Get(), bytes, sizeof bytes, 0);
    if (got == 0) {
        Drop(client, "disconnected");
        return;
    }
    if (got < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            Drop(client, std::string("lost: ") + std::strerror(errno));
        }
        return;
    }
    TraceSession& session = *client.session;
    const bool wasIn = session.LoggedIn();
    try {
        session.Receive(std::string_view(bytes, static_cast<std::size_t>(got)));
    } catch (const ProtocolError& e) {
        Drop(client, std::string("refused: ") + e.what());
        return;
    }
    if (!wasIn && session.LoggedIn()) {
        Notice(session.Name() + " connected from " + session.Peer());
        for (const auto& [command, argument] : options_.loginCommands) {
            session.SendCommand(command, argument);
        }
    }
    CollectOutgoing(client);
}

void TraceServer::Write(Client& client)
{
    while (!client.outgoing.empty() && !client.closing) {
        const ssize_t sent = ::send(client.fd.Get(), client.outgoing.data(), client.outgoing.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                Drop(client, std::string("lost: ") + std::strerror(errno));
            }
            return;
        }
        client.outgoing.erase(0, static_cast<std::size_t>(sent));
    }
}

void TraceServer::Drop(Client& client, const std::string& why)
{
    if (client.closing) {
        return;
    }
    client.closing = true;
    const TraceSession& s = *client.session;
    Notice((s.LoggedIn() ? s.Title() : std::string("a client")) + " (" + s.Peer() + ") " + why + " after " +
           std::to_string(s.Lines()) + " lines");
}

void TraceServer::Broadcast(const std::string& command, const std::string& argument, const std::string& target)
{
    int reached = 0;
    for (Client& client : clients_) {
        TraceSession& s = *client.session;
        if (client.closing || !s.LoggedIn() || (!target.empty() && target != s.Name() && target != s.Title())) {
            continue;
        }
        s.SendCommand(command, argument);
        CollectOutgoing(client);
        ++reached;
    }
    Notice(command + (argument.empty() ? "" : " " + argument) + " sent to " + std::to_string(reached) +
           (reached == 1 ? " client" : " clients"));
}

void TraceServer::Command(const std::string& line)
{
    std::istringstream words(line);
    std::string verb;
    std::string first;
    std::string second;
    words >> verb >> first >> second;
    if (verb.empty()) {
        return;
    }
    static const std::pair<const char*, const char*> kLevelCommands[] = {
        {"enable", "ENABLETRACE"},
        {"disable", "DISABLETRACE"},
        {"enablelog", "ENABLELOG"},
        {"disablelog", "DISABLELOG"},
    };
    for (const auto& [word, command] : kLevelCommands) {
        if (verb == word) {
            int level = 0;
            if (!ParseLevel(first, level)) {
                Notice("usage: " + verb + " LEVEL [NAME] with LEVEL 0 to 255");
                return;
            }
            Broadcast(command, std::to_string(level), second);
            return;
        }
    }
    if (verb == "list") {
        Broadcast("LISTLEVELDESC", "", first);
    } else if (verb == "clients") {
        Notice(std::to_string(clients_.size()) + (clients_.size() == 1 ? " client" : " clients"));
        for (const Client& client : clients_) {
            const TraceSession& s = *client.session;
            Notice("  " + (s.LoggedIn() ? s.Title() : std::string("(not logged in)")) + " from " + s.Peer() +
                   (s.LogPath().empty() ? "" : ", logs to " + s.LogPath()) + ", " + std::to_string(s.Lines()) +
                   " lines");
        }
    } else if (verb == "help") {
        std::fputs(kHelp, notices_);
        std::fflush(notices_);
    } else {
        Notice("unknown command \"" + verb + "\"; \"help\" lists them");
    }
}

bool TraceServer::ReadConsole(int fd)
{
    char bytes[512];
    const ssize_t got = ::read(fd, bytes, sizeof bytes);
    if (got < 0) {
        return errno == EINTR || errno == EAGAIN;
    }
    if (got == 0) {
        return false;
    }
    for (ssize_t i = 0; i < got; ++i) {
        if (bytes[i] == '\n') {
            Command(consoleLine_);
            consoleLine_.clear();
        } else if (consoleLine_.size() < kLongestConsoleLine) {
            consoleLine_ += bytes[i];
        }
    }
    return true;
}

void TraceServer::Run(int consoleFd, int stopFd)
{
    bool consoleOpen = consoleFd >= 0;
    std::vector<pollfd> watched;
    for (;;) {
        watched.clear();
        watched.push_back({stopFd, POLLIN, 0});
        watched.push_back({listener_.AcceptAllowed() ? listener_.Fd() : -1, POLLIN, 0});
        watched.push_back({consoleOpen ? consoleFd : -1, POLLIN, 0});
        for (const Client& client : clients_) {
            const short events = static_cast<short>(POLLIN | (client.outgoing.empty() ? 0 : POLLOUT));
            watched.push_back({client.fd.Get(), events, 0});
        }
        const int ready = ::poll(watched.data(), watched.size(), kTickMs);
        if (ready < 0 && errno != EINTR) {
            Notice(std::string("poll failed: ") + std::strerror(errno));
            return;
        }
        if (ready > 0) {
            if ((watched[0].revents & (POLLIN | POLLHUP)) != 0) {
                break;
            }
            if ((watched[1].revents & POLLIN) != 0) {
                Accept();
            }
            if ((watched[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                // The console may end (a closed terminal, /dev/null): the
                // server goes on without it.
                consoleOpen = ReadConsole(consoleFd);
            }
            std::size_t index = 3;
            for (Client& client : clients_) {
                if (index >= watched.size()) {
                    break;  // accepted during this round
                }
                const short revents = watched[index++].revents;
                if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                    Read(client);
                }
                if ((revents & POLLOUT) != 0) {
                    Write(client);
                }
            }
        }
        const auto now = std::chrono::steady_clock::now();
        for (Client& client : clients_) {
            if (!client.session->LoggedIn() && now - client.since > options_.loginTimeout) {
                Drop(client, "did not log in");
            }
            if (!client.closing && !client.outgoing.empty()) {
                Write(client);
            }
        }
        clients_.remove_if([](const Client& client) { return client.closing; });
        std::fflush(lines_);
    }
    Notice("stopping with " + std::to_string(clients_.size()) + " clients");
    clients_.clear();
    std::fflush(lines_);
}

}  // namespace qxtraced
