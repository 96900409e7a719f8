#include "serveur/capture/gstreamer/GstCaptureSystem.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/colorbalance.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "libkestrel/error/QXError.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/capture/gstreamer/GstModes.h"
#include "serveur/capture/gstreamer/GstPipeline.h"
#include "serveur/core/PixelFormat.h"

namespace vorlix::capture {
namespace {

std::string Upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

// The colour-balance channel that stands for a camera property.
GstColorBalanceChannel* FindChannel(GstElement* element, int index)
{
    if (element == nullptr || !GST_IS_COLOR_BALANCE(element)) {
        return nullptr;
    }
    const std::string wanted = Upper(CaptureSystem::PropertyName(index));
    const GList* channels = gst_color_balance_list_channels(GST_COLOR_BALANCE(element));
    for (const GList* l = channels; l != nullptr; l = l->next) {
        auto* channel = static_cast<GstColorBalanceChannel*>(l->data);
        const std::string label = Upper(channel->label != nullptr ? channel->label : "");
        if (label == wanted || label.rfind(wanted, 0) == 0) {
            return channel;
        }
    }
    return nullptr;
}

}  // namespace

GstCaptureSystem::GstCaptureSystem(std::string uri, std::chrono::milliseconds retry, std::chrono::milliseconds silence)
    : uri_(std::move(uri)), retry_(retry), silence_(silence)
{
}

GstCaptureSystem::~GstCaptureSystem()
{
    StopCapture();
    DisconnectDevice();
    ClearDevices();
}

int GstCaptureSystem::Initialise()
{
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        if (error != nullptr) {
            g_error_free(error);
        }
        return -1;
    }
    return 0;
}

void GstCaptureSystem::ClearDevices()
{
    for (Device& d : devices_) {
        if (d.device != nullptr) {
            gst_object_unref(d.device);
        }
    }
    devices_.clear();
}

void GstCaptureSystem::RefreshDeviceList()
{
    if (Connected()) {
        return;  // indexes must stay valid while a device is in use
    }
    ClearDevices();
    const GstMode learnt{};  // size and rate come with the first frame
    const char* source = std::getenv(kSourceVariable);
    if (source != nullptr && *source != '\0') {
        devices_.push_back(Device{source, GstSourceKind::Pipeline, source, nullptr, {learnt}});
        return;
    }
    if (!uri_.empty()) {
        devices_.push_back(Device{uri_, GstSourceKind::Uri, uri_, nullptr, {learnt}});
    }

    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    if (gst_device_monitor_start(monitor)) {
        GList* found = gst_device_monitor_get_devices(monitor);
        for (GList* l = found; l != nullptr; l = l->next) {
            auto* dev = static_cast<GstDevice*>(l->data);
            gchar* name = gst_device_get_display_name(dev);
            Device d{name != nullptr ? name : "Camera", GstSourceKind::Monitor, {}, dev, {}};
            g_free(name);
            if (GstCaps* caps = gst_device_get_caps(dev)) {
                d.modes = ModesOfCaps(caps);
                gst_caps_unref(caps);
            }
            devices_.push_back(std::move(d));  // takes the list's reference
        }
        g_list_free(found);
        gst_device_monitor_stop(monitor);
    }
    gst_object_unref(monitor);
    devices_.push_back(Device{kTestPatternName, GstSourceKind::TestPattern, {}, nullptr, TestPatternModes()});
}

int GstCaptureSystem::DeviceCount()
{
    if (devices_.empty()) {
        RefreshDeviceList();
    }
    return static_cast<int>(devices_.size());
}

std::string GstCaptureSystem::DeviceName(int index)
{
    if (index < 0 || index >= static_cast<int>(devices_.size())) {
        return {};
    }
    return devices_[static_cast<std::size_t>(index)].name;
}

int GstCaptureSystem::ConnectDevice(int index)
{
    if (devices_.empty()) {
        RefreshDeviceList();
    }
    if (index < 0 || index >= static_cast<int>(devices_.size())) {
        return -1;
    }
    DisconnectDevice();
    connected_ = index;
    ++connections_;
    mode_ = devices_[static_cast<std::size_t>(index)].modes.front();
    return 0;
}

void GstCaptureSystem::DisconnectDevice()
{
    StopCapture();
    DestroyPipeline();
    connected_ = -1;
}

int GstCaptureSystem::ModeCount()
{
    if (!Connected()) {
        return -1;
    }
    return static_cast<int>(devices_[static_cast<std::size_t>(connected_)].modes.size());
}

int GstCaptureSystem::GetModeInfo(int index, ModeInfo& info)
{
    if (!Connected() || index < 0 || index >= ModeCount()) {
        return -1;
    }
    info = devices_[static_cast<std::size_t>(connected_)].modes[static_cast<std::size_t>(index)].info;
    return 0;
}

int GstCaptureSystem::SetMode(const ModeInfo& info)
{
    if (!Connected()) {
        return -1;
    }
    const auto& modes = devices_[static_cast<std::size_t>(connected_)].modes;
    const auto it = std::find_if(modes.begin(), modes.end(), [&](const GstMode& m) {
        return m.info.width == info.width && m.info.height == info.height && m.info.fps == info.fps &&
               m.info.format == info.format;
    });
    if (it == modes.end()) {
        return -1;
    }
    StopCapture();
    mode_ = *it;
    return BuildPipeline() ? 0 : -1;
}

void GstCaptureSystem::SetFrameRate(int fps)
{
    // Kept for the next pipeline; 0 leaves the mode's own rate.
    if (fps == fps_) {
        return;
    }
    fps_ = fps;
    if (pipeline_ != nullptr && !capturing_) {
        BuildPipeline();
    }
}

void GstCaptureSystem::GetImageSize(int& width, int& height)
{
    width = mode_.info.width;
    height = mode_.info.height;
}

bool GstCaptureSystem::BuildPipeline()
{
    DestroyPipeline();
    const Device& d = devices_[static_cast<std::size_t>(connected_)];
    const std::string text = PipelineText(d.kind, d.source, mode_.caps, fps_);
    GError* error = nullptr;
    GstElement* built = gst_parse_launch(text.c_str(), &error);
    if (error != nullptr) {
        TRACE_WARN("Video pipeline \"%s\": %s", text.c_str(), error->message);
        g_error_free(error);
        if (built != nullptr) {
            gst_object_unref(built);
        }
        return false;
    }
    if (built == nullptr || !GST_IS_PIPELINE(built)) {
        if (built != nullptr) {
            gst_object_unref(built);
        }
        return false;
    }
    pipeline_ = built;
    if (d.kind == GstSourceKind::Uri && !SetAddress()) {
        DestroyPipeline();
        return false;
    }
    if (d.kind == GstSourceKind::Monitor) {
        GstElement* source = gst_device_create_element(d.device, nullptr);
        GstElement* filter = gst_bin_get_by_name(GST_BIN(pipeline_), kFilterName);
        const bool linked = source != nullptr && filter != nullptr && gst_bin_add(GST_BIN(pipeline_), source) &&
                            gst_element_link(source, filter);
        if (filter != nullptr) {
            gst_object_unref(filter);
        }
        if (!linked) {
            DestroyPipeline();
            return false;
        }
        balance_ = GST_ELEMENT(gst_object_ref(source));
    } else {
        balance_ = gst_bin_get_by_name(GST_BIN(pipeline_), kBalanceName);
    }
    GstElement* appsink = gst_bin_get_by_name(GST_BIN(pipeline_), kAppSinkName);
    g_signal_connect(appsink, "new-sample", G_CALLBACK(&GstCaptureSystem::OnNewSample), this);
    g_object_set(appsink, "emit-signals", TRUE, nullptr);
    gst_object_unref(appsink);
    // READY opens the device, so its controls can be read and set before capture.
    if (gst_element_set_state(pipeline_, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        DestroyPipeline();
        return false;
    }
    return true;
}

bool GstCaptureSystem::SetAddress()
{
    const std::string& address = devices_[static_cast<std::size_t>(connected_)].source;
    const UriSource source = UriSourceFor(address);
    if (source.uri.starts_with("file://")) {
        gchar* file = g_filename_from_uri(source.uri.c_str(), nullptr, nullptr);
        const bool readable = file != nullptr && g_file_test(file, G_FILE_TEST_IS_REGULAR) && access(file, R_OK) == 0;
        const int why = errno;
        if (!readable) {
            TRACE_ERROR("Video file %s cannot be read: %s", file != nullptr ? file : address.c_str(),
                        file != nullptr && g_file_test(file, G_FILE_TEST_EXISTS) && why != 0 ? std::strerror(why)
                                                                                             : "no such file");
        }
        g_free(file);
        if (!readable) {
            return false;
        }
    }
    GstElement* reader = gst_bin_get_by_name(GST_BIN(pipeline_), kUriSourceName);
    if (reader == nullptr) {
        return false;
    }
    g_object_set(reader, source.property.c_str(), source.uri.c_str(), nullptr);
    gst_object_unref(reader);
    return true;
}

void GstCaptureSystem::DestroyPipeline()
{
    if (pipeline_ == nullptr) {
        return;
    }
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    if (balance_ != nullptr) {
        gst_object_unref(balance_);
    }
    balance_ = nullptr;
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;
}

int GstCaptureSystem::GetProperty(int index, PropertyValue& value)
{
    GstColorBalanceChannel* channel = FindChannel(balance_, index);
    if (channel == nullptr) {
        return -1;
    }
    value.value = gst_color_balance_get_value(GST_COLOR_BALANCE(balance_), channel);
    value.minimum = channel->min_value;
    value.maximum = channel->max_value;
    return 0;
}

void GstCaptureSystem::SetProperty(int index, int value)
{
    GstColorBalanceChannel* channel = FindChannel(balance_, index);
    if (channel == nullptr) {
        return;
    }
    value = std::clamp(value, channel->min_value, channel->max_value);
    gst_color_balance_set_value(GST_COLOR_BALANCE(balance_), channel, value);
}

int GstCaptureSystem::StartCapture(FrameSink& sink)
{
    if (capturing_) {
        return 0;
    }
    if (pipeline_ == nullptr && (!Connected() || !BuildPipeline())) {
        return -1;
    }
    sink_ = &sink;
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        return -1;
    }
    stopping_ = false;
    silent_ = false;
    capturing_ = true;
    bus_ = std::thread([this] { BusLoop(); });
    return 0;
}

void GstCaptureSystem::StopCapture()
{
    if (bus_.joinable()) {
        {
            const std::lock_guard lock(wait_);
            stopping_ = true;
        }
        wake_.notify_all();
        bus_.join();
    }
    if (pipeline_ != nullptr) {
        gst_element_set_state(pipeline_, GST_STATE_READY);
    }
    capturing_ = false;
    silent_ = false;
}

bool GstCaptureSystem::Reconnectable() const
{
    const GstSourceKind kind = devices_[static_cast<std::size_t>(connected_)].kind;
    return kind == GstSourceKind::Uri || kind == GstSourceKind::Pipeline;
}

std::int64_t GstCaptureSystem::NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void GstCaptureSystem::BusLoop()
{
    GstBus* bus = gst_element_get_bus(pipeline_);
    const std::string name = devices_[static_cast<std::size_t>(connected_)].name;
    const std::int64_t silenceNs = std::chrono::duration_cast<std::chrono::nanoseconds>(silence_).count();
    const long long silenceMs = silence_.count();
    const std::string silence =
        silenceMs % 1000 == 0 ? std::to_string(silenceMs / 1000) + " s" : std::to_string(silenceMs) + " ms";
    std::int64_t waitingSince = NowNs();  // of the current (re)start
    while (!stopping_) {
        GstMessage* msg = gst_bus_timed_pop_filtered(bus, 100 * GST_MSECOND,
                                                     static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
        std::string why;
        if (msg == nullptr) {
            const std::int64_t last = std::max(lastFrameNs_.load(), waitingSince);
            if (NowNs() - last < silenceNs) {
                continue;
            }
            // A source that opened but sends nothing (a silent server, a
            // stalled camera) is said, then handled as a lost one.
            why = "no frame in " + silence;
            if (!Reconnectable()) {
                silent_ = true;
                TRACE_WARN("Video device %s: %s", name.c_str(), why.c_str());
                waitingSince = NowNs();
                continue;
            }
        } else {
            why = "end of stream";
            if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
                GError* error = nullptr;
                gst_message_parse_error(msg, &error, nullptr);
                why = error != nullptr ? error->message : "error";
                if (error != nullptr) {
                    g_error_free(error);
                }
            }
            gst_message_unref(msg);
        }
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        // Until the retry delivers, the camera gives no picture (the status says so).
        silent_ = true;
        if (!Reconnectable()) {
            TRACE_ERROR("Video device %s lost: %s", name.c_str(), why.c_str());
            capturing_ = false;
            break;
        }
        const auto seconds = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(retry_).count());
        TRACE_WARN("Video source %s lost (%s), reconnecting in %d s", name.c_str(), why.c_str(), seconds);
        std::unique_lock lock(wait_);
        if (wake_.wait_for(lock, retry_, [this] { return stopping_.load(); })) {
            break;
        }
        lock.unlock();
        // A fresh pipeline: decoders with pads made on the fly (an address's
        // reader, a multipart splitter) are linked only when first built.
        gst_object_unref(bus);
        bus = nullptr;
        while (!BuildPipeline()) {
            TRACE_WARN("Video source %s cannot be opened, trying again in %d s", name.c_str(), seconds);
            lock.lock();
            const bool stop = wake_.wait_for(lock, retry_, [this] { return stopping_.load(); });
            lock.unlock();
            if (stop) {
                return;
            }
        }
        bus = gst_element_get_bus(pipeline_);
        waitingSince = NowNs();
        gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    }
    if (bus != nullptr) {
        gst_object_unref(bus);
    }
}

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
    GstVideoInfo info;
    GstVideoFrame frame;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
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
    gst_sample_unref(sample);
}

std::unique_ptr<CaptureSystem> MakeGstCaptureSystem(const std::string& iniFile)
{
    return std::make_unique<GstCaptureSystem>(kestrel::profile::GetString(iniFile, "Vorlix", "VideoURI", ""));
}

}  // namespace vorlix::capture
