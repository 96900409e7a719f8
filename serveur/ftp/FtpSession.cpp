#include "serveur/ftp/FtpSession.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "libkestrel/error/QXError.h"
#include "libkestrel/framework/UniqueFile.h"

namespace vorlix::ftp {

namespace {

// How often a running operation looks at the abort flag.
constexpr int kAbortPollMs = 100;

struct CurlSlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, CurlSlistDeleter>;

using FilePtr = kestrel::UniqueFile;

// The server turned the request down with a reply: the connection is fine.
bool RefusedByServer(int code)
{
    switch (code) {
        case CURLE_UPLOAD_FAILED:
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_REMOTE_FILE_NOT_FOUND:
        case CURLE_REMOTE_DISK_FULL:
        case CURLE_REMOTE_FILE_EXISTS:
        case CURLE_QUOTE_ERROR:
        case CURLE_FTP_COULDNT_SET_TYPE:
        case CURLE_URL_MALFORMAT:
            return true;
        default:
            return false;
    }
}

long WholeSeconds(std::chrono::milliseconds ms)
{
    return std::max<long>(1, static_cast<long>((ms.count() + 999) / 1000));
}

void InitialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

struct FtpSession::Handles {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    SlistPtr quote;
    FilePtr upload;
    ~Handles()
    {
        if (easy != nullptr) {
            curl_easy_cleanup(easy);
        }
        if (multi != nullptr) {
            curl_multi_cleanup(multi);  // closes the pass's connection (QUIT)
        }
    }
};

struct FtpSession::Callbacks {
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user)
    {
        auto* self = static_cast<FtpSession*>(user);
        self->reply_.Feed(std::string_view(data, size * count));
        return size * count;
    }

    static curl_socket_t OnOpenSocket(void* user, curlsocktype /*purpose*/, curl_sockaddr* address)
    {
        auto* self = static_cast<FtpSession*>(user);
        const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (fd >= 0) {
            self->sockets_.insert(fd);
        }
        return fd >= 0 ? fd : CURL_SOCKET_BAD;
    }

    static int OnCloseSocket(void* user, curl_socket_t fd)
    {
        auto* self = static_cast<FtpSession*>(user);
        self->sockets_.erase(fd);
        return ::close(fd);
    }
};

FtpSession::FtpSession(const std::atomic<bool>& abort, FtpTimeouts timeouts) : abort_(abort), timeouts_(timeouts) {}

FtpSession::~FtpSession()
{
    if (abort_.load()) {
        DropConnections();
    }
    handles_.reset();
}

void FtpSession::DropConnections()
{
    // A shut socket fails every read and write at once, so closing the
    // connection cannot wait for a server that has gone quiet.
    for (const int fd : sockets_) {
        ::shutdown(fd, SHUT_RDWR);
    }
}

FtpOutcome FtpSession::Open()
{
    InitialiseCurlOnce();
    auto handles = std::make_unique<Handles>();
    handles->easy = curl_easy_init();
    handles->multi = curl_multi_init();
    if (handles->easy == nullptr || handles->multi == nullptr) {
        return FtpOutcome{FtpOutcome::Kind::ConnectionLost, ENOMEM, ErrorDescription(ENOMEM)};
    }
    CURL* easy = handles->easy;
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Vorlix");
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText_);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Callbacks::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &Callbacks::OnOpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &Callbacks::OnCloseSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, this);
    // The remote name goes whole into STOR, relative to the log-in directory.
    curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count()));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, WholeSeconds(timeouts_.stall));
    curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, WholeSeconds(timeouts_.stall));
    handles_ = std::move(handles);
    return {};
}

FtpOutcome FtpSession::Connect(const FtpEndpoint& endpoint)
{
    CURL* easy = handles_->easy;
    serverUrl_ = endpoint.serverUrl;
    if (endpoint.proxy) {
        // The whole dialogue, data connections too, goes through the proxy's tunnel.
        const std::string proxy = "http://" + *endpoint.proxy;
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPPROXYTUNNEL, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");  // no proxy from the environment either
    }
    if (!endpoint.login.empty()) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, endpoint.login.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, endpoint.password.c_str());
    }
    ResetOperation();
    curl_easy_setopt(easy, CURLOPT_URL, serverUrl_.c_str());
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);  // log in, transfer nothing
    FtpOutcome outcome = Perform();
    if (!outcome.Ok() && outcome.kind != FtpOutcome::Kind::Aborted) {
        outcome.kind = FtpOutcome::Kind::ConnectionLost;
    }
    return outcome;
}

FtpOutcome FtpSession::Put(const std::string& localPath, const std::string& remoteName)
{
    FilePtr file(std::fopen(localPath.c_str(), "rbe"));
    struct stat info {};
    if (!file || ::fstat(::fileno(file.get()), &info) != 0) {
        const int err = errno;
        return FtpOutcome{FtpOutcome::Kind::LocalFile, err, ErrorDescription(static_cast<unsigned>(err))};
    }
    CURL* easy = handles_->easy;
    ResetOperation();
    const std::string url = FileUrl(serverUrl_, remoteName);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy, CURLOPT_READDATA, file.get());
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(info.st_size));
    handles_->upload = std::move(file);
    FtpOutcome outcome = Perform();
    curl_easy_setopt(easy, CURLOPT_READDATA, nullptr);
    handles_->upload.reset();
    return outcome;
}

void FtpSession::CreateDirectories(const std::vector<std::string>& names)
{
    curl_slist* list = nullptr;
    for (const std::string& name : names) {
        if (const auto command = MakeDirectoryCommand(name)) {
            curl_slist* grown = curl_slist_append(list, command->c_str());
            if (grown == nullptr) {
                break;
            }
            list = grown;
        }
    }
    SlistPtr commands(list);
    if (!commands) {
        return;
    }
    CURL* easy = handles_->easy;
    ResetOperation();
    curl_easy_setopt(easy, CURLOPT_URL, serverUrl_.c_str());
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(easy, CURLOPT_QUOTE, commands.get());
    handles_->quote = std::move(commands);
    (void)Perform();  // each MKD is marked "*": a refusal does not stop the next one
    curl_easy_setopt(easy, CURLOPT_QUOTE, nullptr);
    handles_->quote.reset();
}

void FtpSession::ResetOperation()
{
    CURL* easy = handles_->easy;
    curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(easy, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
    errorText_[0] = '\0';
}

FtpOutcome FtpSession::Perform()
{
    if (abort_.load()) {
        return FtpOutcome{FtpOutcome::Kind::Aborted, CURLE_ABORTED_BY_CALLBACK, "Stopped"};
    }
    CURL* easy = handles_->easy;
    CURLM* multi = handles_->multi;
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        return Failure(CURLE_FAILED_INIT);
    }
    int result = CURLE_OK;
    bool aborted = false;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int queued = 0;
            result = CURLE_GOT_NOTHING;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                    result = message->data.result;
                }
            }
            break;
        }
        if (abort_.load()) {
            aborted = true;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, kAbortPollMs, nullptr);
    }
    if (aborted) {
        DropConnections();
    }
    curl_multi_remove_handle(multi, easy);
    if (aborted) {
        return FtpOutcome{FtpOutcome::Kind::Aborted, CURLE_ABORTED_BY_CALLBACK, "Stopped"};
    }
    return result == CURLE_OK ? FtpOutcome{} : Failure(result);
}

FtpOutcome FtpSession::Failure(int curlCode)
{
    FtpOutcome outcome;
    outcome.kind = RefusedByServer(curlCode) ? FtpOutcome::Kind::Refused : FtpOutcome::Kind::ConnectionLost;
    long osError = 0;
    curl_easy_getinfo(handles_->easy, CURLINFO_OS_ERRNO, &osError);
    if (osError != 0) {
        // The network's own reason reads best, and it becomes the thread's last error.
        outcome.code = static_cast<int>(osError);
        ErrorSysSet(static_cast<unsigned>(osError));
        outcome.text = ErrorDescription(static_cast<unsigned>(osError));
    } else {
        outcome.code = curlCode;
        outcome.text = errorText_[0] != '\0' ? errorText_ : curl_easy_strerror(static_cast<CURLcode>(curlCode));
    }
    return outcome;
}

}  // namespace vorlix::ftp
