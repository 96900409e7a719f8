#include "serveur/web/WebServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/PictureNames.h"
#include "serveur/web/DigestAnswer.h"
#include "serveur/web/LiveViewer.h"
#include "serveur/web/WebReplies.h"

namespace vorlix::web {

namespace {

constexpr const char* kUser = "vorlix";
constexpr unsigned kNonceSeconds = 300;
constexpr std::size_t kStreamBlock = std::size_t{256} * 1024;
constexpr std::size_t kExtraConnections = 32;  // beyond the viewers: pages, pictures, answers
constexpr intptr_t kPerAddressExtra = 8;
constexpr off_t kMaxPictureBytes = off_t{64} * 1024 * 1024;
constexpr std::chrono::milliseconds kSnapshotWait{3000};
using Clock = std::chrono::steady_clock;

// The right password on a nonce the library will not take again (already
// used, or the same nonce given to two browsers in one millisecond).
bool RightOnSpentNonce(MHD_Connection* connection, bool head, const std::string& realm, const std::string& password)
{
    const char* header = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
    if (header == nullptr) {
        return false;
    }
    const std::optional<DigestAnswer> answer = ParseDigestAnswer(header);
    return answer && answer->username == kUser && answer->realm == realm &&
           MadeWithPassword(*answer, head ? MHD_HTTP_METHOD_HEAD : MHD_HTTP_METHOD_GET, password);
}

}  // namespace

struct WebServer::Request {
    // The password was right: a parked request is not asked again (its
    // nonce count is spent).
    bool allowed = false;
    // A wrong password: the 401 goes out at answerAt.
    bool refused = false;
    Clock::time_point answerAt;
    // A snapshot: a picture newer than `after` wanted until giveUpAt.
    std::unique_ptr<LiveFrames::Watch> watch;
    std::uint64_t after = 0;
    Clock::time_point giveUpAt;
};

struct WebServer::Glue {
    static MHD_Result Access(void* self, MHD_Connection* connection, const char* url, const char* method,
                             const char* /*version*/, const char* /*upload*/, std::size_t* uploadSize, void** state)
    {
        const bool get = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0;
        const bool head = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
        if (*state == nullptr && (get || head)) {
            // The head is in; the answer comes with the next call (again
            // after each time the connection was parked).
            *state = std::make_unique<Request>().release();
            return MHD_YES;
        }
        if (*uploadSize != 0) {
            return MHD_NO;  // a GET with a body: nothing here reads one
        }
        if (!get && !head) {
            // Refused before any body is read.
            *uploadSize = 0;
            MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
            if (response != nullptr) {
                MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
            }
            return Queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, response, nullptr);
        }
        return static_cast<MHD_Result>(
            static_cast<WebServer*>(self)->Answer(connection, url, head, *static_cast<Request*>(*state)));
    }

    static void Completed(void* /*self*/, MHD_Connection* /*connection*/, void** state,
                          MHD_RequestTerminationCode /*code*/)
    {
        const std::unique_ptr<Request> ended(static_cast<Request*>(*state));
        *state = nullptr;
    }

    static ssize_t ReadLive(void* stream, std::uint64_t /*position*/, char* out, std::size_t room)
    {
        return static_cast<LiveViewer*>(stream)->Read(out, room);
    }
    static void EndLive(void* stream) { std::unique_ptr<LiveViewer> ended(static_cast<LiveViewer*>(stream)); }

    static std::size_t Unescape(void* /*self*/, MHD_Connection* /*connection*/, char* text)
    {
        return UnescapeInPlace(text);
    }

    static void Connected(void* self, MHD_Connection* connection, void** /*socketState*/,
                          MHD_ConnectionNotificationCode code)
    {
        if (code != MHD_CONNECTION_NOTIFY_STARTED) {
            return;
        }
        const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (info != nullptr) {
            const int size = static_cast<WebServer*>(self)->options_.sendBuffer;
            if (size <= 0) {
                return;
            }
            ::setsockopt(info->connect_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        }
    }
};

WebServer::WebServer(LiveFrames& frames, StateSource state)
    : frames_(frames), state_(std::move(state)), parking_(frames)
{
}

WebServer::~WebServer()
{
    Stop();
}

std::shared_ptr<const WebSite> WebServer::Site() const
{
    const std::lock_guard lock(mutex_);
    return site_;
}

void WebServer::SetSite(std::shared_ptr<const WebSite> site)
{
    const std::lock_guard lock(mutex_);
    site_ = std::move(site);
}

bool WebServer::Start(const WebServerOptions& options, std::shared_ptr<const WebSite> site)
{
    Stop();
    options_ = options;
    guard_.SetDelays(options.firstWrongDelay, options.mostWrongDelay);
    SetSite(std::move(site));
    realm_ = "Vorlix camera " + std::to_string(options.camera);

    const WebSettings& s = options.settings;
    // One thread polls every connection (epoll here); a connection that
    // waits is suspended and resumed, so no thread sleeps per viewer.
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    sockaddr_storage address{};
    if (s.bind.empty()) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        v4->sin_port = htons(static_cast<std::uint16_t>(s.port));
    } else if (auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
               ::inet_pton(AF_INET, s.bind.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(s.port));
    } else if (auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
               ::inet_pton(AF_INET6, s.bind.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(s.port));
        flags |= MHD_USE_IPv6;
    } else {
        TRACE_ERROR("Web view not started: \"Bind\" is not an address (%s)", s.bind.c_str());
        return false;
    }

    if (s.Https()) {
        auto certificate = ReadPem(s.certificate);
        auto key = ReadPem(s.key);
        if (!certificate || !key) {
            // Never fall back to plain HTTP when HTTPS was asked for.
            TRACE_ERROR("Web view not started: cannot read the certificate %s or the key %s", s.certificate.c_str(),
                        s.key.c_str());
            return false;
        }
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
            TRACE_ERROR("Web view not started: this libmicrohttpd has no TLS");
            return false;
        }
        certificate_ = std::move(*certificate);
        key_ = std::move(*key);
        flags |= MHD_USE_TLS;
    }
    nonceRandom_.assign(32, '\0');
    if (::getrandom(nonceRandom_.data(), nonceRandom_.size(), 0) != static_cast<ssize_t>(nonceRandom_.size())) {
        TRACE_ERROR("Web view not started: no random bytes for the password nonces");
        return false;
    }

    const unsigned connections = static_cast<unsigned>(s.maxViewers) + kExtraConnections;
    std::vector<MHD_OptionItem> items = {
        // First, so that every message of the library comes through it.
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&LogFromLibrary), this},
        {MHD_OPTION_SOCK_ADDR, 0, &address},
        {MHD_OPTION_CONNECTION_LIMIT, connections, nullptr},
        // One address cannot take every connection.
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(s.maxViewers) + kPerAddressExtra, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(options.stallLimit.count()), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, intptr_t{32} * 1024, nullptr},
        {MHD_OPTION_THREAD_STACK_SIZE, intptr_t{512} * 1024, nullptr},
        {MHD_OPTION_LISTEN_BACKLOG_SIZE, 64, nullptr},
        {MHD_OPTION_DIGEST_AUTH_RANDOM, static_cast<intptr_t>(nonceRandom_.size()), nonceRandom_.data()},
        {MHD_OPTION_NONCE_NC_SIZE, 1024, nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Glue::Connected), this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Glue::Completed), this},
        {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&Glue::Unescape), this},
    };
    if (s.Https()) {
        items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, certificate_.data()});
        items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, key_.data()});
    }
    items.push_back({MHD_OPTION_END, 0, nullptr});
    parking_.Open();
    daemon_ = MHD_start_daemon(flags, static_cast<std::uint16_t>(s.port), nullptr, nullptr, &Glue::Access, this,
                               MHD_OPTION_ARRAY, items.data(), MHD_OPTION_END);
    if (daemon_ == nullptr) {
        parking_.Close();
        TRACE_ERROR("Web view not started on port %d (in use, or the certificate refused)", s.port);
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info != nullptr ? info->port : s.port;
    TRACE_INFO("Web view on %s://%s:%d/ (%s)", s.Https() ? "https" : "http", s.bind.empty() ? "*" : s.bind.c_str(),
               port_, options.password.empty() ? "open to anyone who can reach the port" : "password asked");
    return true;
}

void WebServer::Stop()
{
    if (daemon_ == nullptr) {
        return;
    }
    // Every waiting connection comes back and is answered or ended at once;
    // none is parked again, and the library stops with none suspended.
    parking_.Close();
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    port_ = 0;
    TRACE_INFO("Web view stopped");
}

std::optional<int> WebServer::Challenge(MHD_Connection* connection, bool head, Request& request)
{
    const std::string& password = options_.password;
    if (password.empty() || request.allowed) {
        return std::nullopt;
    }
    auto fail = [&](bool stale) {
        const std::string body = "401 Unauthorized\n";
        MHD_Response* response =
            MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
        if (response == nullptr) {
            return static_cast<int>(MHD_NO);
        }
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
        const MHD_Result result = MHD_queue_auth_fail_response2(connection, realm_.c_str(), realm_.c_str(), response,
                                                                stale ? MHD_YES : MHD_NO, MHD_DIGEST_ALG_MD5);
        MHD_destroy_response(response);
        return static_cast<int>(result);
    };
    if (request.refused) {
        // Back from the wrong answer's delay (or cut short by a stop).
        if (parking_.Park(connection, std::nullopt, request.answerAt) == ParkedConnections::Outcome::kParked) {
            return MHD_YES;
        }
        return fail(false);
    }
    char* user = MHD_digest_auth_get_username(connection);
    if (user == nullptr) {
        return fail(false);  // no answer yet: the browser asks the person
    }
    MHD_free(user);
    const int verdict =
        MHD_digest_auth_check2(connection, realm_.c_str(), kUser, password.c_str(), kNonceSeconds, MHD_DIGEST_ALG_MD5);
    if (verdict == MHD_YES) {
        request.allowed = true;
        return std::nullopt;
    }
    if (verdict == MHD_INVALID_NONCE || RightOnSpentNonce(connection, head, realm_, password)) {
        return fail(true);  // a nonce to renew: the browser answers again by itself
    }
    const std::string peer = PeerAddress(connection);
    const GuessCost cost = guard_.Wrong(peer);
    if (cost.failures > 1) {
        TRACE_WARN("Web view: wrong password from %s (%d in a row), answered after %lld ms", peer.c_str(),
                   cost.failures, static_cast<long long>(cost.delay.count()));
    } else {
        TRACE_INFO("Web view: wrong password from %s", peer.c_str());
    }
    // The delay keeps this connection alone waiting, not the server.
    request.refused = true;
    request.answerAt = Clock::now() + cost.delay;
    if (parking_.Park(connection, std::nullopt, request.answerAt) == ParkedConnections::Outcome::kParked) {
        return MHD_YES;
    }
    return fail(false);
}

int WebServer::Answer(MHD_Connection* connection, const std::string& url, bool head, Request& request)
{
    if (auto refused = Challenge(connection, head, request)) {
        return *refused;
    }
    const std::shared_ptr<const WebSite> site = Site();
    if (url == "/" || url == "/index.html") {
        return QueueText(connection, MHD_HTTP_OK, RenderPage(state_(), site->words), "text/html; charset=utf-8");
    }
    if (url == "/events.json") {
        return QueueText(connection, MHD_HTTP_OK, EventsJson(state_(), site->words), "application/json; charset=utf-8");
    }
    if (url == "/live.mjpg") {
        if (head) {
            return QueueText(connection, MHD_HTTP_OK, {}, "multipart/x-mixed-replace; boundary=vorlixframe");
        }
        return AnswerLive(connection);
    }
    if (url == "/snapshot.jpg") {
        return AnswerSnapshot(connection, request);
    }
    if (const std::optional<int> number = PictureNumberOf(url, site->maxJpg)) {
        return AnswerPicture(connection, *number, *site);
    }
    return QueueError(connection, MHD_HTTP_NOT_FOUND, "404 Not Found");
}

int WebServer::AnswerLive(MHD_Connection* connection)
{
    if (viewers_.fetch_add(1) >= options_.settings.maxViewers) {
        viewers_.fetch_sub(1);
        TRACE_INFO("Web view: live viewer refused from %s, %d already watch", PeerAddress(connection).c_str(),
                   options_.settings.maxViewers);
        return QueueError(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "503 Too many viewers");
    }
    auto stream = std::make_unique<LiveViewer>(frames_, parking_, connection, viewers_);
    MHD_Response* response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlock, &Glue::ReadLive,
                                                               stream.get(), &Glue::EndLive);
    if (response == nullptr) {
        return MHD_NO;
    }
    static_cast<void>(stream.release());  // the library ends it through EndLive
    // The stream ends only with the connection: no chunk framing, so each
    // part goes from the response's block to the socket in one piece.
    MHD_set_response_options(response, MHD_RF_HTTP_1_0_COMPATIBLE_STRICT, MHD_RO_END);
    const std::string type = "multipart/x-mixed-replace; boundary=" + std::string(kMjpegBoundary);
    return Queue(connection, MHD_HTTP_OK, response, type.c_str());
}

int WebServer::AnswerSnapshot(MHD_Connection* connection, Request& request)
{
    if (!request.watch) {
        // A picture made after the request, not one left from the last viewer.
        request.watch = std::make_unique<LiveFrames::Watch>(frames_);
        request.after = frames_.NewestSequence();
        request.giveUpAt = Clock::now() + kSnapshotWait;
    }
    std::shared_ptr<const LiveJpeg> picture;
    // Parking answers "ready" only for a new picture or the moment passed.
    for (int round = 0; round < 2 && !picture; ++round) {
        if (std::shared_ptr<const LiveJpeg> newest = frames_.Newest(); newest && newest->sequence > request.after) {
            picture = std::move(newest);
            break;
        }
        const auto outcome = parking_.Park(connection, request.after, request.giveUpAt);
        if (outcome == ParkedConnections::Outcome::kParked) {
            return MHD_YES;
        }
        if (outcome == ParkedConnections::Outcome::kClosed) {
            break;
        }
    }
    request.watch.reset();
    if (!picture) {
        return QueueError(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "503 No picture: the camera is not capturing");
    }
    const auto& bytes = picture->bytes;
    MHD_Response* response =
        MHD_create_response_from_buffer(bytes.size(), const_cast<std::uint8_t*>(bytes.data()), MHD_RESPMEM_MUST_COPY);
    return Queue(connection, MHD_HTTP_OK, response, "image/jpeg");
}

int WebServer::AnswerPicture(MHD_Connection* connection, int number, const WebSite& site)
{
    const std::string path = PicturePath(site.pictureDir, number);
    // No link is followed: only the picture files themselves are served.
    kestrel::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat info {};
    if (!fd || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxPictureBytes) {
        return QueueError(connection, MHD_HTTP_NOT_FOUND, "404 Not Found");
    }
    MHD_Response* response = MHD_create_response_from_fd(static_cast<std::size_t>(info.st_size), fd.Get());
    if (response == nullptr) {
        return MHD_NO;
    }
    static_cast<void>(fd.Release());  // the response closes it
    return Queue(connection, MHD_HTTP_OK, response, "image/jpeg");
}

}  // namespace vorlix::web
