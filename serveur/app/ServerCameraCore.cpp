// The program's camera: the camera object with its detection actions, its
// capture layer, its stream server and its workers (FTP, mail, sound), seen
// through the frame's port. This is the one place where the detection road
// is wired.
#include <memory>
#include <string>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/actions/Overlay.h"
#include "serveur/actions/VorlixActions.h"
#include "serveur/app/EventsFeed.h"
#include "serveur/app/ServerCamera.h"
#include "serveur/app/ServerCaptureChoice.h"
#include "serveur/app/WorkerTimings.h"
#include "serveur/audio/AudioManagement.h"
#include "serveur/audio/RecorderRoadStop.h"
#include "serveur/capture/CaptureServer.h"
#include "serveur/capture/WebCamCaptureCamera.h"
#include "serveur/core/Road.h"
#include "serveur/core/SettingsSections.h"
#include "serveur/core/Translate.h"
#include "serveur/core/WebCam.h"
#include "serveur/ftp/FtpRoadStop.h"
#include "serveur/ftp/FtpUploader.h"
#include "serveur/mail/MailRoadStop.h"
#include "serveur/mail/MailSettings.h"
#include "serveur/mail/MailWorker.h"
#include "serveur/stream/WebCamStreamCamera.h"
#include "serveur/web/WebView.h"

namespace vorlix::app {

namespace {

class CoreCamera final : public CameraPort {
public:
    CoreCamera(const ServerPaths& paths, int camera, DisplayHook* display)
        : stream_(cam_, [this](const std::string& line) { events_.AddEntry(line); }),
          web_([this] { return WebStatus(); }),
          captureCamera_(cam_),
          capture_(captureCamera_),
          audio_({paths.settingsFile,
                  paths.workDir,
                  {},
                  [this](const std::string& text) { return cam_.Translate(text); }}),
          mail_(paths.settingsFile, MailTimingsOfEnvironment())
    {
        cam_.LoadConfiguration(camera, paths.workDir);
        LoadWords();
        ConfigureWeb();
        actions_.SetExecuteAllowed(ServerHasExecute());
        StartWorkers();
        WireRoad(display);
        videoUri_ = VideoUri();
        if (!capture_.StartSystem(MakeServerCaptureSystem(cam_.SettingsFile()))) {
            TRACE_ERROR("No capture system: the video device stays unavailable");
        }
    }

    ~CoreCamera() override
    {
        capture_.CloseDevice();
        // No frame comes any more: a recording under way ends and is kept.
        audio_.Stop();
        cam_.SetRoad(nullptr);
        web_.Stop();
        // The workers end as members, before the camera object: mail, then FTP.
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
        // Without frames no quiet frame would ever end it: the recording stops, kept.
        audio_.GetRecorder().StopRecordingForced();
        cam_.SetCaptureRunning(false);
    }
    bool CaptureRunning() const override { return capture_.Running(); }
    bool CaptureSilent() const override { return capture_.Silent(); }

    void ComputeZoneThresholds() override { cam_.ComputeZoneThresholds(); }
    void SetDetection(bool on) override { cam_.SetDetection(on); }
    bool DetectionOn() const override { return cam_.DetectionOn(); }
    bool AutoStartDetection() const override { return cam_.SettingsCopy().autoStartDetection != 0; }

    int ShotCounter() const override { return cam_.shots.load(); }
    int MaxJpg() const override { return cam_.MaxJpg(); }
    int Schedule() const override { return cam_.SettingsCopy().schedule; }

    void RequestSaveImage() override { cam_.RequestSaveImage(); }
    void ResetLastDetectionTime() override { cam_.RequestReferenceImage(); }

    std::string PictureTrouble() const override { return actions_.Health().Trouble(); }

    bool ClientAccess() const override { return cam_.SettingsCopy().clientAccess == 1; }
    // Started but not listening (port busy or refused, password unreadable)
    // is off: the status line says so and a reload tries again.
    bool StreamRunning() const override { return stream_.Server().Listening(); }
    bool StartStream() override { return stream_.Server().StartStreamServer() > 0; }
    int CountStreamClients() const override { return stream_.Server().CountStreamClients(); }

    void SetPictureArea(int width, int height) override { cam_.SetDisplayOn(width > 0 && height > 0); }

    void ReloadConfiguration() override
    {
        const CameraSettings before = cam_.SettingsCopy();
        cam_.ReloadConfiguration();
        LoadWords();
        cam_.ComputeZoneThresholds();
        cam_.RequestClientRefresh();
        cam_.RequestReferenceImage();
        RestartStreamWhenChanged(before, cam_.SettingsCopy());
        RestartCaptureWhenSourceChanged();
        ReloadWorkers();
        ConfigureWeb();
    }

    void SaveDeviceProperties() override { capture_.SaveProperties(); }
    // The zones, then the device and mode the device dialog chose (the
    // settings copy still holds the ones of the last load).
    void SaveZones() override
    {
        cam_.SaveZones();
        capture::CaptureSystem* system = capture_.System();
        if (system != nullptr && system->HasDeviceSettings() && capture_.DeviceIndex() >= 0) {
            kestrel::profile::WriteInt(cam_.SettingsFile(), section::kMain, "VideoDevice", capture_.DeviceIndex());
            kestrel::profile::WriteInt(cam_.SettingsFile(), section::kMain, "VideoFormat", capture_.ModeIndex());
        }
    }
    void ForgetLastSound() override { actions_.Firing().ForgetLastSound(); }
    std::string PictureDir() const override { return cam_.PictureDir(); }
    capture::CaptureServer* Capture() override { return &capture_; }

    audio::RecordingPlayer* Playback() override { return &audio_.Playback(); }

    PictureGeometry Geometry() const override { return {cam_.Width(), cam_.Height(), cam_.TopDown()}; }
    ZoneSnapshot Zones() const override { return cam_.Zones().Snapshot(); }
    void SetZones(const ZoneSnapshot& zones) override { cam_.Zones().SetAll(zones); }
    void ZoneDrawn() override
    {
        cam_.RequestClientRefresh();
        cam_.RequestReferenceImage();
    }
    std::string SettingsFile() const override { return cam_.SettingsFile(); }
    void AttachEventsList(EventsWindow* list) override { events_.Attach(list); }

private:
    // The road of a detection, in its order: the naming of the detection,
    // its picture (written before any consumer; "last.jpg" and saved
    // pictures come through its consumer calls), the viewers (who are sent
    // the picture once written), the web view (which also takes live frames
    // while somebody watches), the FTP request and the mail counter (both
    // read the written picture later, from their threads), its event (list,
    // history, sound, Execute), then the sound recorder. The main window's
    // picture and activity bar are the road's display, when there is a
    // window.
    void WireRoad(DisplayHook* display)
    {
        road_.SetClassifier(&actions_.Naming());
        road_.SetPictureWriter(&actions_.Pictures());
        road_.SetOverlay(&overlay_);  // "follow detection": the marks go into the written picture
        road_.SetDisplay(display);
        road_.Add(actions_.Pictures());
        road_.Add(stream_.Pictures());
        road_.Add(web_);
        road_.Add(*ftpStop_);
        road_.Add(mailStop_);
        road_.Add(actions_.Events());
        road_.Add(recorderStop_);
        cam_.SetRoad(&road_);
    }

    // At the configuration load, before capture: every worker writes to the
    // one events feed; FTP first, then mail, then sound.
    void StartWorkers()
    {
        EventFiring& firing = actions_.Firing();
        firing.SetEventsWindow(&events_);
        firing.SetSoundPlayer(&audio_.Sounds());

        ftp_ = std::make_unique<ftp::FtpUploader>(cam_.SettingsFile(), cam_.PictureDir());
        ftp_->SetEventsWindow(&events_);
        ftp_->StartFtpThread(cam_.shots.load(), cam_.MaxJpg());
        ftpStop_ = std::make_unique<ftp::FtpRoadStop>(*ftp_);

        mail_.SetPictureStore(cam_.PictureDir(), cam_.MaxJpg());
        mail_.SetHistorySource([&firing] { return firing.History(); });
        mail_.SetEventsWindow(&events_);
        mail_.StartMailThread(cam_.shots.load());

        audio_.SetEventsWindow(&events_);
        audio_.Start();
    }

    // A confirmed configuration (or SIGHUP): each worker starts or stops by
    // its own "management" and takes its new settings.
    void ReloadWorkers()
    {
        const int shots = cam_.shots.load();
        const int maxJpg = cam_.MaxJpg();
        ftp_->SetPictureDir(cam_.PictureDir());
        ftp_->ApplyManagement(shots, maxJpg);
        mail_.SetPictureStore(cam_.PictureDir(), maxJpg);
        if (MailEnabled(cam_.SettingsFile())) {
            mail_.StartMailThread(shots);
        } else {
            mail_.StopMailThread();
        }
        audio_.Reload();
    }

    void LoadWords()
    {
        actions_.LoadVocabulary([this](const std::string& text) { return cam_.Translate(text); });
    }

    // The browser view: its own section, the camera's password, pictures and words.
    void ConfigureWeb()
    {
        const CameraSettings s = cam_.SettingsCopy();
        web::WebViewConfig config;
        config.camera = cam_.Paths().camera;
        config.settings = web::ReadWebSettings(cam_.SettingsFile(), config.camera);
        config.password = s.authentificationClient;
        config.quality = NormalisedJpegQuality(s.qualityJpg);
        config.pictureDir = cam_.PictureDir();
        config.maxJpg = cam_.MaxJpg();
        config.words = [this](std::string_view text) { return cam_.Translate(std::string(text)); };
        web_.Configure(config);
    }

    // Read-only figures for the page, from any thread.
    web::CameraStatus WebStatus() const
    {
        return {cam_.CaptureRunning(), cam_.DetectionOn(), stream_.Server().CountStreamClients()};
    }

    std::string VideoUri() const
    {
        return kestrel::profile::GetString(cam_.SettingsFile(), section::kMain, "VideoURI", "");
    }

    // The capture layer reads "VideoURI" when it is made: a new address
    // needs a new one, capturing again if it was.
    void RestartCaptureWhenSourceChanged()
    {
        const std::string uri = VideoUri();
        if (uri == videoUri_) {
            return;
        }
        videoUri_ = uri;
        const bool running = capture_.Running();
        TRACE_INFO("Video source changed to \"%s\"", uri.c_str());
        StopCapture();
        if (!capture_.StartSystem(MakeServerCaptureSystem(cam_.SettingsFile()))) {
            TRACE_ERROR("No capture system: the video device stays unavailable");
            return;
        }
        if (running && !StartCapture()) {
            TRACE_WARN("The new video source could not be opened");
        }
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
        if (server.Listening() && !changed) {
            return;
        }
        server.StopStreamServer();
        if (server.StartStreamServer() <= 0) {
            TRACE_WARN("Stream server not restarted on port %d", now.portWebClient);
        }
    }

    // Declared first: every worker, the actions and the stream server write
    // to it until they end.
    EventsFeed events_;
    WebCam cam_;
    VorlixActions actions_;
    DetectionOverlayPainter overlay_;
    mutable WebCamStreamServer stream_;
    web::WebView web_;
    DetectionRoad road_;
    capture::WebCamCaptureCamera captureCamera_;
    capture::CaptureServer capture_;
    // The workers end before the camera object and the actions (whose
    // history the mail reads and whose sound player is the audio's).
    audio::AudioManagement audio_;
    std::unique_ptr<ftp::FtpUploader> ftp_;  // made once the picture directory is known
    MailWorker mail_;
    std::string videoUri_;  // "VideoURI" the capture layer was made with
    std::unique_ptr<ftp::FtpRoadStop> ftpStop_;
    MailRoadStop mailStop_{mail_};
    audio::RecorderRoadStop recorderStop_{audio_.GetRecorder()};
};

}  // namespace

std::unique_ptr<CameraPort> MakeServerCamera(const ServerPaths& paths, int camera, DisplayHook* display)
{
    return std::make_unique<CoreCamera>(paths, camera, display);
}

TranslateFn ServerTranslator(const std::string& workDir, int camera)
{
    const ServerPaths paths = MakeServerPaths(workDir, camera);
    auto language = std::make_shared<Language>(workDir, LanguageFromSettings(paths.settingsFile));
    return [language](std::string_view text) { return language->Translate(std::string(text)); };
}

}  // namespace vorlix::app
