#include "serveur/app/TrayText.h"

namespace vorlix::app {

namespace {
TrayStatus Status(const TrayState& s, int camera, const TranslateFn& tr);
}

TrayStatus MakeTrayStatus(const TrayState& s, int camera, const TranslateFn& tr)
{
    TrayStatus out = Status(s, camera, tr);
    if (s.cameraExists && !s.pictureTrouble.empty()) {
        // Lost pictures are said while they are lost, whatever else the line says.
        out.text += "\n" + tr("Pictures not written") + " (" + s.pictureTrouble + ")";
    }
    return out;
}

namespace {

TrayStatus Status(const TrayState& s, int camera, const TranslateFn& tr)
{
    if (!s.cameraExists) {
        return {tr("close"), kIconOff + camera};
    }
    TrayStatus out;
    if (s.clients > 0) {
        out.text = s.clients == 1 ? tr("1 client") : std::to_string(s.clients) + " " + tr("clients");
        if (!s.captureRunning) {
            out.text += "\n" + tr("Vorlix is OFF");
        } else if (s.sourceSilent) {
            out.text += "\n" + tr("No picture from the camera");
        } else if (!s.detectionOn) {
            out.text += "\n" + tr("Motion is OFF");
        }
        out.icon = kIconClients + camera;
        return out;
    }
    out.text = s.streamRunning ? tr("no client") : tr("Remote Access is OFF");
    if (!s.captureRunning) {
        out.text += "\n" + tr("Vorlix is OFF");
        out.icon = kIconOff + camera;
    } else if (s.sourceSilent) {
        out.text += "\n" + tr("No picture from the camera");
        out.icon = kIconOff + camera;
    } else if (s.detectionOn) {
        out.icon = kIconWatching + camera;
    } else {
        out.text += "\n" + tr("Motion is OFF");
        out.icon = kIconOff + camera;
    }
    return out;
}

}  // namespace

}  // namespace vorlix::app
