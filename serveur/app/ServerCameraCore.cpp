// The program's camera: the camera object with its detection actions, its
// capture layer and its stream server, seen through the frame's port. This
// is the one place where the detection road is wired.
#include <memory>
#include <string>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/actions/VorlixActions.h"
#include "serveur/app/ServerCamera.h"
#include "serveur/app/ServerCaptureChoice.h"
#include "serveur/capture/CaptureServer.h"
#include "serveur/capture/WebCamCaptureCamera.h"
#include "serveur/core/Road.h"
#include "serveur/core/Translate.h"
#include "serveur/core/WebCam.h"
#include "serveur/stream/WebCamStreamCamera.h"

namespace vorlix::app {

namespace {

class CoreCamera final : public CameraPort {
public:
    CoreCamera(const ServerPaths& paths, int camera) : stream_(cam_), captureCamera_(cam_), capture_(captureCamera_)
    {
        cam_.LoadConfiguration(camera, paths.workDir);
        LoadWords();
        actions_.SetExecuteAllowed(ServerHasExecute());
        WireRoad();
        if (!capture_.StartSystem(MakeServerCaptureSystem(cam_.SettingsFile()))) {
            TRACE_ERROR("No capture system: the video device stays unavailable");
        }
    }

    ~CoreCamera() override
    {
        capture_.CloseDevice();
        cam_.SetRoad(nullptr);
    }
    CoreCamera(const CoreCamera&) = delete;
    CoreCamera& operator=(const CoreCamera&) = delete;

    bool StartCapture() override
    {
        const CameraSettings s = cam_.SettingsCopy();
        const bool started = capture_.StartConfigured(s.videoDevice, s.videoFormat);
        cam_.SetCaptureRunning(started);
        return started;
    }
    void StopCapture() override
    {
        capture_.CloseDevice();
        cam_.SetCaptureRunning(false);
    }
    bool CaptureRunning() const override { return capture_.Running(); }

    void ComputeZoneThresholds() override { cam_.ComputeZoneThresholds(); }
    void SetDetection(bool on) override { cam_.SetDetection(on); }
    bool DetectionOn() const override { return cam_.DetectionOn(); }
    bool AutoStartDetection() const override { return cam_.SettingsCopy().autoStartDetection != 0; }

    int ShotCounter() const override { return cam_.shots.load(); }
    int MaxJpg() const override { return cam_.MaxJpg(); }
    int Schedule() const override { return cam_.SettingsCopy().schedule; }

    void RequestSaveImage() override { cam_.RequestSaveImage(); }
    void ResetLastDetectionTime() override { cam_.RequestReferenceImage(); }

    bool ClientAccess() const override { return cam_.SettingsCopy().clientAccess == 1; }
    bool StreamRunning() const override { return stream_.Server().Running(); }
    bool StartStream() override { return stream_.Server().StartStreamServer() > 0; }
    int CountStreamClients() const override { return stream_.Server().CountStreamClients(); }

    void ReloadConfiguration() override
    {
        const CameraSettings before = cam_.SettingsCopy();
        cam_.ReloadConfiguration();
        LoadWords();
        cam_.ComputeZoneThresholds();
        cam_.RequestClientRefresh();
        cam_.RequestReferenceImage();
        RestartStreamWhenChanged(before, cam_.SettingsCopy());
    }

private:
    // The road of a detection, in its order: the naming of the detection,
    // its picture, the viewers (who are sent the picture once written), then
    // its event. A worker (FTP request, mail counter, sound recorder, web
    // view, the desktop's picture and events list) is one more Add here, at
    // its place on the road.
    void WireRoad()
    {
        road_.SetClassifier(&actions_.Naming());
        road_.Add(actions_.Pictures());
        road_.Add(stream_.Pictures());
        road_.Add(actions_.Events());
        cam_.SetRoad(&road_);
    }

    void LoadWords()
    {
        actions_.LoadVocabulary([this](const std::string& text) { return cam_.Translate(text); });
    }

    // A new port or password needs a new listening socket; access 0 stops it.
    void RestartStreamWhenChanged(const CameraSettings& before, const CameraSettings& now)
    {
        StreamServer& server = stream_.Server();
        const bool changed =
            before.portWebClient != now.portWebClient || before.authentificationClient != now.authentificationClient;
        if (now.clientAccess != 1) {
            server.StopStreamServer();
            return;
        }
        if (server.Running() && !changed) {
            return;
        }
        server.StopStreamServer();
        if (server.StartStreamServer() <= 0) {
            TRACE_WARN("Stream server not restarted on port %d", now.portWebClient);
        }
    }

    WebCam cam_;
    VorlixActions actions_;
    mutable WebCamStreamServer stream_;
    DetectionRoad road_;
    capture::WebCamCaptureCamera captureCamera_;
    capture::CaptureServer capture_;
};

}  // namespace

std::unique_ptr<CameraPort> MakeServerCamera(const ServerPaths& paths, int camera)
{
    return std::make_unique<CoreCamera>(paths, camera);
}

TranslateFn ServerTranslator(const std::string& workDir, int camera)
{
    const ServerPaths paths = MakeServerPaths(workDir, camera);
    auto language = std::make_shared<Language>(workDir, LanguageFromSettings(paths.settingsFile));
    return [language](std::string_view text) { return language->Translate(std::string(text)); };
}

}  // namespace vorlix::app
