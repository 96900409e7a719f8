// The classification and event-action hooks of one camera.
#pragma once

#include <array>
#include <ctime>
#include <functional>

#include "serveur/actions/CameraAccess.h"
#include "serveur/actions/FireEvent.h"
#include "serveur/actions/Tracking.h"
#include "serveur/actions/Vocabulary.h"
#include "serveur/core/Hooks.h"

namespace vorlix {

class VorlixActions final : public ClassificationHook, public EventActionsHook {
public:
    using Clock = std::function<std::time_t()>;

    explicit VorlixActions(
        CameraAccess& access, Clock clock = [] { return std::time(nullptr); });

    // The vocabulary words through the language files (at configuration load).
    void LoadVocabulary();

    SingleZoneResult ClassifySingleZone(WebCam& cam, int zone) override;
    void TrackMovement(WebCam& cam, int zone, int source) override;
    void CheckDirections(WebCam& cam, int zone) override;

    void OnSaveImage(WebCam& cam) override;
    void OnClientRefresh(WebCam& cam) override;
    void OnDetection(WebCam& cam, const Detection& detection) override;

    void FireEvent(int zone, EventKind kind, std::uint32_t mask);

    EventFiring& Events() { return events_; }
    const TrackingState& Tracking(int zone) const { return tracking_.at(static_cast<std::size_t>(zone)); }

private:
    bool UpperIsUp() const;
    bool TopDown() const;

    CameraAccess& access_;
    Clock clock_;
    Vocabulary words_;
    std::array<TrackingState, 10> tracking_{};
    EventFiring events_;
};

}  // namespace vorlix
