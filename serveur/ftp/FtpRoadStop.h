// The FTP uploader's stop on the detection road: once the detection's picture
// is written, the uploader is told the shot counter it now stands at. Only
// atomics are touched here; the transfer runs on the FTP thread.
#pragma once

#include "serveur/core/Road.h"
#include "serveur/ftp/FtpUploader.h"

namespace vorlix::ftp {

class FtpRoadStop final : public DetectionConsumer {
public:
    explicit FtpRoadStop(FtpUploader& uploader) : uploader_(uploader) {}
    void OnDetection(const Detection& detection) override
    {
        uploader_.RequestFtpUpload(detection.shot, detection.camera.settings->maxJpg);
    }

private:
    FtpUploader& uploader_;
};

}  // namespace vorlix::ftp
