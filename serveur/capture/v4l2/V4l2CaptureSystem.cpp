#include "serveur/capture/v4l2/V4l2CaptureSystem.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "libkestrel/profile/Profile.h"
#include "serveur/capture/FormatNames.h"
#include "serveur/core/DetectionScale.h"
#include "serveur/core/SettingsSections.h"

namespace vorlix::capture {
namespace {

// N of a "video<N>" node, -1 for any other name.
int NodeNumber(const std::string& name)
{
    if (name.rfind("video", 0) != 0 || name.size() == 5 || name.size() > 9) {
        return -1;
    }
    for (std::size_t i = 5; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return -1;
        }
    }
    return static_cast<int>(std::strtol(name.c_str() + 5, nullptr, 10));  // at most four digits
}

// The mode-list name of an engine format code.
int FormatNumberOfCode(int code)
{
    switch (code) {
        case kFourccYuy2:
            return FormatNumber("YUY2");
        case kFourccI420:
            return FormatNumber("I420");
        case kFormatRgb16:
            return FormatNumber("RGB565");
        case kFormatRgb24:
            return FormatNumber("RGB24");
        case kFormatRgb32:
            return FormatNumber("RGB32");
        default:
            return 0;
    }
}

}  // namespace

V4l2CaptureSystem::V4l2CaptureSystem(V4l2Options options, DeviceFactory factory)
    : options_(std::move(options)), factory_(std::move(factory)), capture_(factory_())
{
    capture_.SetDetectionScale(options_.detectionScale);
}

V4l2CaptureSystem::~V4l2CaptureSystem()
{
    StopCapture();
    DisconnectDevice();
}

void V4l2CaptureSystem::RefreshDeviceList()
{
    if (Connected()) {
        return;  // indexes must stay valid while a device is in use
    }
    listed_ = true;
    nodes_.clear();
    std::vector<std::pair<int, std::string>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(options_.deviceDir, error)) {
        const int number = NodeNumber(entry.path().filename().string());
        if (number >= 0) {
            found.emplace_back(number, entry.path().string());
        }
    }
    std::sort(found.begin(), found.end());
    for (const auto& [number, path] : found) {
        Node node{path, path};
        std::unique_ptr<V4l2Device> probe = factory_();
        if (probe->Open(path) == 0) {
            v4l2_capability caps{};
            if (probe->Ioctl(VIDIOC_QUERYCAP, &caps) == 0) {
                const std::uint32_t has =
                    (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
                // Metadata and output nodes of the same camera are not cameras.
                if ((has & V4L2_CAP_VIDEO_CAPTURE) == 0 || (has & V4L2_CAP_STREAMING) == 0) {
                    probe->Close();
                    continue;
                }
                const auto* card = reinterpret_cast<const char*>(caps.card);
                const std::string name(card, strnlen(card, sizeof caps.card));
                if (!name.empty()) {
                    node.name = name;
                    node.name.append(" (").append(path).append(")");
                }
            }
            probe->Close();
        }
        nodes_.push_back(std::move(node));  // a node we may not open yet is still listed
    }
}

int V4l2CaptureSystem::DeviceCount()
{
    if (!listed_) {
        RefreshDeviceList();
    }
    return static_cast<int>(nodes_.size());
}

std::string V4l2CaptureSystem::DeviceName(int index)
{
    if (index < 0 || index >= static_cast<int>(nodes_.size())) {
        return {};
    }
    return nodes_[static_cast<std::size_t>(index)].name;
}

int V4l2CaptureSystem::ConnectDevice(int index)
{
    if (!listed_) {
        RefreshDeviceList();
    }
    if (index < 0 || index >= static_cast<int>(nodes_.size())) {
        return -1;
    }
    if (!capture_.ConnectPath(nodes_[static_cast<std::size_t>(index)].path)) {
        return -1;
    }
    connected_ = index;
    return 0;
}

void V4l2CaptureSystem::DisconnectDevice()
{
    StopCapture();
    capture_.Disconnect();
    connected_ = -1;
}

int V4l2CaptureSystem::ModeCount()
{
    return Connected() ? 1 : -1;
}

int V4l2CaptureSystem::GetModeInfo(int index, ModeInfo& info)
{
    if (!Connected() || index != 0) {
        return -1;
    }
    const int format = capture_.Compressed() ? FormatNumber("MJPG") : FormatNumberOfCode(capture_.Format());
    info = ModeInfo{capture_.Width(), capture_.Height(), capture_.Fps(), format};
    return 0;
}

int V4l2CaptureSystem::SetMode(const ModeInfo& info)
{
    // The device keeps its own format; only that one mode is accepted.
    if (!Connected() || info.width != capture_.Width() || info.height != capture_.Height()) {
        return -1;
    }
    return 0;
}

void V4l2CaptureSystem::GetImageSize(int& width, int& height)
{
    // The size the engine measures, so its images are sized once at the start.
    width = Connected() ? capture_.FrameWidth() : 0;
    height = Connected() ? capture_.FrameHeight() : 0;
}

int V4l2CaptureSystem::StartCapture(FrameSink& sink)
{
    if (!Connected()) {
        return -1;
    }
    StopCapture();
    auto scheduler = std::make_unique<GrabScheduler>(
        options_.grab,
        [this] {
            if (refresh_) {
                refresh_();
            }
        },
        options_.wallClock);
    {
        const std::lock_guard lock(schedulerLock_);
        scheduler->SetWindowShown(windowShown_);
        scheduler->Start(FrameGate::Clock::now());
        scheduler_ = std::move(scheduler);
    }
    if (!capture_.Start(sink, scheduler_.get())) {
        const std::lock_guard lock(schedulerLock_);
        scheduler_.reset();
        return -1;
    }
    return 0;
}

void V4l2CaptureSystem::StopCapture()
{
    capture_.Stop();  // joins the capture thread, the scheduler's only other user
    const std::lock_guard lock(schedulerLock_);
    scheduler_.reset();
}

void V4l2CaptureSystem::SetWindowShown(bool shown)
{
    const std::lock_guard lock(schedulerLock_);
    windowShown_ = shown;
    if (scheduler_) {
        scheduler_->SetWindowShown(shown);
    }
}

GrabScheduler::Mode V4l2CaptureSystem::Mode() const
{
    const std::lock_guard lock(schedulerLock_);
    return scheduler_ ? scheduler_->CurrentMode() : GrabScheduler::Mode::First;
}

std::unique_ptr<CaptureSystem> MakeV4l2CaptureSystem(const std::string& iniFile)
{
    V4l2Options options;
    options.grab.frequency =
        std::chrono::milliseconds(kestrel::profile::GetInt(iniFile, section::kMain, "Frequency", 90));
    options.grab.refreshSeconds = kestrel::profile::GetInt(iniFile, section::kMain, "Refresh Picture", 60);
    options.detectionScale = ReadDetectionScale(iniFile);
    return std::make_unique<V4l2CaptureSystem>(std::move(options));
}

}  // namespace vorlix::capture
