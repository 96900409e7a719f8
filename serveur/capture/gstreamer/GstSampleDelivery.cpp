// Samples of the appsink to the engine's frames: decoded video measured in
// place (packed once when its rows are padded), JPEG pictures decoded here
// and handed to the measuring thread.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstring>

#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/capture/gstreamer/GstCaptureSystem.h"
#include "serveur/core/PixelFormat.h"

namespace vorlix::capture {

int GstCaptureSystem::OnNewSample(GstElement* appsink, void* self)
{
    static_cast<GstCaptureSystem*>(self)->Deliver(appsink);
    return GST_FLOW_OK;
}

namespace {

int EngineFormat(GstVideoFormat format)
{
    switch (format) {
        case GST_VIDEO_FORMAT_I420:
            return kFourccI420;
        case GST_VIDEO_FORMAT_YUY2:
            return kFourccYuy2;
        case GST_VIDEO_FORMAT_RGB:
            return kFormatRgb24;
        default:
            return 0;
    }
}

// The planes of a tight frame of the engine's layout: rows without padding,
// I420's chroma planes of (width + 1) / 2 x (height + 1) / 2 right after the luma.
struct TightPlane {
    std::size_t offset;
    std::size_t rowBytes;
    int rows;
};

int TightPlanes(int format, int width, int height, TightPlane (&planes)[3])
{
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    if (format != kFourccI420) {
        planes[0] = {0, RowBytes(format, width), height};
        return 1;
    }
    const auto cw = static_cast<std::size_t>((width + 1) / 2);
    const int ch = (height + 1) / 2;
    planes[0] = {0, w, height};
    planes[1] = {w * h, cw, ch};
    planes[2] = {w * h + cw * static_cast<std::size_t>(ch), cw, ch};
    return 3;
}

}  // namespace

std::span<const std::uint8_t> GstCaptureSystem::TightFrame(const GstVideoFrame& frame, int format)
{
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    TightPlane planes[3];
    const int count = TightPlanes(format, width, height, planes);
    const auto* base = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const std::size_t bytes = FrameBytes(format, width, height);
    bool inPlace = frame.map[0].size >= bytes;
    for (int p = 0; p < count && inPlace; ++p) {
        const auto* data = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
        inPlace = data == base + planes[p].offset &&
                  static_cast<std::size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p)) == planes[p].rowBytes;
    }
    if (inPlace) {
        // Measured where the decoder wrote it: no copy on a calm frame.
        return {base, bytes};
    }
    // Padded rows (an odd width) or planes apart: packed once into the reused buffer.
    rows_.resize(bytes);
    for (int p = 0; p < count; ++p) {
        const auto* data = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p);
        for (int y = 0; y < planes[p].rows; ++y) {
            std::memcpy(rows_.data() + planes[p].offset + planes[p].rowBytes * static_cast<std::size_t>(y),
                        data + static_cast<std::ptrdiff_t>(stride) * y, planes[p].rowBytes);
        }
    }
    return rows_;
}

void GstCaptureSystem::Deliver(GstElement* appsink)
{
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(appsink));
    if (sample == nullptr) {
        return;
    }
    const GstCaps* caps = gst_sample_get_caps(sample);
    const GstStructure* structure =
        caps != nullptr && gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
    if (structure != nullptr && gst_structure_has_name(structure, "video/x-raw")) {
        DeliverVideo(sample);
    } else {
        // Whatever the camera announced, a part is taken for a JPEG picture
        // (the decoder refuses anything else).
        DeliverJpeg(sample);
    }
    gst_sample_unref(sample);
}

void GstCaptureSystem::DeliverVideo(GstSample* sample)
{
    GstVideoInfo info;
    GstVideoFrame frame;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) ||
        !gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
        return;
    }
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    const int format = EngineFormat(GST_VIDEO_FRAME_FORMAT(&frame));
    if (format != 0) {
        const std::span<const std::uint8_t> data = TightFrame(frame, format);
        lastFrameNs_ = NowNs();
        if (silent_.exchange(false)) {
            TRACE_INFO("Video source delivers frames again (%d x %d)", width, height);
        }
        // The frame stays mapped while the engine reads it.
        if (sink_ != nullptr && !stopping_) {
            sink_->ProcessFrame(Frame{data, width, height, format, kTopDown});
        }
    }
    gst_video_frame_unmap(&frame);
}

void GstCaptureSystem::DeliverJpeg(GstSample* sample)
{
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (!feed_.Running() || stopping_ || buffer == nullptr || !gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        return;
    }
    // A frame measured at a fraction keeps a reference to this buffer, not a copy of it.
    kept_.Offer(buffer);
    const bool taken = feed_.Take(std::span<const std::uint8_t>(map.data, map.size));
    kept_.Offer(nullptr);
    gst_buffer_unmap(buffer, &map);
    if (!taken) {
        return;
    }
    lastFrameNs_ = NowNs();
    if (silent_.exchange(false)) {
        TRACE_INFO("Video source delivers frames again (%d x %d)", feed_.Width(), feed_.Height());
    }
}

}  // namespace vorlix::capture
