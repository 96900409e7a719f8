// The stream server over the real camera object: what it reads of WebCam,
// and the server's stop on the detection road.
#pragma once

#include <functional>
#include <string>

#include "serveur/core/Road.h"
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

// The stream server's stop on the road: the client refresh picture and each
// detection picture, once written, reach the viewers.
class StreamPictures final : public DetectionConsumer {
public:
    explicit StreamPictures(ImageNotifier& server) : server_(server) {}
    void OnClientRefresh(const PictureRequest& request) override { server_.NotifyNewImage(request.path.c_str()); }
    void OnDetection(const Detection& detection) override
    {
        // A picture that was not written would send the slot's older picture.
        if (detection.pictureWritten) {
            server_.NotifyNewImage(detection.picturePath.c_str());
        }
    }

private:
    ImageNotifier& server_;
};

// The camera's stream server. Its Pictures() stop is registered on the road
// after the picture writer; the road must not outlive it.
class WebCamStreamServer {
public:
    explicit WebCamStreamServer(WebCam& cam, WebCamStreamCamera::EventSink sink = {});
    ~WebCamStreamServer();
    WebCamStreamServer(const WebCamStreamServer&) = delete;
    WebCamStreamServer& operator=(const WebCamStreamServer&) = delete;

    // Starts when "Client access" is 1; else returns 0 and does nothing.
    int StartIfEnabled();
    StreamServer& Server() { return server_; }
    DetectionConsumer& Pictures() { return pictures_; }

private:
    WebCam& cam_;
    WebCamStreamCamera camera_;
    StreamServer server_;
    StreamPictures pictures_{server_};
};

}  // namespace vorlix
