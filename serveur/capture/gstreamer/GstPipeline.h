// The text of the capture pipeline for each kind of source, up to the
// appsink that hands the frames (decoded video, or JPEG pictures the capture
// layer decodes itself) to the capture layer.
#pragma once

#include <string>

namespace vorlix::capture {

enum class GstSourceKind { Pipeline, Uri, Monitor, TestPattern };

// The name of the appsink, of the element with the picture controls of the
// test camera, and of the caps filter a device source is linked to.
inline constexpr const char* kAppSinkName = "sink";
inline constexpr const char* kBalanceName = "balance";
inline constexpr const char* kFilterName = "filter";
// The element that reads a "VideoURI" address; the address is set on it as a
// property, never pasted into the pipeline text, so no address can add elements.
inline constexpr const char* kUriSourceName = "address";

// How an address of "VideoURI" is read.
struct UriSource {
    std::string uri;       // the address as GStreamer takes it ("file://..." for a path)
    std::string property;  // the property of kUriSourceName that takes it
    std::string text;      // the pipeline up to the pictures
    bool jpeg = false;     // the pictures are still JPEG (an MJPEG camera read by our own decoder)
};

// Who decodes the JPEG pictures of MJPEG cameras: the capture layer itself
// (straight to planar YUV, the default) or GStreamer's jpegdec.
enum class JpegDecoding { Own, Gstreamer };

// HTTP addresses are MJPEG cameras (multipart JPEG parts, whatever type the
// server announces); other schemes (rtsp, file, ...) go to GStreamer's own
// decoder choice; a plain path (no scheme) is a file, relative to the
// working directory.
UriSource UriSourceFor(const std::string& address, JpegDecoding decoding = JpegDecoding::Own);

// Whether a device mode's caps filter selects JPEG pictures (a USB camera in MJPG).
bool JpegCaps(const std::string& caps);

// `source`: the pipeline text (Pipeline) or the address (Uri, see UriSourceFor); `caps`: the
// mode's caps filter (Monitor, TestPattern); `fps` above 0 caps the rate.
// A Monitor pipeline starts at its caps filter: the device's own element is
// linked in front of it once the pipeline is built. With JpegDecoding::Own
// an MJPEG camera's pictures reach the appsink undecoded.
std::string PipelineText(GstSourceKind kind, const std::string& source, const std::string& caps, int fps,
                         JpegDecoding decoding = JpegDecoding::Own);

}  // namespace vorlix::capture
