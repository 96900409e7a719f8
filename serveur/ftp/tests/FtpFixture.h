// A camera directory, a real FTP server and an uploader between them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/ftp/FtpUploader.h"
#include "serveur/ftp/tests/FtpPeer.h"

namespace vorlix::ftp::test {

using namespace std::chrono_literals;

class FtpFixture : public ::testing::Test {
protected:
    explicit FtpFixture(FtpPeer::Config config = {}) : peer_(std::move(config)) {}

    void TearDown() override
    {
        if (uploader_) {
            uploader_->Shutdown();
        }
    }

    // Points the camera at the server and starts the thread at `shots`.
    void StartUploader(int shots = 0, int maxJpg = 500, FtpOptions options = QuickOptions(),
                       const std::string& remoteDir = "")
    {
        cam_.PointAt(peer_, remoteDir);
        maxJpg_ = maxJpg;
        shots_ = shots;
        uploader_ = std::make_unique<FtpUploader>(cam_.SettingsFile(), cam_.PictureDir(), options);
        uploader_->SetEventsWindow(&events_);
        ASSERT_TRUE(uploader_->StartFtpThread(shots, maxJpg));
    }

    static FtpOptions QuickOptions()
    {
        FtpOptions options;
        options.poll = 20ms;
        options.timeouts.connect = 5s;
        options.timeouts.stall = 5s;
        return options;
    }

    // What the camera does for one detection: the picture, then the request.
    std::string Detect(std::size_t size = 3000)
    {
        ++shots_;
        std::string bytes = cam_.WritePicture(PictureSlot(shots_, maxJpg_), size);
        uploader_->RequestFtpUpload(shots_, maxJpg_);
        return bytes;
    }

    // Waits until the server holds `name` with exactly `bytes`.
    bool WaitForRemote(const std::string& name, const std::string& bytes, std::chrono::milliseconds limit = 10s)
    {
        return kestrel::test::WaitUntil([&] { return Remote(name) == bytes; }, limit, 5ms);
    }

    int CountEvents(const std::string& part) const
    {
        const auto lines = events_.Lines();
        return static_cast<int>(std::count_if(
            lines.begin(), lines.end(), [&](const std::string& line) { return line.find(part) != std::string::npos; }));
    }

    bool WaitForEvent(const std::string& part, std::chrono::milliseconds limit = 10s)
    {
        return kestrel::test::WaitUntil([&] { return HasEvent(part); }, limit);
    }

    bool HasEvent(const std::string& part) const
    {
        const auto lines = events_.Lines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(part) != std::string::npos; });
    }

    std::string Remote(const std::string& name) const { return kestrel::test::ReadFile(peer_.RootFile(name)); }

    FtpPeer peer_;
    CameraDir cam_;
    EventLines events_;
    kestrel::test::TraceCapture trace_;
    std::unique_ptr<FtpUploader> uploader_;
    int shots_ = 0;
    int maxJpg_ = 500;
};

}  // namespace vorlix::ftp::test
