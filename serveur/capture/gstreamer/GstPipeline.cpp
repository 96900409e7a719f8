#include "serveur/capture/gstreamer/GstPipeline.h"

namespace vorlix::capture {

std::string PipelineText(GstSourceKind kind, const std::string& source, const std::string& caps, int fps)
{
    std::string text;
    switch (kind) {
        case GstSourceKind::Pipeline:
            text = source;
            break;
        case GstSourceKind::Uri:
            text = "uridecodebin uri=\"" + source + "\"";
            break;
        case GstSourceKind::Monitor:
            text = std::string("capsfilter name=") + kFilterName + " caps=\"" + caps + "\" ! decodebin";
            break;
        case GstSourceKind::TestPattern:
            text = "videotestsrc is-live=true pattern=ball ! " + caps + " ! videobalance name=" + kBalanceName;
            break;
    }
    if (fps > 0) {
        text += " ! videorate max-rate=" + std::to_string(fps);
    }
    text += std::string(" ! videoconvert ! video/x-raw,format=RGB ! appsink name=") + kAppSinkName +
            " max-buffers=1 drop=true";
    return text;
}

}  // namespace vorlix::capture
