#include "serveur/actions/VorlixActions.h"

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/actions/Classification.h"
#include "serveur/actions/DetectionPictures.h"
#include "serveur/actions/JpegWriter.h"

namespace vorlix {

namespace {

std::tm LocalTime(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

int Quality(const CameraFacts& camera)
{
    return camera.settings != nullptr ? camera.settings->qualityJpg : CameraSettings{}.qualityJpg;
}

}  // namespace

void DetectionNaming::Classify(Detection& d)
{
    if (d.matched == 1) {
        const ZoneReading& zone = d.Zone(d.zone);
        TrackMovement(d, d.zone, d.enlarged.centreX, d.enlarged.centreY);
        CheckDirections(d, d.zone);
        const SingleZoneResult result = ClassifySingleZone(d, words_.Current()->words);
        TRACE_LEVEL(kestrel::kLevelUser2, "Position %d (%d,%d)", d.zone + 1, d.enlarged.centreX, d.enlarged.centreY);
        d.kind = result.kind;
        d.label = result.label;
        TRACE_INFO("%s (%d-%d>%d) (%d)", d.label.c_str(), d.enlarged.measure, zone.measure, zone.threshold,
                   d.pictureNumber);
        return;
    }
    if (d.kind != EventKind::SOMEZ) {
        return;
    }
    for (int j = 0; j < d.zoneCount; ++j) {
        const ZoneReading& zone = d.Zone(j);
        if (zone.Matched()) {
            TrackMovement(d, j, zone.centreX, zone.centreY);
            CheckDirections(d, j);
        }
    }
}

void DetectionNaming::TrackMovement(const Detection& d, int zone, int cx, int cy)
{
    TrackingState& state = tracking_.at(static_cast<std::size_t>(zone));
    if (TrackMove(state, cx, cy, d.time) == TrackStep::Restarted) {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "Init Deplacement %d (%d,%d)", zone + 1, cx, cy);
        return;
    }
    TRACE_LEVEL(kestrel::kLevelUnclassified, "Deplacement %d (%d,%d) (L2R=%d R2L=%d T2B=%d B2T=%d)", zone + 1, cx, cy,
                state.l2r, state.r2l, state.t2b, state.b2t);
}

void DetectionNaming::CheckDirections(const Detection& d, int zone)
{
    TrackingState& state = tracking_.at(static_cast<std::size_t>(zone));
    for (const EventKind kind : TakeDirections(state, RowsTopDown(d.format, d.topDown))) {
        // The detection's own picture is not written yet: the event lists the last one.
        events_.Fire(EventContextOf(d, zone, d.shotsBefore, executeAllowed_.load()), zone, kind, 0, d.time);
    }
}

bool PictureActions::Tell(bool written, const std::string& path, int error)
{
    if (written) {
        health_.Written(path);
    } else {
        health_.Failed(path, error);
    }
    return written;
}

void PictureActions::OnSaveImage(const PictureRequest& request)
{
    int error = 0;
    const bool written = WriteSavedPicture(request.picture, request.path, &error);
    Tell(written, request.path, error);
}

void PictureActions::OnClientRefresh(const PictureRequest& request)
{
    int error = 0;
    const bool written =
        WriteRefreshPicture(request.picture, request.path, Quality(request.camera), LocalTime(request.time), &error);
    Tell(written, request.path, error);
}

bool PictureActions::WriteDetectionPicture(const Detection& d)
{
    const int quality = Quality(d.camera);
    const std::string comment = JpegComment(words_.Current()->commentFormat, d.label, quality);
    int error = 0;
    const bool written =
        vorlix::WriteDetectionPicture(d.picture, d.picturePath, d.shot, quality, comment, LocalTime(d.time), &error);
    return Tell(written, d.picturePath, error);
}

void EventActions::OnDetection(const Detection& d)
{
    // Listed with the picture just written (the shot counter after it).
    events_.Fire(EventContextOf(d, d.zone, d.shot, executeAllowed_.load()), d.zone, d.kind, d.zoneMask, d.time);
}

void VorlixActions::LoadVocabulary(const TranslateFn& translate)
{
    auto wording = std::make_shared<Wording>();
    wording->words.Load(translate);
    wording->commentFormat = translate(wording->commentFormat);
    words_.Replace(std::move(wording));
}

}  // namespace vorlix
