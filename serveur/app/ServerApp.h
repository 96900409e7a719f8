// The server program's frame without any window: start-up, the schedule timer,
// the menu commands as plain operations, the tray status and the program end.
// The desktop build puts its window, menus and tray icon over this object.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "serveur/app/CameraPort.h"
#include "serveur/app/Clock.h"
#include "serveur/app/CommandLine.h"
#include "serveur/app/ConfigTable.h"
#include "serveur/app/MessageSink.h"
#include "serveur/app/SaveConfiguration.h"
#include "serveur/app/ServerPaths.h"
#include "serveur/app/SourceProbe.h"
#include "serveur/app/TrayText.h"
#include "serveur/app/WindowPort.h"

namespace vorlix::app {

inline constexpr int kScheduleTimerId = 12332;
inline constexpr int kFirstScheduleDelayMs = 1000;
inline constexpr int kScheduleDelayMs = 60000;
inline constexpr int kReconfiguredDelayMs = 100;

// Builds the camera object for camera n with its configuration loaded (this
// starts the stream server when "Client access" is 1 and the capture system).
using CameraFactory = std::function<std::unique_ptr<CameraPort>(const ServerPaths& paths, int camera)>;

// Starts "editor settingsFile"; returns the editor that started, empty when none did.
using EditorStarter = std::function<std::string(const std::string& editor, const std::string& settingsFile)>;

// What a menu command leaves to the window: the dialog it opens.
enum class CommandEffect { kDone, kUnknown, kOpenConfiguration, kOpenZones, kOpenHistory, kOpenEvents, kOpenAbout };

struct AppServices {
    CameraFactory makeCamera;
    MessageSink* messages = nullptr;
    const Clock* clock = nullptr;
    TranslateFn translate;           // identity when empty
    bool traceModeCreated = false;   // only then are the trace levels set up
    WindowPort* window = nullptr;    // null without a desktop
    EventsWindow* events = nullptr;  // the events list's queue; outlives the camera object
    EditorStarter startEditor;
    SourceProber probeSource;  // empty in a build that takes no camera address
};

class ServerApp {
public:
    using SteadyTime = std::chrono::steady_clock::time_point;

    ServerApp(const CommandLine& line, const std::string& workDir, AppServices services);
    ~ServerApp();
    ServerApp(const ServerApp&) = delete;
    ServerApp& operator=(const ServerApp&) = delete;

    // The main window, once it exists (null: none); it receives the menu
    // states and the tray status from then on.
    void SetWindow(WindowPort* window) { services_.window = window; }

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

    void EditConfiguration();
    // Runs menu (or tray menu) command `id`, traced with its name at level 104.
    CommandEffect RunCommand(int id);
    bool MenuEnabled(int id) const;

    // The events list: attached while open and not stopped.
    void AttachEvents(bool attached);
    // The window closed or destroyed: "Display" = "0".
    void WindowHidden();
    // The tray's display command: "Display" = "1".
    void WindowShown();
    // "Display" as it stands: whether the window is shown at start.
    bool DisplayWanted() const;
    // The picture area's size (step 7, and every resize).
    void PictureAreaSized(int width, int height);
    // "ResizeVideo": the picture is stretched to the area, else shown in its own size.
    bool ResizeVideo() const;

    // A confirmed configuration: settings reloaded, schedule checked in 100 ms.
    void ReloadConfiguration();

    // The configuration dialog: what its pages show on opening, and "save"
    // (the file written, then taken by the camera and its workers as a
    // reload does). `window`: the main window's screen rectangle.
    ConfigForm ConfigurationForm() const;
    SaveResult SaveConfiguration(const ConfigForm& form, const std::optional<WindowRect>& window);
    // The "Test" of a camera address; empty when this build takes none.
    const SourceProber& ProbeSource() const { return services_.probeSource; }

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
    void Enable(std::initializer_list<int> ids, bool enabled);
    void MenuChanged();
    void Activity(int position, std::uint32_t colour);

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
    std::map<int, bool> menu_;
};

}  // namespace vorlix::app
