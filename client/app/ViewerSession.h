// One viewer's connection and what each 100-ms tick does with it: read one
// step of the stream and act on the result (show a live picture, answer a
// password request with the saved password once per series and then ask the
// user, repaint the history, notice a lost connection), and keep the status
// text shown while nothing else is.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "client/app/ViewerSettings.h"
#include "client/reader/StreamReader.h"

namespace vorlix::client {

struct PasswordEntry {
    std::string password;
    bool save = false;
};

// What the session asks of the window. Called on the window thread, inside Tick.
class ViewerUi {
public:
    virtual ~ViewerUi() = default;
    // A live JPEG to decode and draw.
    virtual void ShowLiveFrame(std::span<const std::uint8_t> jpeg) = 0;
    // The password dialog (modal); none when the user cancels.
    virtual std::optional<PasswordEntry> AskPassword() = 0;
    // A history picture arrived (Reader().HistoryPicture()).
    virtual void ShowHistory() = 0;
    // The connection is gone: "&Open" back, "&Close" greyed, and the
    // placeholder drawn when a picture had been shown.
    virtual void ShowDisconnected(bool pictureWasShown) = 0;
    // The ticker line (already localised).
    virtual void ShowStatus(const std::string& text) = 0;
};

class ViewerSession {
public:
    using Translator = std::function<std::string(const std::string&)>;

    ViewerSession(ViewerSettings settings, Translator translate, StreamReader::Limits limits = {});

    // Start-up: the saved password of server 1, then a connection to "Host 1"
    // when it is set with a port above 0. Returns whether it connected.
    bool Start();
    // The server choice dialog's OK: stores the host under its number
    // (FindHostIndex) with the port, connects, and takes that host's saved
    // password when it has one.
    bool ConnectChosen(const std::string& host, const std::string& portText);
    // Connects. On failure the status text names the host, port and error
    // code; after a success it is "client is not connected" for later.
    bool Connect(const std::string& host, int port);
    // "&Close": drops the connection.
    void Close();
    // The 100-ms tick. Re-entered ticks (from a modal dialog's loop) do nothing.
    void Tick(ViewerUi& ui);
    // Asks the server for a history picture.
    void RequestHistory(const std::string& argument) const;

    [[nodiscard]] bool Connected() const { return socket_.Valid(); }
    [[nodiscard]] const std::string& Host() const { return reader_.HostName(); }
    [[nodiscard]] const std::string& StatusText() const { return status_; }
    [[nodiscard]] std::size_t PictureLength() const { return pictureLength_; }
    [[nodiscard]] std::size_t HistoryLength() const { return historyLength_; }
    [[nodiscard]] const std::string& StoredPassword() const { return password_; }
    [[nodiscard]] bool PasswordTried() const { return passwordTried_; }
    [[nodiscard]] const StreamReader& Reader() const { return reader_; }
    [[nodiscard]] const ViewerSettings& Settings() const { return settings_; }
    std::string Translate(const std::string& text) const { return translate_(text); }

private:
    void Dispatch(ViewerUi& ui);
    void AnswerPassword(ViewerUi& ui);

    ViewerSettings settings_;
    Translator translate_;
    StreamReader reader_;
    kestrel::UniqueFd socket_;
    std::vector<std::uint8_t> frame_;
    std::string password_;
    bool passwordTried_ = false;
    std::size_t pictureLength_ = 0;
    std::size_t historyLength_ = 0;
    bool disconnectShown_ = true;
    bool inTick_ = false;
    std::string status_;
    std::string notConnected_;
    std::string noPictureYet_;
};

}  // namespace vorlix::client
