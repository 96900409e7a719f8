#include "serveur/actions/VorlixActions.h"

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/actions/JpegWriter.h"
#include "serveur/core/Frame.h"

namespace vorlix {

namespace {
bool ValidSlot(int slot)
{
    return slot >= 0 && slot < 10;
}
}  // namespace

VorlixActions::VorlixActions(CameraAccess& access, Clock clock) : access_(access), clock_(std::move(clock)) {}

void VorlixActions::LoadVocabulary()
{
    words_.Load([this](const std::string& text) { return access_.Translate(text); });
}

bool VorlixActions::UpperIsUp() const
{
    const int format = access_.Format();
    const bool rgb = format == kFormatRgb16 || format == kFormatRgb24 || format == kFormatRgb32;
    return !(rgb && access_.TopDownFlag() != kTopDown);
}

bool VorlixActions::TopDown() const
{
    const int format = access_.Format();
    return format == kFourccI420 || format == kFourccYuy2 || access_.TopDownFlag() == kTopDown;
}

SingleZoneResult VorlixActions::ClassifySingleZone(WebCam& cam, int zone)
{
    const PictureJob pictures = access_.Pictures();
    const ZoneRect rect = access_.Zone(zone);
    const int scratch = access_.ScratchSlot();
    access_.SetZone(scratch, EnlargedZone(rect, pictures.width, pictures.height));
    const int enlarged = access_.MeasureWithoutMask(scratch);
    const auto [cx, cy] = access_.ZoneCentre(scratch);
    TrackMovement(cam, zone, scratch);
    CheckDirections(cam, zone);
    access_.SetZone(scratch, ZoneRect{0, 0, pictures.width, pictures.height});

    const int measure = access_.ZoneMeasure(zone);
    SingleZoneResult result;
    result.kind = SingleZoneKind(rect, cx, cy, measure, enlarged);
    const Word word = result.kind == EventKind::AHEAD ? Word::Ahead
                      : result.kind == EventKind::IN  ? Word::In
                                                      : Word::Near;
    TRACE_LEVEL(102, "Position %d (%d,%d)", zone + 1, cx, cy);
    const std::string position = PositionWord(rect, cx, cy, words_, UpperIsUp());
    result.label = SingleZoneLabel(zone, words_[word], position, measure);
    TRACE_INFO("%s (%d-%d>%d) (%d)", result.label.c_str(), enlarged, measure, access_.ZoneThreshold(zone),
               NextPictureNumber(access_.Shots().load(), pictures.maxJpg));
    return result;
}

void VorlixActions::TrackMovement(WebCam& /*cam*/, int zone, int source)
{
    if (!ValidSlot(zone)) {
        return;
    }
    TrackingState& state = tracking_[static_cast<std::size_t>(zone)];
    const auto [cx, cy] = access_.ZoneCentre(source);
    if (TrackMove(state, cx, cy, clock_()) == TrackStep::Restarted) {
        TRACE_LEVEL(0, "Init Deplacement %d (%d,%d)", zone + 1, cx, cy);
        return;
    }
    TRACE_LEVEL(0, "Deplacement %d (%d,%d) (L2R=%d R2L=%d T2B=%d B2T=%d)", zone + 1, cx, cy, state.l2r, state.r2l,
                state.t2b, state.b2t);
}

void VorlixActions::CheckDirections(WebCam& /*cam*/, int zone)
{
    if (!ValidSlot(zone)) {
        return;
    }
    for (const EventKind kind : TakeDirections(tracking_[static_cast<std::size_t>(zone)], TopDown())) {
        FireEvent(zone, kind, 0);
    }
}

void VorlixActions::FireEvent(int zone, EventKind kind, std::uint32_t mask)
{
    events_.Fire(access_.EventState(zone), zone, kind, mask, clock_());
}

void VorlixActions::OnSaveImage(WebCam& /*cam*/)
{
    int saved = access_.SaveCounter().load();
    WriteSavedPicture(access_.Pictures(), saved);
    access_.SaveCounter().store(saved);
}

void VorlixActions::OnClientRefresh(WebCam& /*cam*/)
{
    const std::time_t now = clock_();
    std::tm local{};
    localtime_r(&now, &local);
    const std::string path = WriteRefreshPicture(access_.Pictures(), local);
    if (ImageNotifier* notifier = access_.Notifier(); notifier != nullptr) {
        notifier->NotifyNewImage(path.c_str());
    }
}

void VorlixActions::OnDetection(WebCam& /*cam*/, const Detection& detection)
{
    const PictureJob pictures = access_.Pictures();
    const std::time_t now = clock_();
    std::tm local{};
    localtime_r(&now, &local);
    const std::string comment =
        JpegComment(access_.Translate("Vorlix ==> %s Quality : %d%%"), detection.label, pictures.quality);
    int shots = access_.Shots().load();
    const DetectionFiles files = WriteDetectionPicture(pictures, shots, comment, local);
    access_.Shots().store(shots);
    if (ImageNotifier* notifier = access_.Notifier(); notifier != nullptr) {
        notifier->NotifyNewImage(files.jpeg.c_str());
    }
    if (UploadRequests* uploads = access_.Uploads(); uploads != nullptr) {
        uploads->RequestFtpUpload();
        uploads->NotifyMailEvent();
    }
    FireEvent(detection.zone, detection.kind, detection.zoneMask);
    if (RecorderHook* recorder = access_.Recorder(); recorder != nullptr) {
        recorder->RecorderOnEvent(access_.Camera(), 44100, files.wav);
    }
}

}  // namespace vorlix
