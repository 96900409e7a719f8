// One client of the trace server, without its socket: bytes in, replies
// out, lines to print and to log. It must log in first; a record that does
// not parse, or one over the size limit, ends it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "libkestrel/logfile/CLogFile.h"
#include "libwicket/ProtoRecord.h"

namespace qxtraced {

// A client that broke the protocol; the server drops it with the reason.
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The log files of all clients, shared by path (two clients asking for the
// same file write into one rotation). Under a root nobody leaves.
class LogFiles {
public:
    explicit LogFiles(std::string root) : root_(std::move(root)) {}
    ~LogFiles();
    LogFiles(const LogFiles&) = delete;
    LogFiles& operator=(const LogFiles&) = delete;

    // The open file for the requested name, one more reference; null with
    // `why` set when the name or the file is refused.
    kestrel::CLogFile* Acquire(const std::string& requested, int slices, std::string& path, std::string& why);
    void Release(const std::string& path);
    [[nodiscard]] const std::string& Root() const { return root_; }
    [[nodiscard]] std::size_t OpenFiles() const { return files_.size(); }

private:
    std::string root_;
    std::map<std::string, kestrel::CLogFile*> files_;
};

class TraceSession {
public:
    // What the session tells its server.
    struct Events {
        std::function<void(const TraceSession&, const std::string& line)> print;
        std::function<void(const TraceSession&, const std::string& text)> notice;
    };

    TraceSession(std::string peer, LogFiles& logs, Events events);
    ~TraceSession();
    TraceSession(const TraceSession&) = delete;
    TraceSession& operator=(const TraceSession&) = delete;

    // Bytes from the client, in any pieces. Throws ProtocolError.
    void Receive(std::string_view bytes);
    // A command record to the client: ENABLETRACE, DISABLETRACE, ENABLELOG,
    // DISABLELOG with a level, or LISTLEVELDESC.
    void SendCommand(const std::string& command, const std::string& argument = {});
    // The bytes waiting to go to the client (taken).
    std::string TakeOutgoing();
    [[nodiscard]] std::size_t OutgoingSize() const { return outgoing_.size(); }

    [[nodiscard]] bool LoggedIn() const { return loggedIn_; }
    [[nodiscard]] const std::string& Peer() const { return peer_; }
    [[nodiscard]] const std::string& Name() const { return name_; }
    // The title when the client gave one, else its login name.
    [[nodiscard]] const std::string& Title() const { return title_.empty() ? name_ : title_; }
    [[nodiscard]] const std::string& LogPath() const { return logPath_; }
    [[nodiscard]] std::uint64_t Lines() const { return lines_; }

private:
    void Handle(const std::string& payload);
    void HandleLine(const std::string& payload);
    void HandleLevelList(const std::string& payload);
    void OpenLog(const std::string& requested, int slices);
    void Reply(const std::string& text);

    std::string peer_;
    LogFiles& logs_;
    Events events_;
    wicket::RecordReader reader_;
    std::string outgoing_;
    bool loggedIn_ = false;
    std::string name_;
    std::string title_;
    std::string logPath_;
    kestrel::CLogFile* log_ = nullptr;
    int listsAsked_ = 0;
    bool toldNoLog_ = false;
    std::uint64_t lines_ = 0;
};

}  // namespace qxtraced
