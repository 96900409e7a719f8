// The format vorlix_vfw captures in. A camera stays in the format it is in
// when the engine reads it or it is MJPG (decoded by the capture layer),
// except that YUYV gives way to MJPG where the driver says MJPG delivers the
// same size at a higher rate (USB cameras at 1280x720 and above give YUYV at
// a few frames a second only). A format nobody here reads is switched to
// YUYV or MJPG, the faster first.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <optional>
#include <string>

#include "serveur/capture/v4l2/V4l2Device.h"

namespace vorlix::capture {

// Whether frames of `pixelformat` are JPEG pictures.
bool IsJpegFormat(std::uint32_t pixelformat);

// The shortest time between frames the driver offers for `pixelformat` at
// width x height (VIDIOC_ENUM_FRAMEINTERVALS); empty when it does not say.
std::optional<v4l2_fract> FastestInterval(V4l2Device& device, std::uint32_t pixelformat, std::uint32_t width,
                                          std::uint32_t height);

// Whether interval `a` is shorter than `b` (more frames a second).
bool Shorter(const v4l2_fract& a, const v4l2_fract& b);

// `fmt` holds the device's current format (VIDIOC_G_FMT); on return, the
// format to capture in, switched on the device where needed. False when the
// device offers nothing the layer can read.
bool ChooseFormat(V4l2Device& device, const std::string& path, v4l2_format& fmt);

}  // namespace vorlix::capture
