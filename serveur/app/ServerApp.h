// The server program's frame without any window: start-up, the schedule timer,
// the menu commands as plain operations, the tray status and the program end.
// The desktop build puts its window, menus and tray icon over this object.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "serveur/app/CameraPort.h"
#include "serveur/app/Clock.h"
#include "serveur/app/CommandLine.h"
#include "serveur/app/MessageSink.h"
#include "serveur/app/ServerPaths.h"
#include "serveur/app/TrayText.h"

namespace vorlix::app {

inline constexpr int kScheduleTimerId = 12332;
inline constexpr int kFirstScheduleDelayMs = 1000;
inline constexpr int kScheduleDelayMs = 60000;
inline constexpr int kReconfiguredDelayMs = 100;

// Builds the camera object for camera n with its configuration loaded (this
// starts the stream server when "Client access" is 1 and the capture system).
using CameraFactory = std::function<std::unique_ptr<CameraPort>(const ServerPaths& paths, int camera)>;

struct AppServices {
    CameraFactory makeCamera;
    MessageSink* messages = nullptr;
    const Clock* clock = nullptr;
    TranslateFn translate;          // identity when empty
    bool traceModeCreated = false;  // only then are the trace levels set up
};

class ServerApp {
public:
    using SteadyTime = std::chrono::steady_clock::time_point;

    ServerApp(CommandLine line, std::string workDir, AppServices services);
    ~ServerApp();
    ServerApp(const ServerApp&) = delete;
    ServerApp& operator=(const ServerApp&) = delete;

    // Start-up up to the message loop. Returns the exit code when the
    // program must end at once, or nothing when the loop should run.
    std::optional<int> Start();

    // Schedule timer expiry: opens or closes the device as "Schedule" asks.
    void OnScheduleTimer();

    // Menu commands.
    void OpenDevice();
    void CloseDevice();
    void SaveImage();
    void DetectionStart();
    void DetectionStop();
    void CreateReferenceImage();
    void Exit();

    // A confirmed configuration: settings reloaded, schedule checked in 100 ms.
    void ReloadConfiguration();

    TrayStatus Tray() const;
    // Recomputes the tray status; reports it when it changed.
    void UpdateTray();

    bool Exiting() const { return exiting_; }
    int ExitCode() const { return 0; }
    std::optional<SteadyTime> ScheduleDue() const { return scheduleDue_; }
    int LastScheduleDelayMs() const { return lastDelayMs_; }
    const ServerPaths& Paths() const { return paths_; }
    int Camera() const { return line_.camera; }
    CameraPort* Cam() { return camera_.get(); }
    bool DetectionStopped() const { return detectionStopped_; }

private:
    std::string Tr(std::string_view text) const;
    void ArmSchedule(int delayMs);
    void ApplyPriority();
    void Message(std::string_view text, std::string_view caption);

    CommandLine line_;
    ServerPaths paths_;
    AppServices services_;
    std::unique_ptr<CameraPort> camera_;
    std::optional<SteadyTime> scheduleDue_;
    int lastDelayMs_ = 0;
    bool detectionStopped_ = true;
    bool exiting_ = false;
    std::string lastTrayText_;
    int lastTrayIcon_ = -1;
};

}  // namespace vorlix::app
