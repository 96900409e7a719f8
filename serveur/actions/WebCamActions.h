// The detection actions attached to a real camera object: the access the
// actions need, read from WebCam, and the hooks installed on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "serveur/actions/CameraAccess.h"
#include "serveur/actions/VorlixActions.h"
#include "serveur/core/WebCam.h"

namespace vorlix {

class WebCamCameraAccess final : public CameraAccess {
public:
    explicit WebCamCameraAccess(WebCam& cam) : cam_(cam) {}

    int Format() const override { return cam_.Format(); }
    int TopDownFlag() const override { return cam_.TopDown(); }
    ZoneRect Zone(int slot) const override;
    void SetZone(int slot, const ZoneRect& zone) override;
    int ScratchSlot() const override { return cam_.ScratchSlot(); }
    int ZoneMeasure(int slot) const override { return cam_.ZoneMeasure(slot); }
    int ZoneThreshold(int slot) const override { return cam_.ZoneThreshold(slot); }
    std::pair<int, int> ZoneCentre(int slot) const override { return {cam_.ZoneCentreX(slot), cam_.ZoneCentreY(slot)}; }
    int MeasureWithoutMask(int slot) override;

    PictureJob Pictures() override;
    std::atomic<int>& Shots() override { return cam_.shots; }
    std::atomic<int>& SaveCounter() override { return cam_.saveCounter; }
    EventContext EventState(int zone) override;
    std::string Translate(const std::string& text) override { return cam_.Translate(text); }

    ImageNotifier* Notifier() override { return cam_.Notifier(); }
    RecorderHook* Recorder() override { return cam_.Recorder(); }
    UploadRequests* Uploads() override { return uploads_.load(); }
    WebCam& Camera() override { return cam_; }

    void SetUploads(UploadRequests* uploads) { uploads_.store(uploads); }
    // The V4L2 build has no Execute action.
    void SetExecuteAllowed(bool allowed) { executeAllowed_.store(allowed); }

private:
    WebCam& cam_;
    std::atomic<UploadRequests*> uploads_{nullptr};
    std::atomic<bool> executeAllowed_{true};
    std::vector<std::uint8_t> rgb_;  // converted frame, capture thread only
};

// Owns the access and the hooks; installs them on the camera for its life.
class WebCamActions {
public:
    explicit WebCamActions(WebCam& cam);
    ~WebCamActions();
    WebCamActions(const WebCamActions&) = delete;
    WebCamActions& operator=(const WebCamActions&) = delete;

    // After each LoadConfiguration: the vocabulary through the language files.
    void Reload() { actions_.LoadVocabulary(); }

    WebCamCameraAccess& Access() { return access_; }
    VorlixActions& Actions() { return actions_; }

private:
    WebCam& cam_;
    WebCamCameraAccess access_;
    VorlixActions actions_;
};

}  // namespace vorlix
