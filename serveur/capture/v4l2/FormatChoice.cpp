#include "serveur/capture/v4l2/FormatChoice.h"

#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/capture/v4l2/V4l2Capture.h"

namespace vorlix::capture {
namespace {

// Enough for every discrete list a driver gives; a runaway driver ends here.
constexpr std::uint32_t kMostIntervals = 64;

const char* FormatText(std::uint32_t pixelformat)
{
    return pixelformat == V4L2_PIX_FMT_YUYV ? "YUYV" : "MJPG";
}

double Rate(const v4l2_fract& interval)
{
    return static_cast<double>(interval.denominator) / static_cast<double>(interval.numerator);
}

// Switches the device to `pixelformat` at the size of `fmt`; the format the
// driver took, or nothing when it refused or changed the size.
std::optional<v4l2_format> Switch(V4l2Device& device, const v4l2_format& fmt, std::uint32_t pixelformat)
{
    v4l2_format wanted = fmt;
    wanted.fmt.pix.pixelformat = pixelformat;
    wanted.fmt.pix.bytesperline = 0;
    wanted.fmt.pix.sizeimage = 0;
    wanted.fmt.pix.field = V4L2_FIELD_NONE;
    if (device.Ioctl(VIDIOC_S_FMT, &wanted) != 0 || wanted.fmt.pix.pixelformat != pixelformat) {
        return std::nullopt;
    }
    return wanted;
}

}  // namespace

bool IsJpegFormat(std::uint32_t pixelformat)
{
    return pixelformat == V4L2_PIX_FMT_MJPEG || pixelformat == V4L2_PIX_FMT_JPEG;
}

bool Shorter(const v4l2_fract& a, const v4l2_fract& b)
{
    return static_cast<std::uint64_t>(a.numerator) * b.denominator <
           static_cast<std::uint64_t>(b.numerator) * a.denominator;
}

std::optional<v4l2_fract> FastestInterval(V4l2Device& device, std::uint32_t pixelformat, std::uint32_t width,
                                          std::uint32_t height)
{
    std::optional<v4l2_fract> fastest;
    for (std::uint32_t index = 0; index < kMostIntervals; ++index) {
        v4l2_frmivalenum e{};
        e.index = index;
        e.pixel_format = pixelformat;
        e.width = width;
        e.height = height;
        if (device.Ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &e) != 0) {
            break;
        }
        // Ranges say their shortest interval first; a list is read whole.
        const v4l2_fract interval = e.type == V4L2_FRMIVAL_TYPE_DISCRETE ? e.discrete : e.stepwise.min;
        if (interval.numerator != 0 && interval.denominator != 0 && (!fastest || Shorter(interval, *fastest))) {
            fastest = interval;
        }
        if (e.type != V4L2_FRMIVAL_TYPE_DISCRETE) {
            break;
        }
    }
    return fastest;
}

bool ChooseFormat(V4l2Device& device, const std::string& path, v4l2_format& fmt)
{
    const std::uint32_t own = fmt.fmt.pix.pixelformat;
    if (IsJpegFormat(own) || (EngineFormat(own) != 0 && own != V4L2_PIX_FMT_YUYV)) {
        return true;
    }
    const std::uint32_t width = fmt.fmt.pix.width;
    const std::uint32_t height = fmt.fmt.pix.height;
    const std::optional<v4l2_fract> yuyv = FastestInterval(device, V4L2_PIX_FMT_YUYV, width, height);
    const std::optional<v4l2_fract> mjpg = FastestInterval(device, V4L2_PIX_FMT_MJPEG, width, height);
    const bool mjpgFaster = yuyv && mjpg && Shorter(*mjpg, *yuyv);
    if (own == V4L2_PIX_FMT_YUYV) {
        if (!mjpgFaster) {
            return true;  // the camera's own mode, as the user left it
        }
        const std::optional<v4l2_format> switched = Switch(device, fmt, V4L2_PIX_FMT_MJPEG);
        if (!switched || switched->fmt.pix.width != width || switched->fmt.pix.height != height) {
            if (switched) {
                Switch(device, fmt, V4L2_PIX_FMT_YUYV);  // back to the size that was asked for
            }
            return true;
        }
        // The driver may keep the slow interval YUYV needed: the camera's full rate is asked for.
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe = *mjpg;
        device.Ioctl(VIDIOC_S_PARM, &parm);
        TRACE_INFO("%s switched from YUYV to MJPG: %ux%u at up to %.0f frames a second instead of %.0f", path.c_str(),
                   width, height, Rate(*mjpg), Rate(*yuyv));
        fmt = *switched;
        return true;
    }
    // A format nobody here reads (H.264 and the like).
    const std::uint32_t order[2] = {mjpgFaster ? V4L2_PIX_FMT_MJPEG : V4L2_PIX_FMT_YUYV,
                                    mjpgFaster ? V4L2_PIX_FMT_YUYV : V4L2_PIX_FMT_MJPEG};
    for (const std::uint32_t pixelformat : order) {
        const std::optional<v4l2_format> switched = Switch(device, fmt, pixelformat);
        if (switched) {
            TRACE_INFO("%s switched from format 0x%X to %s", path.c_str(), own, FormatText(pixelformat));
            fmt = *switched;
            return true;
        }
    }
    return false;
}

}  // namespace vorlix::capture
