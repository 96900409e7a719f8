// The sound recorder's stop on the detection road: a detection starts or
// extends a recording named after its picture, a quiet frame may end it, a
// new reference image ends it (kept). The calls only decide and queue; the
// device and the file are handled on the recorder's audio thread.
#pragma once

#include "serveur/audio/AudioFormat.h"
#include "serveur/audio/Recorder.h"
#include "serveur/core/Road.h"

namespace vorlix::audio {

class RecorderRoadStop final : public DetectionConsumer {
public:
    explicit RecorderRoadStop(Recorder& recorder) : recorder_(recorder) {}
    void OnDetection(const Detection& detection) override
    {
        RecorderEvent event;
        event.shots = detection.shot;
        event.maxJpg = detection.camera.settings->maxJpg;
        event.wavPath = detection.soundPath;
        event.rate = kSampleRate;
        recorder_.RecorderOnEvent(event);
    }
    void OnQuietFrame() override { recorder_.RecorderOnQuietFrame(); }
    void OnNewReference() override { recorder_.StopRecordingForced(); }

private:
    Recorder& recorder_;
};

}  // namespace vorlix::audio
