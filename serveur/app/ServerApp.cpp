#include "serveur/app/ServerApp.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "libkestrel/error/QXError.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/app/MenuCommands.h"
#include "serveur/app/ScheduleCheck.h"
#include "serveur/app/TraceSetup.h"
#include "serveur/core/SettingsSections.h"

namespace vorlix::app {

namespace {

constexpr int kAbsent = 98657;

// "Priority" classes 1..6 as nice values.
std::optional<int> NiceForPriorityClass(int priority)
{
    switch (priority) {
        case 1:
            return 19;
        case 2:
            return 10;
        case 3:
            return 0;
        case 4:
            return -5;
        case 5:
            return -10;
        case 6:
            return -20;
        default:
            return std::nullopt;
    }
}

}  // namespace

ServerApp::ServerApp(const CommandLine& line, const std::string& workDir, AppServices services)
    : line_(line), paths_(MakeServerPaths(workDir, line.camera)), services_(std::move(services))
{
    for (const MenuCommandInfo& c : MenuCommands()) {
        menu_[c.id] = true;
    }
}

ServerApp::~ServerApp()
{
    if (!exiting_) {
        Exit();
    }
}

std::string ServerApp::Tr(std::string_view text) const
{
    return services_.translate ? services_.translate(text) : std::string(text);
}

void ServerApp::Message(std::string_view text, std::string_view caption)
{
    if (services_.messages != nullptr) {
        services_.messages->Show(Tr(text), Tr(caption));
    }
}

void ServerApp::ApplyPriority()
{
    const int priority = kestrel::profile::GetInt(paths_.settingsFile, section::kMain, "Priority", kAbsent);
    if (priority == kAbsent) {
        return;
    }
    const std::optional<int> nice = NiceForPriorityClass(priority);
    if (!nice) {
        return;
    }
    if (setpriority(PRIO_PROCESS, 0, *nice) != 0) {
        const int err = errno;
        ErrorSysSet(static_cast<unsigned>(err));
        TRACE_ERROR("Error on SetPriorityClass (%d,%s)", err, std::strerror(err));
    }
}

std::optional<int> ServerApp::Start()
{
    // A camera number beyond 4 is refused before anything is created for it.
    if (line_.camera > kMaxCamera) {
        Message("max=4", "threshold Vorlix");
        exiting_ = true;
        return 0;
    }
    CreateServerDirectories(paths_);
    ApplyPriority();

    try {
        camera_ = services_.makeCamera ? services_.makeCamera(paths_, line_.camera) : nullptr;
    } catch (const std::exception& e) {
        TRACE_ERROR("Camera object not built: %s", e.what());
        camera_.reset();
    }
    if (!camera_) {
        Message("The camera object could not be built", "Device Error");
        exiting_ = true;
        return 1;
    }

    if (services_.traceModeCreated) {
        ApplyTraceLevel(kestrel::profile::GetInt(paths_.settingsFile, section::kMain, "Trace level", 0));
    }

    if (!camera_->StreamRunning() && camera_->ClientAccess()) {
        if (!camera_->StartStream()) {
            Message("error during server installation", "Server warning");
        }
    }
    detectionStopped_ = true;
    // Step 12: the menus of a closed device.
    Enable({kCmdOpen}, true);
    Enable({kCmdClose, kCmdSaveImage, kCmdReference, kCmdStop, kCmdStart, kCmdZones}, false);
    MenuChanged();
    ArmSchedule(kFirstScheduleDelayMs);
    UpdateTray();
    return std::nullopt;
}

void ServerApp::ArmSchedule(int delayMs)
{
    lastDelayMs_ = delayMs;
    scheduleDue_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
}

void ServerApp::OnScheduleTimer()
{
    scheduleDue_.reset();
    if (exiting_) {
        return;
    }
    if (camera_) {
        const std::tm now = services_.clock != nullptr ? services_.clock->LocalNow() : SystemClock().LocalNow();
        const bool wanted = CameraWanted(camera_->Schedule(), now);
        if (wanted != camera_->CaptureRunning()) {
            if (wanted) {
                OpenDevice();
            } else {
                CloseDevice();
            }
            UpdateTray();
        }
    }
    if (!exiting_) {
        ArmSchedule(kScheduleDelayMs);
    }
}

void ServerApp::OpenDevice()
{
    TRACE_LEVEL(kestrel::kLevelUser4, "ID_FICHIER_OPEN");
    if (!camera_) {
        return;
    }
    if (!camera_->StartCapture()) {
        Message("Connection on video device \n unavailable!!", "Device Error");
        // A desktop box runs the event loop: the program may have ended meanwhile.
        if (exiting_ || !camera_) {
            return;
        }
    }
    camera_->ComputeZoneThresholds();
    Enable({kCmdSaveImage, kCmdConfiguration, kCmdEditConfiguration, kCmdReference, kCmdStop, kCmdClose}, true);
    Enable({kCmdOpen}, false);
    if (services_.window != nullptr) {
        const std::string& f = paths_.settingsFile;
        services_.window->PlaceWindow(kestrel::profile::GetInt(f, section::kMain, "window left", 388),
                                      kestrel::profile::GetInt(f, section::kMain, "window top", 251),
                                      kestrel::profile::GetInt(f, section::kMain, "window right", 739),
                                      kestrel::profile::GetInt(f, section::kMain, "window bottom", 570));
    }
    if (camera_->AutoStartDetection()) {
        Enable({kCmdStop, kCmdZones}, true);
        Enable({kCmdStart}, false);
        camera_->SetDetection(true);
        detectionStopped_ = false;
    } else {
        Enable({kCmdReference, kCmdStop, kCmdZones}, false);
        Enable({kCmdStart}, true);
        camera_->SetDetection(false);
        detectionStopped_ = true;
        Activity(kActivityStoppedPosition, kActivityGrey);
    }
    MenuChanged();
    UpdateTray();
}

void ServerApp::CloseDevice()
{
    TRACE_LEVEL(kestrel::kLevelUser4, "ID_FICHIER_CLOSE");
    if (!camera_) {
        return;
    }
    Enable({kCmdOpen}, true);
    Enable({kCmdClose, kCmdSaveImage, kCmdReference, kCmdStop, kCmdStart, kCmdZones}, false);
    MenuChanged();
    detectionStopped_ = true;
    camera_->SetDetection(false);
    try {
        camera_->StopCapture();
    } catch (const std::exception& e) {
        TRACE_WARN("Closing the device: %s", e.what());
    } catch (...) {
        TRACE_WARN("Closing the device failed");
    }
    // Read once the capture has stopped: a detection whose picture was
    // already on disk counts, or the next start would write over it.
    const int maxJpg = camera_->MaxJpg();
    const int shots = camera_->ShotCounter();
    // A "Max jpg" of 0 would divide by zero; the counter is then kept as it is.
    kestrel::profile::WriteInt(paths_.settingsFile, section::kMain, "Current shots",
                               maxJpg > 0 ? shots % maxJpg : shots);
    UpdateTray();
}

void ServerApp::SaveImage()
{
    TRACE_LEVEL(kestrel::kLevelUser4, "ID_FICHIER_SAVEIMAGE");
    if (camera_) {
        camera_->RequestSaveImage();
    }
}

void ServerApp::DetectionStart()
{
    TRACE_LEVEL(kestrel::kLevelUser4, "ID_DETECTION_START");
    if (camera_) {
        camera_->SetDetection(true);
        detectionStopped_ = false;
    }
    Enable({kCmdStop, kCmdZones}, true);
    Enable({kCmdStart}, false);
    MenuChanged();
    UpdateTray();
}

void ServerApp::DetectionStop()
{
    TRACE_LEVEL(kestrel::kLevelUser4, "ID_DETECTION_STOP");
    if (camera_) {
        camera_->SetDetection(false);
        detectionStopped_ = true;
    }
    Enable({kCmdStop, kCmdZones}, false);
    Enable({kCmdStart}, true);
    MenuChanged();
    Activity(kActivityStoppedPosition, kActivityGrey);
    UpdateTray();
}

void ServerApp::CreateReferenceImage()
{
    TRACE_LEVEL(kestrel::kLevelUser4, "ID_DETECTION_IMAGEREFERENCE");
    if (camera_) {
        camera_->ResetLastDetectionTime();
    }
}

void ServerApp::ReloadConfiguration()
{
    TRACE_LEVEL(kestrel::kLevelUser4, "ID_FICHIER_CONFIGURATION");
    if (!camera_) {
        return;
    }
    camera_->ReloadConfiguration();
    if (services_.traceModeCreated) {
        ApplyTraceLevel(kestrel::profile::GetInt(paths_.settingsFile, section::kMain, "Trace level", 0));
    }
    UpdateTray();
    ArmSchedule(kReconfiguredDelayMs);
}

ConfigForm ServerApp::ConfigurationForm() const
{
    FormContext context;
    context.camera = line_.camera;
    context.workDir = paths_.workDir;
    context.pictureDir = camera_ ? camera_->PictureDir() : std::string();
    context.gstBuild = static_cast<bool>(services_.probeSource);
    return ReadConfigForm(paths_.settingsFile, context);
}

SaveResult ServerApp::SaveConfiguration(const ConfigForm& form, const std::optional<WindowRect>& window)
{
    // The running camera as the save reaches it; its "Apply" is the reload
    // that SIGHUP also does.
    class Target final : public SaveTarget {
    public:
        explicit Target(ServerApp& app) : app_(app) {}
        void SaveDeviceProperties() override { app_.camera_->SaveDeviceProperties(); }
        void SaveZones() override { app_.camera_->SaveZones(); }
        void ForgetLastSound() override { app_.camera_->ForgetLastSound(); }
        void Apply() override { app_.ReloadConfiguration(); }

    private:
        ServerApp& app_;
    };
    Target target(*this);
    return app::SaveConfiguration(paths_.settingsFile, form, window, camera_ ? &target : nullptr);
}

void ServerApp::Exit()
{
    TRACE_LEVEL(kestrel::kLevelUser4, "ID_TRAYICON_EXIT ou ID_EXIT");
    if (exiting_) {
        return;
    }
    exiting_ = true;
    scheduleDue_.reset();
    if (camera_) {
        CloseDevice();
        try {
            camera_.reset();
        } catch (...) {
            TRACE_WARN("Destroying the camera object failed");
        }
    }
}

}  // namespace vorlix::app
