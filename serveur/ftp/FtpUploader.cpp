#include "serveur/ftp/FtpUploader.h"

#include <cerrno>
#include <exception>
#include <system_error>
#include <utility>

#include "libkestrel/error/QXError.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/CameraSettings.h"
#include "serveur/core/ThreadPriority.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::ftp {

namespace {

// Where to connect, or the reason the settings cannot make a connection.
struct Target {
    FtpEndpoint endpoint;
    int errorCode = 0;
};

Target TargetFromSettings(const FtpSettings& s)
{
    Target target;
    if (s.service != kServiceFtp) {
        target.errorCode = EPROTONOSUPPORT;
        return target;
    }
    const auto url = ServerUrl(s.server, s.port);
    if (!url) {
        target.errorCode = EINVAL;
        return target;
    }
    std::string password;
    if (!s.password.empty() && !UnscramblePassword(s.password, kPasswordKey, password)) {
        TRACE_WARN("The FTP password in the settings is not scrambled: it is sent as it unscrambles");
    }
    if (!SafeCredential(s.login) || !SafeCredential(password)) {
        target.errorCode = EINVAL;
        return target;
    }
    target.endpoint.serverUrl = *url;
    target.endpoint.proxy = ProxyText(s.ifproxy, s.proxy, s.proxyPort);
    target.endpoint.login = s.login;
    target.endpoint.password = std::move(password);
    return target;
}

}  // namespace

FtpUploader::FtpUploader(std::string settingsFile, std::string pictureDir, FtpOptions options)
    : settingsFile_(std::move(settingsFile)), pictureDir_(std::move(pictureDir)), options_(options)
{
}

FtpUploader::~FtpUploader()
{
    Shutdown();
}

bool FtpUploader::Live() const
{
    return thread_.joinable() && !ending_;
}

bool FtpUploader::Running() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return Live();
}

bool FtpUploader::StartFtpThread(int shots, int maxJpg)
{
    if (kestrel::profile::GetInt(settingsFile_, kSection, "management", 0) == 0) {
        return Running();
    }
    std::unique_lock<std::mutex> guard(lock_);
    maxJpg_.store(maxJpg);
    shots_.store(shots);
    if (Live()) {
        stop_.store(false);  // a stop not yet acted on is taken back
        return true;
    }
    if (thread_.joinable()) {
        thread_.join();  // it has decided to end and takes no lock any more
    }
    lastUploaded_.store(shots);
    requested_.store(false);
    stop_.store(false);
    abort_.store(false);
    ending_ = false;
    try {
        thread_ = std::thread(&FtpUploader::FtpThread, this);
    } catch (const std::system_error& error) {
        ErrorSysSet(static_cast<unsigned>(error.code().value()));
        TRACE_ERROR("Probleme lors de la creation du thread client ftp(%d)", error.code().value());
        return false;
    }
    return true;
}

void FtpUploader::RequestFtpUpload(int shots, int maxJpg)
{
    maxJpg_.store(maxJpg);
    shots_.store(shots);
    requested_.store(true);
}

void FtpUploader::StopFtpThread()
{
    const std::lock_guard<std::mutex> guard(lock_);
    stop_.store(true);
    wake_.notify_all();
}

bool FtpUploader::ApplyManagement(int shots, int maxJpg)
{
    if (kestrel::profile::GetInt(settingsFile_, kSection, "management", 0) == 0) {
        StopFtpThread();
        return false;
    }
    return StartFtpThread(shots, maxJpg);
}

void FtpUploader::Shutdown()
{
    std::thread ending;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        abort_.store(true);
        wake_.notify_all();
        ending = std::move(thread_);
    }
    if (ending.joinable()) {
        ending.join();
    }
}

void FtpUploader::FtpThread()
{
    TRACE_TRACE("Thread client ftp start");
    SetThreadPriorityFromIni(settingsFile_, kSection);
    try {
        for (;;) {
            if (abort_.load() || stop_.load()) {
                const std::lock_guard<std::mutex> guard(lock_);
                if (abort_.load() || stop_.load()) {  // a start may have taken the stop back
                    ending_ = true;
                    break;
                }
            }
            if (requested_.exchange(false)) {
                // Cleared before the pass: a request made during the pass
                // brings another look, so no picture waits for the next event.
                FtpUploadPass();
                continue;
            }
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait_for(guard, options_.poll, [this] { return stop_.load() || abort_.load(); });
        }
        TRACE_TRACE("Thread client ftp stop ");
    } catch (const std::exception&) {
        TRACE_WARN("Thread client ftp exception ");
        TRACE_TRACE("Thread client ftp stop");
        const std::lock_guard<std::mutex> guard(lock_);
        ending_ = true;
    }
}

void FtpUploader::SetPictureDir(std::string pictureDir)
{
    const std::lock_guard guard(dirLock_);
    pictureDir_ = std::move(pictureDir);
}

void FtpUploader::FtpUploadPass()
{
    if (Pending(lastUploaded_.load(), shots_.load(), maxJpg_.load()).Empty()) {
        return;  // everything asked for went out with the previous pass
    }
    const FtpSettings settings = ReadFtpSettings(settingsFile_);
    FtpSession session(abort_, options_.timeouts);
    if (const FtpOutcome opened = session.Open(); !opened.Ok()) {
        const std::string line = OpenFailedLine(opened.code, opened.text);
        AddEvent(line);
        TRACE_ERROR("%s", line.c_str());
        return;
    }
    const Target target = TargetFromSettings(settings);
    if (target.errorCode != 0) {
        ErrorSysSet(static_cast<unsigned>(target.errorCode));
        ConnectFailed(nullptr, target.errorCode, ErrorDescription(static_cast<unsigned>(target.errorCode)));
        return;
    }
    if (const FtpOutcome connected = session.Connect(target.endpoint); !connected.Ok()) {
        if (connected.kind != FtpOutcome::Kind::Aborted) {
            ConnectFailed(&session, connected.code, connected.text);
        }
        return;
    }
    while (!abort_.load()) {
        // Read per picture: a reload may move the pictures during a pass, and
        // the pictures asked for after it are in the new directory.
        std::string pictureDir;
        {
            const std::lock_guard guard(dirLock_);
            pictureDir = pictureDir_;
        }
        const int maxJpg = maxJpg_.load();
        const PendingRange pending = Pending(lastUploaded_.load(), shots_.load(), maxJpg);
        if (pending.Empty()) {
            break;
        }
        lastUploaded_.store(pending.first);
        if (!UploadPicture(session, pictureDir, settings.remoteDir, pending.first, maxJpg)) {
            lastUploaded_.store(pending.first - 1);
            break;
        }
    }
}

bool FtpUploader::UploadPicture(FtpSession& session, const std::string& pictureDir, const std::string& remoteDir,
                                int number, int maxJpg)
{
    const int slot = PictureSlot(number, maxJpg);
    const std::string remote = RemotePictureName(remoteDir, slot);
    const std::string local = LocalPicturePath(pictureDir, slot);
    const FtpOutcome put = session.Put(local, remote);
    if (put.Ok()) {
        const std::string line = UploadedLine(remote);
        AddEvent(line);
        TRACE_TRACE("%s", line.c_str());
        return true;
    }
    switch (put.kind) {
        case FtpOutcome::Kind::Aborted:
            return false;
        case FtpOutcome::Kind::ConnectionLost:
            ConnectFailed(&session, put.code, put.text);
            return false;
        case FtpOutcome::Kind::LocalFile:
            // Nothing the server can mend: no directory, no retry.
            TRACE_ERROR("Error during PutFile (%s)", local.c_str());
            AddEvent(RetryFailedLine(local));
            return true;
        default:
            break;
    }
    TraceFtpResponse(session);
    session.CreateDirectories(DirectoryLevels(remoteDir));
    TRACE_ERROR("Error during PutFile (%s)", local.c_str());
    const FtpOutcome retry = session.Put(local, remote);
    if (retry.Ok()) {
        const std::string line = RetryUploadedLine(local);
        AddEvent(line);
        TRACE_TRACE("%s", line.c_str());
        // The directory is new: the page that shows the pictures goes with them.
        const std::string page = LocalIndexPath(pictureDir);
        (void)session.Put(page, RemoteIndexName(remoteDir));
        AddEvent(UploadedLine(page));
        return true;
    }
    if (retry.kind == FtpOutcome::Kind::Aborted) {
        return false;
    }
    if (retry.kind == FtpOutcome::Kind::ConnectionLost) {
        ConnectFailed(&session, retry.code, retry.text);
        return false;
    }
    TRACE_WARN(" retry PutFile %s ko", local.c_str());
    AddEvent(RetryFailedLine(local));
    return true;
}

void FtpUploader::ConnectFailed(FtpSession* session, int code, const std::string& text)
{
    const std::string line = ConnectFailedLine(code, text);
    if (session != nullptr) {
        TraceFtpResponse(*session);
    }
    AddEvent(line);
    TRACE_ERROR("%s", line.c_str());
}

void FtpUploader::TraceFtpResponse(const FtpSession& session)
{
    TRACE_TRACE("lpszBuffer=%s", session.LastResponse().c_str());
}

void FtpUploader::AddEvent(const std::string& line)
{
    if (EventsWindow* window = eventsWindow_.load()) {
        window->AddEntry(line);
    }
}

}  // namespace vorlix::ftp
