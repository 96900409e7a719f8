#include "tools/qxtraced/TraceSession.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "libkestrel/archive/CArchive.h"
#include "libkestrel/framework/QXException.h"
#include "libwicket/CNetException.h"
#include "libwicket/RecordItems.h"
#include "tools/qxtraced/LogPath.h"

namespace qxtraced {

namespace {

const std::string kEtx("\x03");
const std::string kEot("\x04");
constexpr int kMostSlices = 1000;

bool IsLineRecord(const std::string& payload)
{
    return !payload.empty() && payload[0] >= 1 && payload[0] <= 3;
}

}  // namespace

LogFiles::~LogFiles()
{
    for (auto& [path, file] : files_) {
        while (file->NbRef() > 1) {
            file->DelRef();
        }
        file->DelRef();
    }
}

kestrel::CLogFile* LogFiles::Acquire(const std::string& requested, int slices, std::string& path, std::string& why)
{
    const std::optional<std::string> confined = ConfineLogName(root_, requested);
    if (!confined) {
        why = "no usable file name in \"" + requested + "\"";
        return nullptr;
    }
    path = *confined;
    if (const auto found = files_.find(path); found != files_.end()) {
        found->second->AddRef();
        return found->second;
    }
    if (!MakeLogDirectories(root_, path)) {
        why = std::string("cannot make its directory: ") + std::strerror(errno);
        return nullptr;
    }
    const int count = slices < 1 ? 2 : (slices > kMostSlices ? kMostSlices : slices);
    try {
        // Owned by its reference count (DelRef).
        auto* file = new kestrel::CLogFile(  // NOLINT(cppcoreguidelines-owning-memory)
            path.c_str(), kestrel::CLogFile::kDefaultSliceSize, static_cast<unsigned long>(count));
        files_[path] = file;
        return file;
    } catch (const kestrel::CFrameworkException& e) {
        why = e.Message();
        return nullptr;
    }
}

void LogFiles::Release(const std::string& path)
{
    const auto found = files_.find(path);
    if (found == files_.end()) {
        return;
    }
    if (found->second->NbRef() == 1) {
        kestrel::CLogFile* file = found->second;
        files_.erase(found);
        file->DelRef();
    } else {
        found->second->DelRef();
    }
}

TraceSession::TraceSession(std::string peer, LogFiles& logs, Events events)
    : peer_(std::move(peer)), logs_(logs), events_(std::move(events))
{
}

TraceSession::~TraceSession()
{
    if (log_ != nullptr) {
        logs_.Release(logPath_);
    }
}

void TraceSession::Receive(std::string_view bytes)
{
    try {
        reader_.Feed(bytes);
        std::string payload;
        while (reader_.Next(payload)) {
            Handle(payload);
        }
    } catch (const wicket::CNetException& e) {
        throw ProtocolError(e.Text());
    } catch (const kestrel::CArchiveException&) {
        throw ProtocolError("a record that does not parse");
    }
}

void TraceSession::Handle(const std::string& payload)
{
    if (!loggedIn_) {
        if (IsLineRecord(payload)) {
            throw ProtocolError("a line before LOGIN");
        }
        wicket::RecordItems items(payload);
        if (items.Text() != "LOGIN") {
            throw ProtocolError("a record before LOGIN");
        }
        items.Text();  // the blank
        name_ = items.Text();
        loggedIn_ = true;
        Reply("ACK");
        return;
    }
    if (IsLineRecord(payload)) {
        HandleLine(payload);
        return;
    }
    if (payload.empty()) {
        if (listsAsked_ > 0) {
            --listsAsked_;
            events_.notice(*this, "no described levels");
        }
        return;
    }
    wicket::RecordItems items(payload);
    const std::string command = items.Text();
    if (command == "TITLE") {
        items.Text();
        title_ = items.Text();
    } else if (command == "LOGFILE") {
        items.Text();
        const int slices = items.Int();
        items.Text();
        OpenLog(items.Text(), slices);
    } else if (command == "LEVELDESC") {
        HandleLevelList(payload);
    } else if (command == "LOGIN") {
        throw ProtocolError("a second LOGIN");
    } else {
        events_.notice(*this, "ignored an unknown record \"" + command.substr(0, 40) + "\"");
    }
}

void TraceSession::HandleLine(const std::string& payload)
{
    wicket::RecordItems items(payload);
    const char kind = items.Char();
    const std::string line = items.Text();
    ++lines_;
    if ((kind & 2) != 0) {
        events_.print(*this, line);
    }
    if ((kind & 1) == 0) {
        return;
    }
    if (log_ == nullptr) {
        if (!toldNoLog_) {
            toldNoLog_ = true;
            events_.notice(*this, "sends log lines without a log file; they are dropped");
        }
        return;
    }
    try {
        log_->WriteString(line + "\n");
    } catch (const kestrel::CFrameworkException& e) {
        events_.notice(*this, "log file " + logPath_ + ": " + e.Message());
    }
}

void TraceSession::HandleLevelList(const std::string& payload)
{
    if (listsAsked_ > 0) {
        --listsAsked_;
    }
    wicket::RecordItems items(payload);
    // Entries: LEVELDESC ETX level ETX trace ETX log ETX name ETX description EOT.
    std::string first = items.Text();
    for (;;) {
        if (first != "LEVELDESC") {
            throw ProtocolError("a level list entry without LEVELDESC");
        }
        items.Text();
        const int level = items.Int();
        items.Text();
        const int traceOn = items.Int();
        items.Text();
        const int logOn = items.Int();
        items.Text();
        const std::string value = items.Text();
        if (items.Text() != kEot) {
            throw ProtocolError("a level list entry without its end");
        }
        const std::size_t cut = value.find('\x03');
        const std::string name = value.substr(0, cut);
        const std::string description = cut == std::string::npos ? std::string() : value.substr(cut + 1);
        events_.notice(*this, "level " + std::to_string(level) + " trace " + (traceOn != 0 ? "on" : "off") + ", log " +
                                  (logOn != 0 ? "on" : "off") + ": " + name +
                                  (description.empty() ? "" : " - " + description));
        try {
            first = items.Text();
        } catch (const kestrel::CArchiveException&) {
            return;  // the last entry
        }
    }
}

void TraceSession::OpenLog(const std::string& requested, int slices)
{
    if (log_ != nullptr) {
        logs_.Release(logPath_);
        log_ = nullptr;
        logPath_.clear();
    }
    std::string path;
    std::string why;
    log_ = logs_.Acquire(requested, slices, path, why);
    if (log_ == nullptr) {
        events_.notice(*this, "log file \"" + requested + "\" refused: " + why);
        Reply("REFUSED");
        return;
    }
    logPath_ = path;
    events_.notice(*this, "logs to " + path + ".<n>");
    Reply("ACK");
}

void TraceSession::Reply(const std::string& text)
{
    outgoing_ += wicket::RecordBuilder().Text(text).Framed();
}

void TraceSession::SendCommand(const std::string& command, const std::string& argument)
{
    std::string text = command;
    if (!argument.empty()) {
        text += kEtx + argument;
    }
    if (command == "LISTLEVELDESC") {
        ++listsAsked_;
    }
    Reply(text);
}

std::string TraceSession::TakeOutgoing()
{
    return std::exchange(outgoing_, {});
}

}  // namespace qxtraced
