#include "serveur/web/WebView.h"

#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::web {

WebView::WebView(StatusSource status) : status_(std::move(status)), server_(frames_, [this] { return State(); }) {}

WebView::~WebView()
{
    Stop();
    frames_.Stop();
}

void WebView::Stop()
{
    server_.Stop();
}

bool WebView::Configure(const WebViewConfig& config)
{
    frames_.SetPace(config.settings.fps, config.quality);
    camera_.store(config.camera);
    fps_.store(config.settings.fps);
    auto site = std::make_shared<WebSite>();
    site->pictureDir = config.pictureDir;
    site->maxJpg = config.maxJpg;
    site->words = FixedWords(config.words);
    if (!config.settings.management) {
        server_.Stop();
        return true;
    }
    WebServerOptions options;
    options.settings = config.settings;
    options.password = config.password;
    options.camera = config.camera;
    options.stallLimit = config.stallLimit;
    options.firstWrongDelay = config.firstWrongDelay;
    const WebServerOptions& now = server_.Options();
    const bool same = now.settings == options.settings && now.password == options.password &&
                      now.camera == options.camera && now.stallLimit == options.stallLimit &&
                      now.firstWrongDelay == options.firstWrongDelay;
    if (server_.Running() && same) {
        server_.SetSite(std::move(site));
        return true;
    }
    passwordSet_.store(!options.password.empty());
    return server_.Start(options, std::move(site));
}

void WebView::OnDetection(const Detection& detection)
{
    WebEvent event{detection.time, detection.label, detection.pictureNumber};
    const std::lock_guard lock(eventsMutex_);
    events_.push_front(std::move(event));
    if (events_.size() > kMaxEvents) {
        events_.pop_back();
    }
}

PageState WebView::State() const
{
    PageState state;
    if (status_) {
        const CameraStatus status = status_();
        state.capturing = status.capturing;
        state.detectionOn = status.detectionOn;
        state.streamViewers = status.streamViewers;
    }
    state.camera = camera_.load();
    state.fps = fps_.load();
    state.passwordSet = passwordSet_.load();
    state.webViewers = server_.Viewers();
    {
        const std::lock_guard lock(eventsMutex_);
        state.events.assign(events_.begin(), events_.end());
    }
    return state;
}

}  // namespace vorlix::web
