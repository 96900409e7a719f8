#include "serveur/mail/tests/MailTestKit.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <random>
#include <sstream>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/Children.h"
#include "serveur/mail/MailSettings.h"

namespace vorlix::test {

namespace {
using Clock = std::chrono::steady_clock;
using kestrel::test::ReadFile;
using kestrel::test::WaitUntil;

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Starts `argv[0]` with its output and errors in `log`; the pid, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log)
{
    return kestrel::test::StartChild(args, {.out = log, .errToOut = true});
}

using kestrel::test::EndChild;

std::vector<std::string> SortedEntries(const std::string& dir, std::string_view prefix)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (name.starts_with(prefix) && !name.ends_with(".tmp")) {
                names.push_back(name);
            }
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

ReceivedMail ReadMessage(const std::string& dir)
{
    ReceivedMail mail;
    for (const std::string& line : SplitLines(ReadFile(dir + "/envelope.txt"))) {
        if (line.starts_with("from ")) {
            mail.mailFrom = line.substr(5);
        } else if (line.starts_with("rcpt ")) {
            mail.rcpt.push_back(line.substr(5));
        } else if (line.starts_with("auth ")) {
            mail.login = line.substr(5);
        }
    }
    mail.raw = ReadFile(dir + "/message.eml");
    for (const std::string& line : SplitLines(ReadFile(dir + "/summary.txt"))) {
        if (line.starts_with("header ")) {
            const std::size_t colon = line.find(": ", 7);
            mail.headers.emplace_back(line.substr(7, colon - 7),
                                      colon == std::string::npos ? "" : line.substr(colon + 2));
        } else if (line.starts_with("defects ")) {
            mail.defects = line.substr(8);
        } else if (line.starts_with("part ")) {
            std::istringstream fields(line.substr(5));
            int n = 0;
            ReceivedMail::Part part;
            fields >> n >> part.type >> part.charset >> part.filename;
            part.payload = ReadFile(dir + "/part_" + std::to_string(n) + ".bin");
            mail.parts.push_back(std::move(part));
        }
    }
    return mail;
}
}  // namespace

std::string ReceivedMail::Header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (SameText(key, name)) {
            return value;
        }
    }
    return {};
}

int ReceivedMail::HeaderCount(std::string_view name) const
{
    return static_cast<int>(
        std::count_if(headers.begin(), headers.end(), [&](const auto& h) { return SameText(h.first, name); }));
}

SmtpPeer::SmtpPeer(const PeerOptions& options)
{
    std::vector<std::string> args = {"/usr/bin/python3", VORLIX_MAIL_PEER_SCRIPT, "--dir", dir_.Path(), "--mode",
                                     options.mode};
    if (!options.cert.empty()) {
        args.insert(args.end(), {"--cert", options.cert, "--key", options.key});
    }
    if (!options.login.empty()) {
        args.insert(args.end(), {"--login", options.login, "--password", options.password});
    }
    for (const std::string& m : options.exclude) {
        args.insert(args.end(), {"--exclude", m});
    }
    for (const std::string& r : options.reject) {
        args.insert(args.end(), {"--reject", r});
    }
    pid_ = Spawn(args, dir_.File("peer.log"));
    if (pid_ < 0) {
        return;
    }
    int status = 0;
    WaitUntil(
        [&] {
            const std::string ready = ReadFile(dir_.File("ready"));
            if (!ready.empty()) {
                port_ = static_cast<int>(std::strtol(ready.c_str(), nullptr, 10));
                return true;
            }
            return ::waitpid(pid_, &status, WNOHANG) == pid_ && (pid_ = -1, true);
        },
        20s, 10ms);
}

SmtpPeer::~SmtpPeer()
{
    EndChild(pid_);
}

std::vector<ReceivedMail> SmtpPeer::Messages() const
{
    std::vector<ReceivedMail> list;
    for (const std::string& name : SortedEntries(dir_.Path(), "msg_")) {
        list.push_back(ReadMessage(dir_.File(name)));
    }
    return list;
}

bool SmtpPeer::WaitForMessages(std::size_t count, std::chrono::milliseconds limit) const
{
    return WaitUntil([&] { return SortedEntries(dir_.Path(), "msg_").size() >= count; }, limit, 10ms);
}

void ScriptedPeer::Connection::Send(std::string_view bytes)
{
    ::send(fd_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::optional<std::string> ScriptedPeer::Connection::ReadLine(std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            lines_.push_back(line);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{fd_.Get(), POLLIN, 0};
        if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0) {
            return std::nullopt;
        }
        std::array<char, 4096> buffer{};
        const ssize_t got = ::recv(fd_.Get(), buffer.data(), buffer.size(), 0);
        if (got <= 0) {
            return std::nullopt;
        }
        pending_.append(buffer.data(), static_cast<std::size_t>(got));
    }
}

bool ScriptedPeer::Connection::WaitClosed(std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{fd_.Get(), POLLIN, 0};
        if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0) {
            return false;
        }
        std::array<char, 4096> buffer{};
        if (::recv(fd_.Get(), buffer.data(), buffer.size(), 0) <= 0) {
            return true;
        }
    }
}

ScriptedPeer::ScriptedPeer(Script script, int connections)
{
    listener_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_.Get(), 8) != 0 ||
        ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, script = std::move(script), connections] {
        for (int served = 0; served < connections && !stop_.load();) {
            pollfd entry{listener_.Get(), POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0) {
                continue;
            }
            const int fd = ::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            ++served;
            accepted_.fetch_add(1);
            Connection connection(fd);
            script(connection);
            const std::lock_guard<std::mutex> guard(lock_);
            lines_.insert(lines_.end(), connection.Lines().begin(), connection.Lines().end());
        }
    });
}

ScriptedPeer::~ScriptedPeer()
{
    stop_.store(true);
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::vector<std::string> ScriptedPeer::Lines() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

Certificate MakeSelfSignedCertificate(const std::string& dir)
{
    Certificate made{dir + "/cert.pem", dir + "/key.pem"};
    const std::vector<std::string> args = {"/usr/bin/openssl",
                                           "req",
                                           "-x509",
                                           "-newkey",
                                           "ec",
                                           "-pkeyopt",
                                           "ec_paramgen_curve:prime256v1",
                                           "-nodes",
                                           "-keyout",
                                           made.key,
                                           "-out",
                                           made.cert,
                                           "-days",
                                           "2",
                                           "-subj",
                                           "/CN=localhost",
                                           "-addext",
                                           "subjectAltName=DNS:localhost,IP:127.0.0.1"};
    const pid_t pid = Spawn(args, dir + "/openssl.log");
    if (pid < 0) {
        return {};
    }
    int status = -1;
    if (!WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 30s, 5ms)) {
        EndChild(pid);
        return {};
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? made : Certificate{};
}

void EventsList::AddEntry(const std::string& line)
{
    const std::lock_guard<std::mutex> guard(lock_);
    lines_.push_back(line);
}

std::vector<std::string> EventsList::Lines() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

bool EventsList::WaitForCount(std::size_t count, std::chrono::milliseconds limit) const
{
    return WaitUntil([&] { return Lines().size() >= count; }, limit, 5ms);
}

void WriteMailSection(const std::string& file, const std::map<std::string, std::string>& keys)
{
    for (const auto& [key, value] : keys) {
        kestrel::profile::WriteString(file, kMailSection, key, value);
    }
}

std::string PictureBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i < 256 && size >= 256 ? i : random() & 0xFF);
    }
    return bytes;
}

MailBench::MailBench()
{
    ::mkdir(pictures.c_str(), 0755);
}

void MailBench::Configure(int port, const std::map<std::string, std::string>& keys) const
{
    std::map<std::string, std::string> all = {{"management", "1"},
                                              {"SMTP", "127.0.0.1"},
                                              {"Port", std::to_string(port)},
                                              {"From", "cam@vorlix.test"},
                                              {"To", "owner@vorlix.test"}};
    for (const auto& [key, value] : keys) {
        all[key] = value;
    }
    WriteMailSection(ini, all);
}

std::string MailBench::Picture(const std::string& name, std::size_t size, unsigned seed) const
{
    std::string bytes = PictureBytes(size, seed);
    kestrel::test::WriteFile(pictures + "/" + name, bytes);
    return bytes;
}

std::unique_ptr<MailWorker> MailBench::Worker(MailTimings timings, int maxJpg)
{
    auto worker = std::make_unique<MailWorker>(ini, timings);
    worker->SetEventsWindow(&events);
    worker->SetPictureStore(pictures, maxJpg);
    worker->SetHistorySource([this] { return history; });
    return worker;
}

std::vector<std::string> MailBench::EventLines(std::string_view head) const
{
    std::vector<std::string> found;
    for (const std::string& line : events.Lines()) {
        if (line.starts_with("      ") && std::string_view(line).substr(6).starts_with(head)) {
            found.push_back(line);
        }
    }
    return found;
}

}  // namespace vorlix::test
