#include "serveur/stream/StreamServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "libkestrel/trace/TraceLevels.h"
#include "libwicket/SocketMode.h"
#include "serveur/stream/StreamHistory.h"
#include "serveur/stream/StreamWire.h"

namespace vorlix {

namespace {

constexpr std::chrono::milliseconds kIdleWait{100};
// What the kernel may hold for one viewer. Left to grow on its own it takes
// megabytes for a viewer that does not read, so a picture would count as
// taken long before the viewer has it, and strangers would pin that much
// memory each.
constexpr int kViewerSendBuffer = 128 * 1024;
// Settings that may change while the server runs ("Frequency Transfert", the
// password) are read again this often.
constexpr std::chrono::seconds kSettingsEvery{1};
constexpr const char* kUnreadablePassword =
    "the stream password (\"Authentification client\") in the settings cannot be read";

// One send that never waits; -1 with errno on failure.
int SendNow(int fd, std::string_view bytes)
{
    ssize_t sent = 0;
    do {
        sent = ::send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return static_cast<int>(sent);
}

std::int32_t ChallengeFor(const wicket::AcceptedPeer& peer)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(peer.port));
    if (::inet_pton(AF_INET, peer.address.c_str(), &address.sin_addr) != 1) {
        return 0;
    }
    return ChallengeFromPeer(address);
}

}  // namespace

StreamServer::StreamServer(StreamCamera& camera, StreamTimings timings)
    : camera_(camera),
      timings_(timings),
      fanout_(timings.frameDeadline),
      gate_(timings.guesses),
      wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

StreamServer::~StreamServer()
{
    StopStreamServer();
}

void StreamServer::Wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_.Get(), &one, sizeof one);
}

void StreamServer::SetOff(std::string reason)
{
    const std::lock_guard<std::mutex> guard(reasonLock_);
    offReason_ = std::move(reason);
}

std::string StreamServer::OffReason() const
{
    const std::lock_guard<std::mutex> guard(reasonLock_);
    return offReason_;
}

int StreamServer::StartStreamServer()
{
    if (running_.exchange(true)) {
        return listening_.load() ? acceptor_.Fd() : 0;
    }
    StreamSettings settings = camera_.Settings();
    if (settings.maxClients < 1 || settings.maxClients > kMaxClientsLimit) {
        TRACE_WARN("Max clients %d outside 1..%d: %d used", settings.maxClients, kMaxClientsLimit, kDefaultMaxClients);
        settings.maxClients = kDefaultMaxClients;
    }
    state_.store(0);
    if (settings.passwordUnreadable) {
        // Fail closed: serving without the password the user set would open
        // the camera to everyone.
        TRACE_WARN("Stream server off: %s; every viewer is refused until it is set again", kUnreadablePassword);
        SetOff(kUnreadablePassword);
        return 0;
    }
    if (!acceptor_.Open(settings.port)) {
        SetOff(acceptor_.Reason());
        return 0;
    }
    settings_ = settings;
    clients_.clear();
    {
        const std::lock_guard<std::mutex> guard(pictureLock_);
        latestPath_ = camera_.PictureDir() + "/last.jpg";
        ++latestSequence_;  // a picture nobody has seen yet
    }
    listeningPort_.store(acceptor_.Port());
    try {
        thread_ = std::thread(&StreamServer::StreamThread, this);
    } catch (const std::system_error& error) {
        acceptor_.Close();
        listeningPort_.store(0);
        SetOff("the stream thread cannot be created");
        errno = error.code().value();
        TRACE_ERROR("Probleme lors de la creation du thread (%d)\n", error.code().value());
        return -1;
    }
    listening_.store(true);
    SetOff({});
    return acceptor_.Fd();
}

void StreamServer::StopStreamServer()
{
    if (!running_.load()) {
        return;
    }
    TRACE_TRACE("Closing active webcam sockets");
    if (thread_.joinable()) {
        state_.store(2);
        Wake();
        TRACE_TRACE("close thread to send jpg (%ld,%ld)", static_cast<long>(thread_.native_handle()), threadId_.load());
        // Every wait of the thread is bounded (kIdleWait) and checks the stop
        // request, so this join ends.
        thread_.join();
    }
    listening_.store(false);
    for (std::unique_ptr<StreamClient>& client : clients_) {
        TRACE_INFO("client has closed (%ld)", static_cast<long>(client->Fd()));
        client.reset();
    }
    clients_.clear();
    clientCount_.store(0);
    acceptor_.Close();
    listeningPort_.store(0);
    if (OffReason().empty()) {
        SetOff("stopped");
    }
    state_.store(0);
    running_.store(false);
}

void StreamServer::NotifyNewImage(const char* path)
{
    if (!listening_.load()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> guard(pictureLock_);
        if (path != nullptr) {
            latestPath_.assign(path, ::strnlen(path, 255));
        }
        ++latestSequence_;
    }
    int idle = 0;  // never overwrites a stop request
    state_.compare_exchange_strong(idle, 1);
    Wake();
}

int StreamServer::CountStreamClients() const
{
    return running_.load() ? clientCount_.load() : 0;
}

void StreamServer::RefreshSettings()
{
    const StreamSettings now = camera_.Settings();
    settings_.password = now.password;
    settings_.passwordUnreadable = now.passwordUnreadable;
    settings_.frequencyTransfert = now.frequencyTransfert;
}

void StreamServer::StreamThread()
{
    threadId_.store(static_cast<long>(::syscall(SYS_gettid)));
    ::pthread_setname_np(::pthread_self(), "vorlix-stream");
    camera_.ApplyStreamThreadPriority();
    TRACE_TRACE("Thread jpg begin");
    try {
        auto nextSettings = StreamClock::now() + kSettingsEvery;
        while (state_.load() != 2) {
            const auto now = StreamClock::now();
            if (now >= nextSettings) {
                RefreshSettings();
                nextSettings = now + kSettingsEvery;
            }
            {
                const std::lock_guard<std::mutex> guard(pictureLock_);
                fanout_.Offer(latestPath_, latestSequence_);
            }
            StreamClock::time_point wakeAt = std::min(now + kIdleWait, nextSettings);
            Serve(now, wakeAt);
            RemoveClosing();
            WaitAndHandle(wakeAt);
            RemoveClosing();
        }
        TRACE_TRACE("Thread jpg stop ");
        int stopping = 2;
        state_.compare_exchange_strong(stopping, 0);
    } catch (...) {
        TRACE_WARN("Thread jpg exception ");
        TRACE_TRACE("Thread jpg end");
    }
}

void StreamServer::Serve(StreamClock::time_point now, StreamClock::time_point& wakeAt)
{
    for (const std::unique_ptr<StreamClient>& owned : clients_) {
        StreamClient& client = *owned;
        if (client.closing) {
            continue;
        }
        if (client.challengeAt) {
            if (*client.challengeAt <= now) {
                const StreamClock::time_point slot = gate_.ChallengeSlot(client.address, now);
                if (slot <= now) {
                    client.challengeAt.reset();
                    SendPasswordRequest(client);
                } else {
                    client.challengeAt = slot;
                }
            }
            if (client.challengeAt) {
                wakeAt = std::min(wakeAt, *client.challengeAt);
            }
            continue;
        }
        if (!client.Admitted()) {
            continue;
        }
        if (!client.frame && client.historyRequest) {
            // History answers go before live frames and ignore their pace.
            const std::string argument = std::move(*client.historyRequest);
            client.historyRequest.reset();
            if (std::optional<OutgoingFrame> frame = HistoryFrame(camera_, argument, fanout_.Spare())) {
                frame->deadline = now + timings_.frameDeadline;
                client.closing = fanout_.Begin(client, std::move(*frame)) == PictureFanout::Progress::kFailed;
            }
        }
        if (!client.frame && !client.closing) {
            client.closing = fanout_.StartLive(client, settings_.frequencyTransfert, now, wakeAt) ==
                             PictureFanout::Progress::kFailed;
        }
        if (!client.frame || client.closing) {
            continue;
        }
        if (now >= client.frame->deadline) {
            TRACE_WARN("Error on (%d), picture not taken within %lld ms, viewer %s:%d closed", client.Fd(),
                       static_cast<long long>(timings_.frameDeadline.count()), client.address.c_str(), client.port);
            // Reset rather than close: the bytes still queued for it would
            // otherwise keep the connection going at the viewer's pace.
            const linger reset{1, 0};
            ::setsockopt(client.Fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            client.closing = true;
            continue;
        }
        wakeAt = std::min(wakeAt, client.frame->deadline);
    }
}

void StreamServer::WaitAndHandle(StreamClock::time_point wakeAt)
{
    std::vector<pollfd> entries;
    std::vector<StreamClient*> polled;
    entries.reserve(clients_.size() + 2);
    polled.reserve(clients_.size());
    entries.push_back(pollfd{wake_.Get(), POLLIN, 0});
    const auto now = StreamClock::now();
    const bool pollListener = acceptor_.WantsPoll(now);
    if (pollListener) {
        entries.push_back(pollfd{acceptor_.Fd(), POLLIN, 0});
    } else if (acceptor_.Listening()) {
        wakeAt = std::min(wakeAt, acceptor_.PausedUntil());  // a descriptor shortage pause
    }
    const std::size_t firstClient = entries.size();
    for (const std::unique_ptr<StreamClient>& client : clients_) {
        // A viewer waiting out a wrong answer's delay is not read: its next
        // answer counts only after its next password request. Its closing is
        // still seen.
        short events = client->challengeAt ? POLLRDHUP : POLLIN;
        if (client->frame) {
            events |= POLLOUT;
        }
        entries.push_back(pollfd{client->Fd(), events, 0});
        polled.push_back(client.get());
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now).count();
    const int timeout = static_cast<int>(std::clamp<long long>(left, 0, kIdleWait.count()));
    if (::poll(entries.data(), entries.size(), timeout) <= 0) {
        return;
    }
    if ((entries[0].revents & POLLIN) != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wake_.Get(), &count, sizeof count);
    }
    for (std::size_t i = 0; i < polled.size(); ++i) {
        StreamClient& client = *polled[i];
        const short revents = entries[firstClient + i].revents;
        if ((revents & POLLOUT) != 0 && client.frame && !client.closing) {
            client.closing = fanout_.Continue(client) == PictureFanout::Progress::kFailed;
        }
        if (client.closing || (revents & (POLLIN | POLLHUP | POLLERR | POLLRDHUP)) == 0) {
            continue;
        }
        if (client.challengeAt) {
            client.closing = true;  // closed while waiting for its password request
            continue;
        }
        ReadRequest(client);
        if (state_.load() == 2) {
            return;
        }
    }
    if (pollListener && (entries[1].revents & POLLIN) != 0) {
        AcceptNewClients();
    }
}

void StreamServer::AcceptNewClients()
{
    const StreamAcceptor::Refusal refuse =
        settings_.passwordUnreadable ? StreamAcceptor::Refusal::kAll : StreamAcceptor::Refusal::kNone;
    for (wicket::AcceptedPeer& peer : acceptor_.AcceptWaiting(
             clients_.size(), static_cast<std::size_t>(settings_.maxClients), refuse, kUnreadablePassword)) {
        AddClient(std::move(peer));
    }
}

void StreamServer::AddClient(wicket::AcceptedPeer peer)
{
    const int fd = peer.fd.Get();
    // Frames leave as soon as they are written: without this the short last
    // segment of a frame would wait for the acknowledgement of the one before.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kViewerSendBuffer, sizeof kViewerSendBuffer);
    camera_.AddEventText("New client");
    TRACE_TRACE("New client (%d)", fd);
    const bool withPassword = !settings_.password.empty();
    const std::int32_t challenge = withPassword ? ChallengeFor(peer) : 0;
    clients_.push_front(std::make_unique<StreamClient>(std::move(peer.fd), std::move(peer.address), peer.port));
    clientCount_.store(static_cast<int>(clients_.size()));
    StreamClient& client = *clients_.front();

    const int sent = SendNow(fd, kResponseHead);
    if (sent != static_cast<int>(kResponseHead.size())) {
        TRACE_WARN("Error on (%d), Send header (%d au lieu de %d)", fd, sent, static_cast<int>(kResponseHead.size()));
        TRACE_WARN_DETAIL();
    } else {
        TRACE_TRACE("(add_client) send (%d bytes) on (%d)", sent, fd);
    }
    if (!withPassword) {
        return;  // admitted: it gets the last picture at once (it has seen none)
    }
    client.challenge = challenge;
    client.passwordState = 1;
    const auto now = StreamClock::now();
    const StreamClock::time_point slot = gate_.ChallengeSlot(client.address, now);
    if (slot <= now) {
        SendPasswordRequest(client);
    } else {
        client.challengeAt = slot;  // this address guessed wrong lately
    }
}

void StreamServer::SendPasswordRequest(StreamClient& client)
{
    const std::string line = AskPasswordLine(client.challenge);
    const int sent = SendNow(client.Fd(), line);
    if (sent == static_cast<int>(line.size())) {
        TRACE_TRACE("(AskPassword) send (%d bytes) on (%d)", sent, client.Fd());
    } else {
        TRACE_WARN("Error on (%d), Send Ask Password (%d au lieu de %d)", client.Fd(), sent,
                   static_cast<int>(line.size()));
        TRACE_WARN_DETAIL();
    }
}

void StreamServer::ReadRequest(StreamClient& client)
{
    std::array<char, kRequestMax> buffer{};
    const ssize_t got = ::recv(client.Fd(), buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got == 0) {
        // The viewer closed: nothing more will come, and a closed viewer left
        // in the list would hold its descriptor until a send to it fails.
        TRACE_TRACE("Client closed (%d)", client.Fd());
        client.closing = true;
        return;
    }
    if (got < 0) {
        client.closing = errno != EINTR && !wicket::IsWouldBlock(errno);
        return;
    }
    const StreamRequest request = ParseRequest(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    if (request.password) {
        CheckPassword(client, *request.password);
    }
    if (request.history && client.Admitted() && !client.closing) {
        client.historyRequest = *request.history;  // a newer request replaces one not yet answered
    }
}

void StreamServer::CheckPassword(StreamClient& client, const std::string& answer)
{
    const auto now = StreamClock::now();
    switch (gate_.Check(client, answer, settings_.password, now)) {
        case PasswordGate::Verdict::kRight:
            camera_.AddEventText("password ok for the new client");
            client.pictureSeen = 0;  // the last picture at once
            break;
        case PasswordGate::Verdict::kIgnored:
            client.pictureSeen = 0;
            break;
        case PasswordGate::Verdict::kWrong: {
            camera_.AddEventText("password KO for the new client");
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*client.challengeAt - now);
            TRACE_WARN("Wrong password from %s:%d (%d of %d), next request in %lld ms", client.address.c_str(),
                       client.port, client.passwordState - 1, gate_.Limits().wrongAnswersBeforeClose,
                       static_cast<long long>(wait.count()));
            break;
        }
        case PasswordGate::Verdict::kClose:
            camera_.AddEventText("password KO for the new client");
            TRACE_WARN("Error on (%d), %d wrong passwords from %s:%d, viewer closed", client.Fd(),
                       client.passwordState - 1, client.address.c_str(), client.port);
            client.closing = true;
            break;
    }
}

void StreamServer::RemoveClosing()
{
    clients_.remove_if([](const std::unique_ptr<StreamClient>& client) { return client->closing; });
    clientCount_.store(static_cast<int>(clients_.size()));
    bool inFlight = std::any_of(clients_.begin(), clients_.end(),
                                [](const std::unique_ptr<StreamClient>& client) { return client->frame; });
    {
        const std::lock_guard<std::mutex> guard(pictureLock_);
        inFlight = inFlight || latestSequence_ != fanout_.Sequence();  // a picture not looked at yet
    }
    int current = state_.load();
    while (current != 2 && !state_.compare_exchange_weak(current, inFlight ? 1 : 0)) {
    }
}

}  // namespace vorlix
