// The stream server over the real camera object: what it reads of WebCam,
// and a server installed as the camera's image notifier for its lifetime.
#pragma once

#include <functional>
#include <string>

#include "serveur/core/WebCam.h"
#include "serveur/stream/StreamCamera.h"
#include "serveur/stream/StreamServer.h"

namespace vorlix {

class WebCamStreamCamera final : public StreamCamera {
public:
    // Receives the translated status texts for the events list; may be empty.
    using EventSink = std::function<void(const std::string&)>;

    explicit WebCamStreamCamera(WebCam& cam, EventSink sink = {}) : cam_(cam), sink_(std::move(sink)) {}

    [[nodiscard]] StreamSettings Settings() const override;
    [[nodiscard]] int Shots() const override { return cam_.shots.load(); }
    [[nodiscard]] int MaxJpg() const override { return cam_.MaxJpg(); }
    [[nodiscard]] std::string PictureDir() const override { return cam_.PictureDir(); }
    void AddEventText(const std::string& text) override;
    void ApplyStreamThreadPriority() override;

private:
    WebCam& cam_;
    EventSink sink_;
};

// The camera's stream server: installs itself with SetImageNotifier so the
// client refresh and the detection pictures reach the viewers. Destroy it
// only while no frame is being processed (capture stopped).
class WebCamStreamServer {
public:
    explicit WebCamStreamServer(WebCam& cam, WebCamStreamCamera::EventSink sink = {});
    ~WebCamStreamServer();
    WebCamStreamServer(const WebCamStreamServer&) = delete;
    WebCamStreamServer& operator=(const WebCamStreamServer&) = delete;

    // Starts when "Client access" is 1; else returns 0 and does nothing.
    int StartIfEnabled();
    StreamServer& Server() { return server_; }

private:
    WebCam& cam_;
    WebCamStreamCamera camera_;
    StreamServer server_;
};

}  // namespace vorlix
