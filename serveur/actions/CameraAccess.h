// What the classification and the detection actions read and change of the
// camera object. The camera room provides the implementation over WebCam;
// keeping the list here keeps the actions independent of its layout.
#pragma once

#include <atomic>
#include <string>
#include <utility>

#include "serveur/actions/Classification.h"
#include "serveur/actions/DetectionPictures.h"
#include "serveur/actions/FireEvent.h"
#include "serveur/core/Hooks.h"

namespace vorlix {

class CameraAccess {
public:
    virtual ~CameraAccess() = default;

    virtual int Format() const = 0;
    virtual int TopDownFlag() const = 0;
    virtual ZoneRect Zone(int slot) const = 0;
    virtual void SetZone(int slot, const ZoneRect& zone) = 0;
    virtual int ScratchSlot() const = 0;
    virtual int ZoneMeasure(int slot) const = 0;
    virtual int ZoneThreshold(int slot) const = 0;
    virtual std::pair<int, int> ZoneCentre(int slot) const = 0;
    // alg_diff_standard of `slot` with the change-mask writing switched off.
    virtual int MeasureWithoutMask(int slot) = 0;

    virtual PictureJob Pictures() = 0;
    // Written by the capture thread only; others read them.
    virtual std::atomic<int>& Shots() = 0;
    virtual std::atomic<int>& SaveCounter() = 0;
    // Settings and the event's zone geometry for FireEvent.
    virtual EventContext EventState(int zone) = 0;
    virtual std::string Translate(const std::string& text) = 0;

    // Optional outside parts (null: nothing to tell).
    virtual ImageNotifier* Notifier() = 0;
    virtual RecorderHook* Recorder() = 0;
    virtual UploadRequests* Uploads() = 0;
    virtual WebCam& Camera() = 0;
};

}  // namespace vorlix
