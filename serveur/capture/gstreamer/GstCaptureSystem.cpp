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
#include "serveur/core/DetectionScale.h"
#include "serveur/core/PixelFormat.h"
#include "serveur/core/SettingsSections.h"

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

GstCaptureSystem::GstCaptureSystem(std::string uri, std::chrono::milliseconds retry, std::chrono::milliseconds silence,
                                   JpegDecoding decoding)
    : uri_(std::move(uri)), retry_(retry), silence_(silence), decoding_(decoding)
{
}

GstCaptureSystem::~GstCaptureSystem()
{
    // This class's own stop: nothing derived is left to call at this point.
    GstCaptureSystem::StopCapture();
    GstCaptureSystem::DisconnectDevice();
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
    GstCaptureSystem::StopCapture();
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
    feed_.Start(sink, detectionScale_);
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        feed_.Stop();
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
    // No frame is decoded any more: the measuring thread ends after its frame.
    feed_.Stop();
    capturing_ = false;
    silent_ = false;
}

std::unique_ptr<CaptureSystem> MakeGstCaptureSystem(const std::string& iniFile)
{
    const char* decoder = std::getenv(kJpegDecoderVariable);
    const JpegDecoding decoding =
        decoder != nullptr && std::string_view(decoder) == "gstreamer" ? JpegDecoding::Gstreamer : JpegDecoding::Own;
    auto system =
        std::make_unique<GstCaptureSystem>(kestrel::profile::GetString(iniFile, section::kMain, "VideoURI", ""),
                                           std::chrono::seconds(10), std::chrono::seconds(10), decoding);
    system->SetDetectionScale(ReadDetectionScale(iniFile));
    return system;
}

}  // namespace vorlix::capture
