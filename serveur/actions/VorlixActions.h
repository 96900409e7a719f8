// The camera's stops on the detection road: naming (classification and
// movement tracking), the pictures, and the events (list, history, sound,
// Execute). Each is registered on its own in the camera assembly, so the
// stream server and the workers can sit between the pictures and the events.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "serveur/actions/FireEvent.h"
#include "serveur/actions/PictureHealth.h"
#include "serveur/actions/Tracking.h"
#include "serveur/actions/Vocabulary.h"
#include "serveur/core/Road.h"

namespace vorlix {

// The translated words and picture comment. A reload replaces them while
// frames go on: the capture thread takes the current set once per value.
struct Wording {
    Vocabulary words;
    std::string commentFormat = "Vorlix ==> %s Quality : %d%%";
};

class WordingSource {
public:
    WordingSource() : current_(std::make_shared<const Wording>()) {}
    [[nodiscard]] std::shared_ptr<const Wording> Current() const
    {
        const std::lock_guard lock(mutex_);
        return current_;
    }
    void Replace(std::shared_ptr<const Wording> wording)
    {
        const std::lock_guard lock(mutex_);
        current_ = std::move(wording);
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Wording> current_;
};

// Names single-zone detections and follows the centre of each matching zone;
// a steady drift fires a direction event before the detection's own.
class DetectionNaming final : public DetectionClassifier {
public:
    DetectionNaming(const WordingSource& words, EventFiring& events, const std::atomic<bool>& executeAllowed)
        : words_(words), events_(events), executeAllowed_(executeAllowed)
    {
    }
    void Classify(Detection& detection) override;
    [[nodiscard]] const TrackingState& Tracking(int zone) const { return tracking_.at(static_cast<std::size_t>(zone)); }

private:
    void TrackMovement(const Detection& detection, int zone, int cx, int cy);
    void CheckDirections(const Detection& detection, int zone);

    const WordingSource& words_;
    EventFiring& events_;
    const std::atomic<bool>& executeAllowed_;
    std::array<TrackingState, kMaxZones + 1> tracking_{};  // capture thread only
};

// The detection picture of the rotating set (the road's picture writer),
// "last.jpg" and the saved pictures (consumer calls). Every write is told to
// the picture health, which says a failure streak once.
class PictureActions final : public DetectionConsumer, public DetectionPictureWriter {
public:
    PictureActions(const WordingSource& words, PictureHealth& health) : words_(words), health_(health) {}
    void OnSaveImage(const PictureRequest& request) override;
    void OnClientRefresh(const PictureRequest& request) override;
    bool WriteDetectionPicture(const Detection& detection) override;

private:
    bool Tell(bool written, const std::string& path, int error);

    const WordingSource& words_;
    PictureHealth& health_;
};

// The detection's event: events list, history, sound and Execute.
class EventActions final : public DetectionConsumer {
public:
    EventActions(EventFiring& events, const std::atomic<bool>& executeAllowed)
        : events_(events), executeAllowed_(executeAllowed)
    {
    }
    void OnDetection(const Detection& detection) override;

private:
    EventFiring& events_;
    const std::atomic<bool>& executeAllowed_;
};

// Owns the three stops and what they share.
class VorlixActions {
public:
    using TranslateFn = std::function<std::string(const std::string&)>;

    VorlixActions() = default;
    VorlixActions(const VorlixActions&) = delete;
    VorlixActions& operator=(const VorlixActions&) = delete;

    // The words and the picture comment through the language files, at each
    // configuration load (main thread, capture stopped or between frames of
    // the same language).
    void LoadVocabulary(const TranslateFn& translate);
    // The V4L2 build has no Execute action.
    void SetExecuteAllowed(bool allowed) { executeAllowed_.store(allowed); }

    DetectionNaming& Naming() { return naming_; }
    PictureActions& Pictures() { return pictures_; }
    EventActions& Events() { return eventActions_; }
    EventFiring& Firing() { return events_; }
    // Whether pictures are written (any thread may read it).
    const PictureHealth& Health() const { return health_; }

private:
    WordingSource words_;
    std::atomic<bool> executeAllowed_{true};
    EventFiring events_;
    PictureHealth health_{&events_};
    DetectionNaming naming_{words_, events_, executeAllowed_};
    PictureActions pictures_{words_, health_};
    EventActions eventActions_{events_, executeAllowed_};
};

}  // namespace vorlix
