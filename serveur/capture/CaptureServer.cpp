#include "serveur/capture/CaptureServer.h"

#include <cstdio>

#include "libkestrel/error/QXError.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/capture/FormatNames.h"

namespace vorlix::capture {

CaptureServer::CaptureServer(CaptureCamera& camera) : camera_(camera) {}

CaptureServer::~CaptureServer()
{
    CloseDevice();
}

bool CaptureServer::StartSystem(std::unique_ptr<CaptureSystem> system)
{
    system_ = std::move(system);
    if (!system_) {
        TRACE_ERROR("Failed to create video capture system.");
        return false;
    }
    if (system_->Initialise() < 0) {
        TRACE_ERROR("Failed to initialize video capture system.");
        system_.reset();
        return false;
    }
    system_->SetClientRefresh([this] { camera_.RequestClientRefresh(); });
    system_->RefreshDeviceList();
    const int count = system_->DeviceCount();
    if (count < 0) {
        TRACE_ERROR("Error refreshing device list.");
        return false;
    }
    for (int i = 0; i < count; ++i) {
        TRACE_TRACE("%s", system_->DeviceName(i).c_str());
    }
    return true;
}

bool CaptureServer::Connect(int device)
{
    if (system_->Connected() && system_->ConnectedIndex() == device) {
        return true;
    }
    if (system_->Connected()) {
        system_->DisconnectDevice();
    }
    if (system_->ConnectDevice(device) < 0) {
        TRACE_ERROR("Could not connect to device!");
        return false;
    }
    return true;
}

bool CaptureServer::StartCapture(std::optional<int> device, int mode)
{
    if (!system_) {
        return false;
    }
    if (system_->Capturing()) {
        system_->StopCapture();
    }
    running_ = false;
    if (device) {
        if (!Connect(*device)) {
            return false;
        }
        deviceIndex_ = *device;
    }
    modeIndex_ = mode;
    if (!system_->Connected()) {
        TRACE_ERROR("Cannot refresh mode list - Please select a device first.");
        return false;
    }
    ModeInfo info;
    if (mode < 0 || system_->GetModeInfo(mode, info) < 0) {
        TRACE_ERROR("Failed to GET mode info!");
        return false;
    }
    if (system_->SetMode(info) < 0) {
        TRACE_ERROR("Failed to set mode!");
        return false;
    }
    system_->SetFrameRate(camera_.Fps());
    int width = 0;
    int height = 0;
    system_->GetImageSize(width, height);
    Resize(width, height);
    ApplyProperties();
    if (system_->StartCapture(camera_.Sink()) < 0) {
        TRACE_ERROR("Failed to start image capture!");
        return false;
    }
    running_ = true;
    return true;
}

bool CaptureServer::StartConfigured(int videoDevice, int videoFormat)
{
    if (system_ && !system_->HasDeviceSettings()) {
        return StartCapture(0, 0);
    }
    return StartCapture(videoDevice, videoFormat);
}

void CaptureServer::CloseDevice()
{
    if (!system_) {
        return;
    }
    if (system_->Capturing()) {
        system_->StopCapture();
    }
    running_ = false;
    if (system_->Connected()) {
        system_->DisconnectDevice();
    }
}

std::vector<std::string> CaptureServer::DeviceList()
{
    std::vector<std::string> names;
    if (!system_) {
        return names;
    }
    system_->RefreshDeviceList();
    const int count = system_->DeviceCount();
    if (count < 0) {
        TRACE_ERROR("Error refreshing device list.");
        return names;
    }
    for (int i = 0; i < count; ++i) {
        names.push_back(system_->DeviceName(i));
        TRACE_TRACE("%s", names.back().c_str());
    }
    return names;
}

std::vector<std::string> CaptureServer::ModeList()
{
    std::vector<std::string> modes;
    if (!system_ || !system_->Connected()) {
        TRACE_ERROR("Cannot refresh mode list - Please select a device first.");
        return modes;
    }
    const int count = system_->ModeCount();
    for (int i = 0; i < count; ++i) {
        ModeInfo info;
        if (system_->GetModeInfo(i, info) < 0) {
            TRACE_ERROR("Failed to GET mode info!");
            continue;
        }
        char line[128];
        std::snprintf(line, sizeof line, "%d x %d @ %d fps - %s", info.width, info.height, info.fps,
                      std::string(FormatName(info.format)).c_str());
        modes.emplace_back(line);
    }
    return modes;
}

bool CaptureServer::SelectDevice(int device)
{
    if (!system_) {
        return false;
    }
    if (system_->Connected() && system_->ConnectedIndex() == device) {
        return true;
    }
    if (system_->Capturing()) {
        system_->StopCapture();
    }
    running_ = false;
    if (!Connect(device)) {
        return false;
    }
    deviceIndex_ = device;
    return true;
}

void CaptureServer::SaveProperties()
{
    if (!system_ || !system_->Connected()) {
        return;
    }
    const std::string ini = camera_.IniFile();
    for (int i = 0; i < kPropertyCount; ++i) {
        const std::string name = CaptureSystem::PropertyName(i);
        PropertyValue value;
        if (system_->GetProperty(i, value) != 0) {
            continue;
        }
        kestrel::profile::WriteInt(ini, kFormatSection, name, value.value);
        TRACE_TRACE("%s=%d", name.c_str(), value.value);
    }
}

void CaptureServer::ApplyProperties()
{
    if (!system_ || !system_->Connected()) {
        return;
    }
    const std::string ini = camera_.IniFile();
    for (int i = 0; i < kPropertyCount; ++i) {
        const std::string name = CaptureSystem::PropertyName(i);
        if (!kestrel::profile::Read(ini, kFormatSection, name)) {
            continue;
        }
        system_->SetProperty(i, kestrel::profile::GetInt(ini, kFormatSection, name, 0));
    }
}

void CaptureServer::FormatButton()
{
    if (!system_ || !system_->Connected()) {
        return;
    }
    system_->FormatDialog();
    int width = 0;
    int height = 0;
    system_->GetImageSize(width, height);
    Resize(width, height);
}

void CaptureServer::SetWindowShown(bool shown)
{
    if (system_) {
        system_->SetWindowShown(shown);
    }
}

void CaptureServer::Resize(int width, int height)
{
    if (width <= 0 || height <= 0) {
        return;  // learnt from the first frame
    }
    camera_.ResizeBuffers(width, height);
    camera_.ComputeZoneThresholds();
}

}  // namespace vorlix::capture
