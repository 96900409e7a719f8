// The browser view as a stop on the detection road: it takes the newest
// frame while somebody watches (at the view's pace) and each detection for
// its events list, and runs the HTTP server that shows them. It never calls
// into the camera object; the camera's state comes from the owner's source.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "serveur/core/Road.h"
#include "serveur/web/LiveFrames.h"
#include "serveur/web/WebPage.h"
#include "serveur/web/WebServer.h"
#include "serveur/web/WebSettings.h"

namespace vorlix::web {

// What the page tells of the camera beside the view's own figures.
struct CameraStatus {
    bool capturing = false;
    bool detectionOn = false;
    int streamViewers = 0;
};

struct WebViewConfig {
    WebSettings settings;
    std::string password;  // the camera's "Authentification client"; empty: open
    int camera = 0;
    int quality = 30;  // JPEG quality of the live pictures
    std::string pictureDir;
    int maxJpg = 0;
    Words words;  // empty: the texts as they are
    // Only tests shorten these.
    std::chrono::seconds stallLimit{10};
    std::chrono::milliseconds firstWrongDelay{1000};
};

class WebView final : public DetectionConsumer {
public:
    using StatusSource = std::function<CameraStatus()>;
    static constexpr std::size_t kMaxEvents = 100;

    explicit WebView(StatusSource status);
    ~WebView() override;
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    // At load and at each reload (main thread): starts, restarts or stops the
    // server as the settings ask; what the pages show changes without a
    // restart. False when the view should run and cannot (traced).
    bool Configure(const WebViewConfig& config);
    void Stop();

    [[nodiscard]] bool Running() const { return server_.Running(); }
    [[nodiscard]] int Port() const { return server_.Port(); }
    // Connections put aside until a picture or a moment comes.
    [[nodiscard]] std::size_t Waiting() const { return server_.Parked(); }
    [[nodiscard]] const LiveFrames& Frames() const { return frames_; }
    [[nodiscard]] PageState State() const;

    // The road (capture thread).
    bool WantsLiveFrame() override { return frames_.Wanted(); }
    void OnLiveFrame(const FramePicture& picture) override { frames_.Offer(picture); }
    void OnDetection(const Detection& detection) override;

private:
    StatusSource status_;
    LiveFrames frames_;
    WebServer server_;
    std::atomic<int> camera_{0};
    std::atomic<int> fps_{kDefaultFps};
    std::atomic<bool> passwordSet_{false};
    mutable std::mutex eventsMutex_;
    std::deque<WebEvent> events_;  // newest first
};

}  // namespace vorlix::web
