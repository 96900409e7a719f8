// The program frame's side that faces the window and the tray: tray text,
// menu states and commands, and the window's own settings.
#include <cstdio>
#include <utility>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/app/MenuCommands.h"
#include "serveur/app/ServerApp.h"
#include "serveur/core/SettingsSections.h"

namespace vorlix::app {

TrayStatus ServerApp::Tray() const
{
    TrayState state;
    if (camera_) {
        state.cameraExists = true;
        state.clients = camera_->CountStreamClients();
        state.streamRunning = camera_->StreamRunning();
        state.captureRunning = camera_->CaptureRunning();
        state.sourceSilent = camera_->CaptureSilent();
        state.detectionOn = camera_->DetectionOn();
        state.pictureTrouble = camera_->PictureTrouble();
    }
    return MakeTrayStatus(state, line_.camera, [this](std::string_view t) { return Tr(t); });
}

void ServerApp::UpdateTray()
{
    TrayStatus status = Tray();
    if (status.text == lastTrayText_ && status.icon == lastTrayIcon_) {
        return;
    }
    std::string oneLine = status.text;
    for (char& c : oneLine) {
        if (c == '\n') {
            c = ' ';
        }
    }
    TRACE_INFO("Tray: %s (icon %d)", oneLine.c_str(), status.icon);
    if (line_.headless) {
        std::fprintf(stderr, "vorlix[%d]: %s\n", line_.camera, oneLine.c_str());
        std::fflush(stderr);
    }
    if (services_.window != nullptr) {
        services_.window->TrayChanged(status);
    }
    lastTrayText_ = std::move(status.text);
    lastTrayIcon_ = status.icon;
}

void ServerApp::Enable(std::initializer_list<int> ids, bool enabled)
{
    for (const int id : ids) {
        menu_[id] = enabled;
    }
}

void ServerApp::MenuChanged()
{
    if (services_.window != nullptr) {
        services_.window->MenuStatesChanged();
    }
}

bool ServerApp::MenuEnabled(int id) const
{
    const auto it = menu_.find(id);
    return it != menu_.end() && it->second;
}

void ServerApp::Activity(int position, std::uint32_t colour)
{
    if (services_.window != nullptr) {
        services_.window->SetActivity(position, colour);
    }
}

void ServerApp::EditConfiguration()
{
    TRACE_LEVEL(kestrel::kLevelUser4, "ID_FICHIER_EDITIONCONFIGURATION");
    const std::string editor = kestrel::profile::GetString(paths_.settingsFile, section::kMain, "Editor", "notepad");
    if (!services_.startEditor) {
        return;
    }
    if (services_.startEditor(editor, paths_.settingsFile).empty()) {
        Message("No editor could be started for the settings file", "Edition Configuration");
    }
}

CommandEffect ServerApp::RunCommand(int id)
{
    switch (id) {
        case kCmdOpen:
            OpenDevice();
            return CommandEffect::kDone;
        case kCmdClose:
            CloseDevice();
            return CommandEffect::kDone;
        case kCmdSaveImage:
            SaveImage();
            return CommandEffect::kDone;
        case kCmdEditConfiguration:
            EditConfiguration();
            return CommandEffect::kDone;
        case kCmdExit:
        case kCmdTrayExit:
            Exit();
            return CommandEffect::kDone;
        case kCmdTrayDisplay:
            WindowShown();
            return CommandEffect::kDone;
        case kCmdStop:
            DetectionStop();
            return CommandEffect::kDone;
        case kCmdStart:
            DetectionStart();
            return CommandEffect::kDone;
        case kCmdReference:
            CreateReferenceImage();
            return CommandEffect::kDone;
        case kCmdConfiguration:
            // Traced when the dialog is confirmed (ReloadConfiguration).
            return CommandEffect::kOpenConfiguration;
        default:
            break;
    }
    const MenuCommandInfo* info = FindMenuCommand(id);
    if (info == nullptr) {
        TRACE_LEVEL(kestrel::kLevelUser4, "WM_COMMAND wParam=%lx lParam=%lX", static_cast<unsigned long>(id), 0UL);
        return CommandEffect::kUnknown;
    }
    TRACE_LEVEL(kestrel::kLevelUser4, "%s", info->traceName);
    switch (id) {
        case kCmdZones:
            return CommandEffect::kOpenZones;
        case kCmdHistory:
            return CommandEffect::kOpenHistory;
        case kCmdEvents:
            // The events list needs the camera object.
            return camera_ ? CommandEffect::kOpenEvents : CommandEffect::kDone;
        case kCmdAbout:
            return CommandEffect::kOpenAbout;
        default:
            return CommandEffect::kUnknown;
    }
}

void ServerApp::AttachEvents(bool attached)
{
    if (camera_) {
        camera_->AttachEventsList(attached ? services_.events : nullptr);
    }
}

void ServerApp::WindowHidden()
{
    kestrel::profile::WriteInt(paths_.settingsFile, section::kMain, "Display", 0);
}

void ServerApp::WindowShown()
{
    TRACE_LEVEL(kestrel::kLevelUser4, "ID_TRAYICON_EXIT_DISPLAY");
    kestrel::profile::WriteInt(paths_.settingsFile, section::kMain, "Display", 1);
}

bool ServerApp::DisplayWanted() const
{
    return kestrel::profile::GetInt(paths_.settingsFile, section::kMain, "Display", 1) == 1;
}

bool ServerApp::ResizeVideo() const
{
    return kestrel::profile::GetInt(paths_.settingsFile, section::kMain, "ResizeVideo", 0) == 1;
}

void ServerApp::PictureAreaSized(int width, int height)
{
    if (camera_) {
        camera_->SetPictureArea(width, height);
    }
}

}  // namespace vorlix::app
