#include "serveur/actions/WebCamActions.h"

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/actions/FrameToRgb.h"

namespace vorlix {

ZoneRect WebCamCameraAccess::Zone(int slot) const
{
    const ZoneCorners z = cam_.Zone(slot);
    return ZoneRect{z.x0, z.y0, z.x1, z.y1};
}

void WebCamCameraAccess::SetZone(int slot, const ZoneRect& zone)
{
    ZoneCorners corners;
    corners.x0 = zone.x0;
    corners.y0 = zone.y0;
    corners.x1 = zone.x1;
    corners.y1 = zone.y1;
    cam_.SetZone(slot, corners);
}

int WebCamCameraAccess::MeasureWithoutMask(int slot)
{
    cam_.SetMaskWriting(false);
    const int measure = cam_.alg_diff_standard(slot);
    cam_.SetMaskWriting(true);
    return measure;
}

PictureJob WebCamCameraAccess::Pictures()
{
    PictureJob job;
    job.width = cam_.Width();
    job.height = cam_.Height();
    job.annotated = cam_.AnnotatedImage();
    job.pictureDir = cam_.PictureDir();
    job.quality = cam_.SettingsCopy().qualityJpg;
    job.maxJpg = cam_.MaxJpg();
    const std::span<const std::uint8_t> frame = cam_.CurrentFrame();
    if (IsPlainRgb(cam_.Format(), cam_.TopDown())) {
        job.frame = frame;
    } else if (ConvertFrameToRgb(frame, job.width, job.height, cam_.Format(), cam_.TopDown(), rgb_)) {
        job.frame = rgb_;
    } else {
        TRACE_WARN("No picture of format 0x%X (%d x %d)", static_cast<unsigned>(cam_.Format()), job.width, job.height);
    }
    return job;
}

EventContext WebCamCameraAccess::EventState(int zone)
{
    const CameraSettings s = cam_.SettingsCopy();
    EventContext context;
    context.settingsFile = cam_.SettingsFile();
    context.pictureDir = cam_.PictureDir();
    context.shots = cam_.shots.load();
    context.maxJpg = cam_.MaxJpg();
    context.noEvents = s.noEvents;
    context.replaySound = s.replaySound;
    context.executeEnabled = executeAllowed_.load() && s.execute.management != 0;
    context.application = s.execute.application;
    context.arguments = s.execute.arguments;
    context.camera = cam_.Paths().camera;
    context.width = cam_.Width();
    context.height = cam_.Height();
    const int slot = zone < 0 ? 0 : zone;
    context.zone = Zone(slot);
    context.centreX = cam_.ZoneCentreX(slot);
    context.centreY = cam_.ZoneCentreY(slot);
    return context;
}

WebCamActions::WebCamActions(WebCam& cam) : cam_(cam), access_(cam), actions_(access_)
{
    actions_.LoadVocabulary();
    cam_.SetClassificationHook(&actions_);
    cam_.SetEventActionsHook(&actions_);
}

WebCamActions::~WebCamActions()
{
    cam_.SetClassificationHook(nullptr);
    cam_.SetEventActionsHook(nullptr);
}

}  // namespace vorlix
