#include "client/app/ViewerSession.h"

#include "client/app/ViewerText.h"
#include "libkestrel/error/QXError.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::client {

namespace {

constexpr const char* kNotConnected = "client is not connected";
constexpr const char* kUnableToConnect = "Unable to connect to remote host (%s:%d)=%x";
constexpr const char* kNoPictureYet =
    "The client is connected, for the moment it does not have images, check on the server that detection is "
    "launched";

// Restores a flag when a scope ends, however it ends.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};

// A port as atoi reads it; out-of-range texts give 0 (refused by the connect).
int PortOf(const std::string& text)
{
    const long long port = ReadDecimal(text);
    return port > 0 && port <= 65535 ? static_cast<int>(port) : 0;
}

}  // namespace

ViewerSession::ViewerSession(ViewerSettings settings, Translator translate, StreamReader::Limits limits)
    : settings_(std::move(settings)), translate_(std::move(translate)), reader_(limits)
{
    // Looked up once: the ticker shows them ten times a second.
    notConnected_ = translate_(kNotConnected);
    noPictureYet_ = translate_(kNoPictureYet);
    status_ = notConnected_;
}

bool ViewerSession::Start()
{
    password_ = settings_.Password(1).value_or("");
    status_ = notConnected_;
    const std::string host = settings_.Host(1);
    const int port = PortOf(settings_.PortText(1));
    if (port <= 0 || host.empty()) {
        return false;
    }
    return Connect(host, port);
}

bool ViewerSession::ConnectChosen(const std::string& host, const std::string& portText)
{
    const std::string shortHost = host.substr(0, kMaxHostLength);
    const std::string shortPort = portText.substr(0, kMaxPortTextLength);
    const int number = settings_.FindHostIndex(shortHost);
    settings_.StoreHost(number, shortHost, shortPort);
    const bool connected = Connect(shortHost, PortOf(shortPort));
    if (std::optional<std::string> saved = settings_.Password(number)) {
        password_ = std::move(*saved);
    }
    return connected;
}

bool ViewerSession::Connect(const std::string& host, int port)
{
    socket_ = reader_.ConnectToServer(host, port);
    // Shown once not connected: after a working connection ends, saying it
    // could not connect would be wrong.
    status_ = socket_.Valid() ? notConnected_
                              : FillText(translate_(kUnableToConnect), {host, std::to_string(port), Hex(ErrorLast())});
    pictureLength_ = 0;
    passwordTried_ = false;
    disconnectShown_ = !socket_.Valid();
    return socket_.Valid();
}

void ViewerSession::Close()
{
    socket_.Reset();
    passwordTried_ = false;
}

void ViewerSession::RequestHistory(const std::string& argument) const
{
    if (socket_.Valid()) {
        StreamReader::SendHistoryRequest(socket_.Get(), argument);
    }
}

void ViewerSession::Tick(ViewerUi& ui)
{
    if (inTick_) {
        return;
    }
    const FlagScope scope(inTick_);
    if (socket_.Valid()) {
        Dispatch(ui);
        if (socket_.Valid() && pictureLength_ == 0) {
            ui.ShowStatus(noPictureYet_);
        }
        return;
    }
    if (!disconnectShown_) {
        ui.ShowDisconnected(pictureLength_ > 0);
        pictureLength_ = 0;
        disconnectShown_ = true;
    }
    ui.ShowStatus(status_);
}

void ViewerSession::Dispatch(ViewerUi& ui)
{
    const int result = reader_.ReadFrame(socket_.Get(), frame_, kFrameCapacity);
    if (result > 0) {
        pictureLength_ = static_cast<std::size_t>(result);
        passwordTried_ = false;
        ui.ShowLiveFrame(std::span<const std::uint8_t>(frame_.data(), pictureLength_));
    } else if (result == kReadPasswordRequest) {
        AnswerPassword(ui);
    } else if (result == kReadLost) {
        socket_.Reset();
    } else if (result < kReadPasswordRequest) {
        historyLength_ = static_cast<std::size_t>(-static_cast<long long>(result));
        ui.ShowHistory();
    }
}

void ViewerSession::AnswerPassword(ViewerUi& ui)
{
    if (!password_.empty() && !passwordTried_) {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "password request (%d): saved password sent",
                    static_cast<int>(reader_.Challenge()));
        reader_.SendPasswordAnswer(socket_.Get(), password_);
        passwordTried_ = true;
        return;
    }
    TRACE_LEVEL(kestrel::kLevelUnclassified, "password request (%d): asking the user",
                static_cast<int>(reader_.Challenge()));
    passwordTried_ = false;
    const std::optional<PasswordEntry> entry = ui.AskPassword();
    if (!entry || !socket_.Valid()) {
        return;
    }
    reader_.SendPasswordAnswer(socket_.Get(), entry->password);
    if (entry->save) {
        password_ = entry->password;
        settings_.StorePassword(settings_.FindHostIndex(reader_.HostName()), entry->password);
    }
}

}  // namespace vorlix::client
