// The GStreamer layer without a device: caps become the dialog's modes, and
// each kind of source becomes its pipeline text.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "serveur/capture/FormatNames.h"
#include "serveur/capture/gstreamer/GstModes.h"
#include "serveur/capture/gstreamer/GstPipeline.h"

namespace vorlix::capture {
namespace {

struct CapsDeleter {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
using Caps = std::unique_ptr<GstCaps, CapsDeleter>;

Caps Parse(const char* text)
{
    gst_init(nullptr, nullptr);
    return Caps(gst_caps_from_string(text));
}

TEST(GstModes, EveryRateOfEverySizedStructureIsAMode)
{
    const Caps caps = Parse(
        "video/x-raw,format=YUY2,width=640,height=480,framerate={ 30/1, 15/1 }; "
        "image/jpeg,width=1280,height=720,framerate=30/1; video/x-raw,format=NV12; "
        "video/x-raw,format=BGRx,width=320,height=240");
    ASSERT_NE(caps, nullptr);
    const std::vector<GstMode> modes = ModesOfCaps(caps.get());
    ASSERT_EQ(modes.size(), 4U);  // the structure without a size is no mode
    EXPECT_EQ(modes[0].info.width, 640);
    EXPECT_EQ(modes[0].info.height, 480);
    EXPECT_EQ(modes[0].info.fps, 30);
    EXPECT_EQ(modes[0].info.format, FormatNumber("YUY2"));
    EXPECT_EQ(modes[0].caps, "video/x-raw,width=640,height=480,format=YUY2,framerate=30/1");
    EXPECT_EQ(modes[1].info.fps, 15);
    EXPECT_EQ(modes[2].info.format, FormatNumber("MJPG"));
    EXPECT_EQ(modes[2].caps, "image/jpeg,width=1280,height=720,framerate=30/1");
    // Without a rate: one mode of rate 0, and no rate in its filter.
    EXPECT_EQ(modes[3].info.fps, 0);
    EXPECT_EQ(modes[3].info.format, FormatNumber("RGB32"));
    EXPECT_EQ(modes[3].caps, "video/x-raw,width=320,height=240,format=BGRx");
}

TEST(GstModes, FormatNamesOfTheCommonCaps)
{
    const Caps caps = Parse(
        "video/x-raw,format=RGB; video/x-raw,format=RGBA; video/x-raw,format=RGB16; video/x-raw,format=GRAY8; "
        "video/x-raw,format=Y41B; video/x-raw,format=I420; video/x-raw,format=NV12; audio/x-raw");
    ASSERT_NE(caps, nullptr);
    const auto at = [&](guint i) { return FormatOfCaps(gst_caps_get_structure(caps.get(), i)); };
    EXPECT_EQ(at(0), FormatNumber("RGB24"));
    EXPECT_EQ(at(1), FormatNumber("ARGB32"));
    EXPECT_EQ(at(2), FormatNumber("RGB565"));
    EXPECT_EQ(at(3), FormatNumber("Y800"));
    EXPECT_EQ(at(4), FormatNumber("Y411"));
    EXPECT_EQ(at(5), FormatNumber("I420"));
    EXPECT_EQ(at(6), 0);  // no name in the table
    EXPECT_EQ(at(7), 0);
}

TEST(GstModes, TestCameraHasThreeSizesAtTwoRates)
{
    const std::vector<GstMode> modes = TestPatternModes();
    ASSERT_EQ(modes.size(), 6U);
    EXPECT_EQ(modes[3].info.width, 640);
    EXPECT_EQ(modes[3].info.fps, 30);
    EXPECT_EQ(modes[3].caps, "video/x-raw,width=640,height=480,framerate=30/1");
}

TEST(GstPipeline, EachSourceEndsInTheAppsinkOfItsLayouts)
{
    const std::string tail = " ! videoconvert ! video/x-raw,format=RGB ! appsink name=sink max-buffers=1 drop=true";
    EXPECT_EQ(PipelineText(GstSourceKind::Pipeline, "videotestsrc", "", 0), "videotestsrc" + tail);
    // The address is set on the named reader, never pasted into the text.
    const std::string native =
        " ! videoconvert ! video/x-raw,format=(string){I420,YUY2,RGB} ! appsink name=sink max-buffers=1 drop=true";
    EXPECT_EQ(PipelineText(GstSourceKind::Uri, "rtsp://127.0.0.1/cam\" ! filesink location=x", "", 0),
              "uridecodebin name=address" + native);
    // A camera in MJPG hands its JPEG pictures to the capture layer's own decoder.
    const std::string jpegTail = " ! appsink name=sink max-buffers=1 drop=true";
    EXPECT_EQ(PipelineText(GstSourceKind::Monitor, "", "image/jpeg,width=640,height=480", 0),
              "capsfilter name=filter caps=\"image/jpeg,width=640,height=480\"" + jpegTail);
    EXPECT_EQ(
        PipelineText(GstSourceKind::Monitor, "", "image/jpeg,width=640,height=480", 15, JpegDecoding::Gstreamer),
        "capsfilter name=filter caps=\"image/jpeg,width=640,height=480\" ! decodebin ! videorate max-rate=15" + native);
    EXPECT_EQ(PipelineText(GstSourceKind::Monitor, "", "video/x-raw,format=YUY2,width=640,height=480", 0),
              "capsfilter name=filter caps=\"video/x-raw,format=YUY2,width=640,height=480\" ! decodebin" + native);
    EXPECT_EQ(PipelineText(GstSourceKind::Uri, "http://127.0.0.1/cam", "", 10),
              "souphttpsrc name=address is-live=true do-timestamp=true timeout=30 ! multipartdemux "
              "single-stream=true ! videorate max-rate=10" +
                  jpegTail);
    EXPECT_EQ(PipelineText(GstSourceKind::Uri, "http://127.0.0.1/cam", "", 0, JpegDecoding::Gstreamer),
              "souphttpsrc name=address is-live=true do-timestamp=true timeout=30 ! multipartdemux "
              "single-stream=true ! jpegdec" +
                  native);
    EXPECT_EQ(PipelineText(GstSourceKind::TestPattern, "", "video/x-raw,width=320,height=240", 5),
              "videotestsrc is-live=true pattern=ball ! video/x-raw,width=320,height=240 ! videobalance "
              "name=balance ! videorate max-rate=5" +
                  tail);
}

TEST(GstPipeline, AddressesAreReadByTheirKind)
{
    const UriSource http = UriSourceFor("HTTP://127.0.0.1:8080/cam.mjpg");
    EXPECT_EQ(http.property, "location");
    EXPECT_EQ(http.uri, "HTTP://127.0.0.1:8080/cam.mjpg");
    EXPECT_NE(http.text.find("souphttpsrc name=address"), std::string::npos);
    EXPECT_NE(http.text.find("multipartdemux"), std::string::npos);
    EXPECT_TRUE(http.jpeg);
    EXPECT_FALSE(UriSourceFor("http://127.0.0.1/cam", JpegDecoding::Gstreamer).jpeg);

    const UriSource rtsp = UriSourceFor("rtsp://127.0.0.1:8554/live");
    EXPECT_EQ(rtsp.property, "uri");
    EXPECT_EQ(rtsp.uri, "rtsp://127.0.0.1:8554/live");
    EXPECT_EQ(rtsp.text, "uridecodebin name=address");
    EXPECT_FALSE(rtsp.jpeg);

    EXPECT_EQ(UriSourceFor("file:///srv/cam/a.mp4").uri, "file:///srv/cam/a.mp4");
    EXPECT_EQ(UriSourceFor("/srv/my cam/a#1.mp4").uri, "file:///srv/my%20cam/a%231.mp4");
    EXPECT_EQ(UriSourceFor("/srv/cam/../a.mp4").uri, "file:///srv/a.mp4");
    const UriSource relative = UriSourceFor("clip.mp4");
    EXPECT_EQ(relative.uri, "file://" + (std::filesystem::current_path() / "clip.mp4").string());
    EXPECT_EQ(relative.property, "uri");
    // A drive-like or scheme-less colon is a path, not a scheme.
    EXPECT_TRUE(UriSourceFor("/tmp/a:b.mp4").uri.starts_with("file:///tmp/a:b.mp4"));
}

}  // namespace
}  // namespace vorlix::capture
