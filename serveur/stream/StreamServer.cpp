#include "serveur/stream/StreamServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "libkestrel/error/QXError.h"
#include "libkestrel/trace/TraceLevels.h"
#include "libwicket/SocketMode.h"
#include "serveur/scrambler/PasswordScrambler.h"
#include "serveur/stream/StreamWire.h"

namespace vorlix {

namespace {

constexpr int kSendFlags = MSG_DONTWAIT | MSG_NOSIGNAL;
constexpr int kIdleSleepMs = 100;
constexpr int kStopWaits = 31;
constexpr int kHistoryWaitSteps = 102;
constexpr int kMaxAcceptsPerPass = 64;

std::uint32_t TickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// One send that never waits; -1 with errno on failure. `more`: the bytes
// may wait in the kernel for the body that follows, so a frame header and its
// picture leave in the same segments.
int SendNow(int fd, std::string_view bytes, bool more = false)
{
    ssize_t sent = 0;
    do {
        sent = ::send(fd, bytes.data(), bytes.size(), kSendFlags | (more ? MSG_MORE : 0));
    } while (sent < 0 && errno == EINTR);
    return static_cast<int>(sent);
}

}  // namespace

// Event-list texts gathered under the lock and handed to the camera after it.
struct StreamServer::Events {
    std::vector<const char*> texts;
};

// A client whose picture bytes the stream thread is sending.
struct StreamServer::Pending {
    ClientPtr client;
    std::shared_ptr<const SharedImage> image;
    std::size_t offset = 0;
    int trailerSent = 0;
    bool done = false;
    bool failed = false;  // the client is to be removed
    std::chrono::steady_clock::time_point deadline;
};

StreamServer::StreamServer(StreamCamera& camera) : camera_(camera)
{
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

StreamServer::~StreamServer()
{
    StopStreamServer();
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

void StreamServer::Wake()
{
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    }
}

void StreamServer::Emit(Events& events)
{
    for (const char* text : events.texts) {
        camera_.AddEventText(text);
    }
    events.texts.clear();
}

int StreamServer::StartStreamServer()
{
    if (running_.exchange(true)) {
        const int fd = listenFd_.load();
        return fd > 0 ? fd : 0;
    }
    const StreamSettings settings = camera_.Settings();
    state_.store(0);
    threadEnded_.store(false);
    try {
        thread_ = std::thread(&StreamServer::StreamThread, this);
    } catch (const std::system_error& error) {
        threadEnded_.store(true);
        errno = error.code().value();
        TRACE_ERROR("Probleme lors de la creation du thread (%d)\n", error.code().value());
        return -1;
    }

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        TRACE_WARN("Unable to create socket");
        TRACE_WARN_DETAIL();
    } else {
        const int on = 1;  // a restart must not wait for old connections to time out
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(settings.port));
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        TRACE_WARN("Unable to bind socket");
        TRACE_WARN_DETAIL();
        if (fd >= 0) {
            ::close(fd);
        }
        return 0;
    }
    if (::listen(fd, 1024) != 0) {
        TRACE_WARN("error during listen.");
        ::close(fd);
        return 0;
    }
    {
        const std::lock_guard<std::mutex> guard(lock_);
        clients_.clear();
        lastImagePath_ = camera_.PictureDir() + "/last.jpg";
        listenFd_.store(fd);
    }
    TRACE_TRACE("Vorlix listen on port: %d\n", ListeningPort());
    Wake();
    return fd;
}

int StreamServer::ListeningPort() const
{
    const int fd = listenFd_.load();
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

int StreamServer::CountStreamClients() const
{
    if (!running_.load()) {
        return 0;
    }
    const std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(clients_.size());
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
        for (int wait = 0; wait < kStopWaits && state_.load() > 1 && !threadEnded_.load(); ++wait) {
            QXSleepms(kIdleSleepMs);
        }
        // Every wait of the thread is bounded and checks the stop request, so
        // this join ends; no thread outlives the server.
        thread_.join();
    }
    std::list<ClientPtr> closing;
    int listening = -1;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        closing.swap(clients_);
        listening = listenFd_.exchange(-1);
        for (const ClientPtr& client : closing) {
            client->image.reset();
            client->removed = true;
        }
    }
    for (ClientPtr& client : closing) {
        TRACE_INFO("client has closed (%ld)", static_cast<long>(client->socket));
        client.reset();  // the last holder: closes the socket
    }
    if (listening > 0) {
        ::close(listening);
    }
    state_.store(0);
    running_.store(false);
}

void StreamServer::StreamThread()
{
    threadId_.store(static_cast<long>(::syscall(SYS_gettid)));
    camera_.ApplyStreamThreadPriority();
    TRACE_TRACE("Thread jpg begin");
    try {
        for (;;) {
            const int state = state_.load();
            if (state == 1) {
                FlushFrames();
            } else if (state == 0) {
                Events events;
                const bool admitted = AcceptNewClient(events);
                Emit(events);
                if (admitted) {
                    NotifyNewImage(nullptr);
                }
                const std::vector<ClientPtr> readable = ReadableClients();
                if (!PollRequests(readable)) {
                    IdleWait(readable);
                }
            } else {
                break;
            }
        }
        TRACE_TRACE("Thread jpg stop ");
        int stopping = 2;
        state_.compare_exchange_strong(stopping, 0);
    } catch (...) {
        TRACE_WARN("Thread jpg exception ");
        TRACE_TRACE("Thread jpg end");
    }
    threadEnded_.store(true);
}

bool StreamServer::AcceptNewClient(Events& events)
{
    const std::string password = camera_.Settings().password;
    bool admitted = false;
    const std::lock_guard<std::mutex> guard(lock_);
    const int listening = listenFd_.load();
    if (listening < 0) {
        return false;
    }
    for (int round = 0; round < kMaxAcceptsPerPass; ++round) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(listening, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            break;  // nothing waiting (the listening socket never blocks)
        }
        lastChallenge_ = 0;
        if (!wicket::SetBlocking(fd, false)) {
            TRACE_ERROR("Error on (%d), unable to set no blocking mode to socket", fd);
            TRACE_ERROR_DETAIL();
        } else {
            events.texts.push_back("New client");
            // A header and its body are separate sends: without this the
            // body's last segment would wait for the header's ACK.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            TRACE_TRACE("New client (%d)", fd);
        }
        if (!password.empty() && peer.sin_family == AF_INET) {
            lastChallenge_ = ChallengeFromPeer(peer);
        }
        AddClient(fd, lastChallenge_, !password.empty());
        admitted = admitted || password.empty();
    }
    return admitted;
}

void StreamServer::AddClient(int fd, std::int32_t challenge, bool withPassword)
{
    auto client = std::make_shared<StreamClient>(fd);
    clients_.push_front(client);
    const int sent = SendNow(fd, kResponseHead);
    if (sent != static_cast<int>(kResponseHead.size())) {
        TRACE_WARN("Error on (%d), Send header (%d au lieu de %d)", fd, sent, static_cast<int>(kResponseHead.size()));
        TRACE_WARN_DETAIL();
    } else {
        TRACE_TRACE("(add_client) send (%d bytes) on (%d)", sent, fd);
    }
    if (withPassword) {
        client->challenge = challenge;
        client->passwordState = 1;
        SendPasswordRequest(*client);
    }
}

void StreamServer::SendPasswordRequest(StreamClient& client)
{
    const std::string line = AskPasswordLine(client.challenge);
    const int sent = SendNow(client.socket, line);
    if (sent == static_cast<int>(line.size())) {
        TRACE_TRACE("(AskPassword) send (%d bytes) on (%d)", sent, client.socket);
    } else {
        TRACE_WARN("Error on (%d), Send Ask Password (%d au lieu de %d)", client.socket, sent,
                   static_cast<int>(line.size()));
        TRACE_WARN_DETAIL();
    }
}

void StreamServer::NotifyNewImage(const char* path)
{
    if (!running_.load()) {
        return;
    }
    Events events;
    AcceptNewClient(events);  // a client admitted now is served by this very notification
    Emit(events);
    std::string picture;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (path != nullptr) {
            lastImagePath_.assign(path, ::strnlen(path, 255));
        }
        if (state_.load() != 0) {
            return;  // a flush is pending or the server is stopping
        }
        const bool anyFree =
            std::any_of(clients_.begin(), clients_.end(), [](const ClientPtr& c) { return c->image == nullptr; });
        if (!anyFree) {
            return;
        }
        picture = lastImagePath_;
    }
    const std::shared_ptr<const SharedImage> image = SharedImage::Load(picture);
    if (image == nullptr) {
        TRACE_WARN("Unable to access jpg file=(%s)(%x)", picture.c_str(), static_cast<unsigned>(errno));
        return;
    }
    if (image->Size() <= 0) {
        return;
    }
    const int interval = camera_.Settings().frequencyTransfert;
    const std::lock_guard<std::mutex> guard(lock_);
    if (state_.load() == 0) {
        StartFrames(image, interval);
    }
}

void StreamServer::StartFrames(const std::shared_ptr<const SharedImage>& image, int interval)
{
    const std::uint32_t now = TickCount();
    const std::string header = LiveFrameHeader(image->Size());
    bool flushNeeded = false;
    for (auto it = clients_.begin(); it != clients_.end();) {
        StreamClient& client = **it;
        if (client.passwordState != 0 || client.image != nullptr ||
            (interval != 0 && now - client.lastFrameTick < static_cast<std::uint32_t>(interval))) {
            ++it;
            continue;
        }
        client.lastFrameTick = now;
        client.image = image;
        client.offset = 0;
        const int sent = SendNow(client.socket, header, true);
        if (sent == static_cast<int>(header.size())) {
            TRACE_LEVEL(kestrel::kLevelUser3, "(add_write) send (%d bytes) on (%d)", sent, client.socket);
            flushNeeded = true;
            ++it;
            continue;
        }
        const int error = errno;
        client.lastFrameTick = 0;
        client.image.reset();
        TRACE_WARN("Error on (%d), Send header jpg (%d au lieu de %d)", client.socket, sent,
                   static_cast<int>(header.size()));
        TRACE_WARN_DETAIL();
        if (!wicket::IsWouldBlock(error)) {
            client.removed = true;
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
    if (flushNeeded) {
        int idle = 0;  // never overwrites a stop request
        state_.compare_exchange_strong(idle, 1);
        Wake();
    }
}

void StreamServer::FlushFrames()
{
    for (;;) {
        std::vector<Pending> work;
        {
            const std::lock_guard<std::mutex> guard(lock_);
            for (const ClientPtr& client : clients_) {
                if (client->image != nullptr) {
                    work.push_back(Pending{client, client->image, client->offset, 0, false, false, {}});
                }
            }
            if (work.empty()) {
                int flushing = 1;  // a stop request stays
                state_.compare_exchange_strong(flushing, 0);
                return;
            }
        }
        SendPending(work);  // without the lock: the capture thread goes on
        {
            const std::lock_guard<std::mutex> guard(lock_);
            for (Pending& p : work) {
                p.client->image.reset();  // released, sent or not
                p.client->offset = p.offset;
                if (p.failed) {
                    RemoveClientLocked(p.client);
                }
            }
        }
        if (state_.load() == 2) {
            return;
        }
    }
}

// Sends the bodies and trailers of every pending client side by side, so a
// viewer that does not read delays the others by at most the send time-out.
// Sockets stay in non-blocking mode: a socket that takes nothing is waited
// for with poll, never inside a send.
void StreamServer::SendPending(std::vector<Pending>& work)
{
    const auto start = std::chrono::steady_clock::now();
    for (Pending& p : work) {
        p.deadline = start + kSendTimeout;
    }
    for (;;) {
        std::vector<pollfd> waiting;
        std::vector<Pending*> waitingFor;
        const auto now = std::chrono::steady_clock::now();
        for (Pending& p : work) {
            if (p.done) {
                continue;
            }
            const int fd = p.client->socket;
            const auto size = static_cast<std::size_t>(p.image->Size());
            while (!p.done) {
                // The rest of the body and the trailer in one call.
                std::array<iovec, 2> parts{};
                std::size_t count = 0;
                if (p.offset < size) {
                    parts[count++] = iovec{const_cast<char*>(p.image->Data() + p.offset), size - p.offset};
                }
                const auto trailerAt = static_cast<std::size_t>(p.trailerSent);
                parts[count++] = iovec{const_cast<char*>(kFrameTrailer.data() + trailerAt), 2 - trailerAt};
                msghdr message{};
                message.msg_iov = parts.data();
                message.msg_iovlen = count;
                ssize_t sent = 0;
                do {
                    sent = ::sendmsg(fd, &message, kSendFlags);
                } while (sent < 0 && errno == EINTR);
                const int error = errno;
                TRACE_LEVEL(kestrel::kLevelUser3, "(flush) a send (%d bytes) on (%d)", static_cast<int>(sent), fd);
                if (sent > 0) {
                    const std::size_t body = std::min(static_cast<std::size_t>(sent), size - p.offset);
                    p.offset += body;
                    p.trailerSent += static_cast<int>(static_cast<std::size_t>(sent) - body);
                    p.deadline = now + kSendTimeout;
                    if (p.trailerSent == 2) {
                        TRACE_LEVEL(kestrel::kLevelUser3, "Send (%d bytes,nret=%d) on (%d)", static_cast<int>(size), 2,
                                    fd);
                        p.done = true;
                    }
                    continue;
                }
                if (sent < 0 && wicket::IsWouldBlock(error)) {
                    break;  // wait until the socket takes bytes again
                }
                errno = error;
                if (p.offset < size) {
                    TRACE_WARN("Error on (%d), Send jpg (%d au lieu de %d)", fd, static_cast<int>(sent),
                               static_cast<int>(size));
                    TRACE_WARN_DETAIL();
                    p.failed = true;
                } else {
                    TRACE_WARN("Error on (%d), Send return jpg (%d au lieu de 2)", fd, static_cast<int>(sent));
                    TRACE_WARN_DETAIL();  // kept: the next header tells whether it is gone
                }
                p.done = true;
            }
            if (p.done) {
                continue;
            }
            if (now >= p.deadline) {
                TRACE_WARN("Error on (%d), no byte taken for %d seconds, viewer closed", fd,
                           static_cast<int>(kSendTimeout.count() / 1000));
                p.failed = true;
                p.done = true;
                continue;
            }
            waiting.push_back(pollfd{fd, POLLOUT, 0});
            waitingFor.push_back(&p);
        }
        if (waiting.empty() || state_.load() == 2) {
            return;
        }
        auto soonest = waitingFor.front()->deadline;
        for (const Pending* p : waitingFor) {
            soonest = std::min(soonest, p->deadline);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(soonest - std::chrono::steady_clock::now()).count();
        const int timeout = static_cast<int>(std::clamp<long long>(left + 1, 0, kIdleSleepMs));
        ::poll(waiting.data(), waiting.size(), timeout);
    }
}

std::vector<StreamServer::ClientPtr> StreamServer::ReadableClients()
{
    std::vector<ClientPtr> readable;
    const std::lock_guard<std::mutex> guard(lock_);
    readable.reserve(clients_.size());
    for (const ClientPtr& client : clients_) {
        if (!client->peerClosed) {
            readable.push_back(client);
        }
    }
    return readable;
}

bool StreamServer::PollRequests(const std::vector<ClientPtr>& clients)
{
    if (clients.empty()) {
        return false;
    }
    std::vector<pollfd> entries;
    entries.reserve(clients.size());
    for (const ClientPtr& client : clients) {
        entries.push_back(pollfd{client->socket, POLLIN, 0});
    }
    // One readiness test for all clients at once. It does not wait: the idle
    // sleep that follows a quiet pass wakes for any request itself.
    if (::poll(entries.data(), entries.size(), 0) <= 0) {
        return false;
    }
    bool hadData = false;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        if ((entries[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            continue;
        }
        hadData = true;
        const ClientPtr& client = clients[i];
        std::array<char, kRequestMax> buffer{};
        const ssize_t got = ::recv(client->socket, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got > 0) {
            HandleRequest(client, std::string_view(buffer.data(), static_cast<std::size_t>(got)));
        } else if (got == 0) {
            bool waiting = false;
            {
                const std::lock_guard<std::mutex> guard(lock_);
                waiting = client->passwordState != 0;
                if (waiting) {
                    RemoveClientLocked(client);  // it can neither answer nor be sent to
                }
            }
            client->peerClosed = !waiting;  // an admitted one stays listed until a send to it fails
        } else if (errno != EINTR && !wicket::IsWouldBlock(errno)) {
            RemoveClient(client);
        }
        if (state_.load() == 2) {
            break;
        }
    }
    return hadData;
}

void StreamServer::HandleRequest(const ClientPtr& client, std::string_view received)
{
    const StreamRequest request = ParseRequest(received);
    if (request.password) {
        CheckPassword(client, *request.password);
    }
    if (request.history) {
        bool admitted = false;
        {
            const std::lock_guard<std::mutex> guard(lock_);
            admitted = client->passwordState == 0 && !client->removed;
        }
        if (admitted) {
            SendHistory(client, *request.history);
        }
    }
}

void StreamServer::CheckPassword(const ClientPtr& client, const std::string& answer)
{
    const std::string password = camera_.Settings().password;
    Events events;
    bool waiting = false;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (client->removed) {
            return;
        }
        std::string plain;
        const bool unscrambled = UnscramblePassword(answer, std::to_string(client->challenge), plain, kScrambleSeed);
        if (unscrambled && plain == password) {
            client->passwordState = 0;
            events.texts.push_back("password ok for the new client");
        }
        if (client->passwordState != 0) {
            ++client->passwordState;
            SendPasswordRequest(*client);
            events.texts.push_back("password KO for the new client");
            waiting = true;
        }
    }
    Emit(events);
    if (!waiting) {
        NotifyNewImage(nullptr);
    }
}

void StreamServer::SendHistory(const ClientPtr& client, const std::string& argument)
{
    for (int step = 1;; ++step) {
        {
            const std::lock_guard<std::mutex> guard(lock_);
            if (client->image == nullptr) {
                break;
            }
            if (step >= kHistoryWaitSteps) {
                TRACE_WARN("Error on (%d), on abort le thread pour laisser historique se lancer", client->socket);
                client->image.reset();
                break;
            }
        }
        // This thread is the one that sends bodies: finish the live frame
        // first rather than wait for itself.
        if (state_.load() == 1) {
            FlushFrames();
        } else {
            QXSleepms(10);
        }
        if (state_.load() == 2) {
            return;
        }
    }

    const int shots = camera_.Shots();
    const int modulo = camera_.MaxJpg();
    const int number = HistoryPictureNumber(argument, shots, modulo);
    const std::string path = camera_.PictureDir() + "/vorlix_" + std::to_string(number) + ".jpg";
    const std::shared_ptr<const SharedImage> image = SharedImage::Load(path);
    if (image == nullptr) {
        TRACE_ERROR("Unable to access jpg file=(%s)(%x)", path.c_str(), static_cast<unsigned>(errno));
        return;
    }
    if (image->Size() == 0) {
        return;
    }
    const std::string header = HistoryFrameHeader(shots, modulo, AsctimeText(image->ModificationTime()), image->Size());

    const std::lock_guard<std::mutex> guard(lock_);
    if (client->removed) {
        return;
    }
    client->image = image;
    client->offset = 0;
    const int sent = SendNow(client->socket, header, true);
    if (sent == static_cast<int>(header.size())) {
        TRACE_LEVEL(kestrel::kLevelUser3, "(History) send (%d bytes) on (%d)", sent, client->socket);
        int idle = 0;
        state_.compare_exchange_strong(idle, 1);
        return;
    }
    const int error = errno;
    client->lastFrameTick = 0;
    client->image.reset();
    TRACE_WARN("Error on (%d), Send history header jpg (%d au lieu de %d)", client->socket, sent,
               static_cast<int>(header.size()));
    TRACE_WARN_DETAIL();
    if (!wicket::IsWouldBlock(error)) {
        RemoveClientLocked(client);
    }
}

void StreamServer::IdleWait(const std::vector<ClientPtr>& clients)
{
    std::vector<pollfd> entries;
    entries.reserve(clients.size() + 2);
    entries.push_back(pollfd{wakeFd_, POLLIN, 0});
    const int listening = listenFd_.load();
    if (listening >= 0) {
        entries.push_back(pollfd{listening, POLLIN, 0});
    }
    for (const ClientPtr& client : clients) {
        entries.push_back(pollfd{client->socket, POLLIN, 0});
    }
    // The idle sleep ends early for a new connection, a request or a flush.
    if (::poll(entries.data(), entries.size(), kIdleSleepMs) > 0 && (entries[0].revents & POLLIN) != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
    }
}

void StreamServer::RemoveClientLocked(const ClientPtr& client)
{
    if (client->removed) {
        return;
    }
    client->removed = true;
    client->image.reset();
    clients_.remove(client);
}

void StreamServer::RemoveClient(const ClientPtr& client)
{
    const std::lock_guard<std::mutex> guard(lock_);
    RemoveClientLocked(client);
}

}  // namespace vorlix
