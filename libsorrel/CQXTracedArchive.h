// The archive of a remote trace connection: protocol records to the trace
// server (login, title, log file, lines), each line record opened by the
// kind character (1 log, 2 trace, 3 both). Several traced archives of one
// mode share one connection: the first logs in, the others borrow its two
// protocol archives.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "libwicket/CBasicSocket.h"
#include "libwicket/CBasicSocketFile.h"
#include "libwicket/CQXProtoDuplexArchive.h"

namespace sorrel {

class CQXTracedArchive : public wicket::CQXProtoDuplexArchive {
public:
    enum Kind : std::uint32_t { kLog = 1, kTrace = 2, kBoth = 3 };

    // Connects to the trace server itself (service "qxtraced" and host
    // "localhost" when none) and logs in. Throws CNetException.
    CQXTracedArchive(std::uint32_t kind, const char* name, const char* host, const char* service);
    // Logs in over a file that stays the caller's.
    CQXTracedArchive(std::uint32_t kind, const char* name, kestrel::CFile* file);
    // Shares the other archive's connection and name; no login.
    CQXTracedArchive(std::uint32_t kind, CQXTracedArchive* other);
    ~CQXTracedArchive() override;

    CQXTracedArchive(const CQXTracedArchive&) = delete;
    CQXTracedArchive& operator=(const CQXTracedArchive&) = delete;

    using CQXProtoDuplexArchive::operator<<;
    using CQXProtoDuplexArchive::operator>>;
    // Outside a record: a line record (kind character and text). Inside
    // one: the text alone.
    CQXArchive& operator<<(const std::string& text) override;

    // "LOGIN", " ", name; the answer must be "ACK", else CNetException
    // (code 1, "qxtraced has refused the connection").
    void Login(const char* name);
    // "TITLE", ETX, title. No answer is read.
    void SetTitle(const char* title);
    // "LOGFILE", ETX, slices, ETX, name. An answer other than "ACK" is
    // reported through QXError; nothing is thrown for it.
    void SetLogFile(const char* name, int slices);
    // Opens a record on the store half and writes the kind character.
    void Startp() override;
    void Endp() override;
    // Connects the archive's own socket: CNetException code 9 (no socket)
    // or 1 (refused), "In CQXTracedArchive::Connect".
    void Connect(const char* host, int port);
    void AllocArchives(kestrel::CFile* first, kestrel::CFile* second);

    void SetKind(std::uint32_t kind) { kind_ = kind; }
    [[nodiscard]] std::uint32_t Kind() const { return kind_; }
    [[nodiscard]] const std::string& Name() const { return name_; }
    [[nodiscard]] bool Borrowed() const { return borrowed_; }

    // Who reads the answer to LOGFILE. When set and it returns true, a
    // reader that owns the connection's incoming records takes the answer
    // (it is then expected before the request leaves); otherwise this
    // archive reads it at once.
    void SetReplyTaker(std::function<bool()> taker) { replyTaker_ = std::move(taker); }
    // Carries out a command of the trace server met while an answer is
    // read here (a command sent right after the login answer comes before
    // the LOGFILE answer); true when the text was a command.
    void SetCommandRunner(std::function<bool(const std::string&)> runner) { commandRunner_ = std::move(runner); }
    // Reports an answer to LOGFILE that is not "ACK".
    static void CheckLogFileReply(const std::string& reply);

private:
    std::string ReadReply();

    std::uint32_t kind_;
    std::unique_ptr<wicket::CBasicSocket> ownSocket_;
    std::unique_ptr<wicket::CBasicSocketFile> ownFile_;
    std::string name_;
    bool inRecord_ = false;
    bool borrowed_ = false;
    std::function<bool()> replyTaker_;
    std::function<bool(const std::string&)> commandRunner_;
};

// Manipulators: set the kind of a traced archive (other archives are left
// as they are) and return it.
kestrel::CQXArchive& modeLog(kestrel::CQXArchive& archive);
kestrel::CQXArchive& modeTrace(kestrel::CQXArchive& archive);
kestrel::CQXArchive& modeBoth(kestrel::CQXArchive& archive);

}  // namespace sorrel
