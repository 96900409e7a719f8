// The FTP uploader: a worker thread that copies every detection picture to
// a directory of an FTP server under the same rotating names as on disk.
// The camera tells it how many pictures it has saved; the thread wakes every
// poll period, and when an upload was asked for it makes one connection and
// sends, oldest first, every picture saved since the last one it sent.
//
// Settings come from the "Vorlix FTP" section of the settings file, read
// afresh at every pass. Nothing here reaches back into the camera.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "serveur/actions/ActionSeams.h"
#include "serveur/ftp/FtpSession.h"

namespace vorlix::ftp {

struct FtpOptions {
    FtpTimeouts timeouts;
    std::chrono::milliseconds poll{100};  // idle wait between looks at the request
};

class FtpUploader {
public:
    // `pictureDir` holds vorlix_<n>.jpg and index.php.
    FtpUploader(std::string settingsFile, std::string pictureDir, FtpOptions options = {});
    // Ends the thread at once (see Shutdown).
    ~FtpUploader();
    FtpUploader(const FtpUploader&) = delete;
    FtpUploader& operator=(const FtpUploader&) = delete;

    // A new picture directory ("FilePath" reloaded); the next pass reads there.
    void SetPictureDir(std::string pictureDir);

    // Where the events-window lines go; null while the window is closed.
    void SetEventsWindow(EventsWindow* window) { eventsWindow_.store(window); }

    // At start-up and when FTP is enabled again: does nothing when
    // "management" is 0 or the thread runs. Otherwise pictures up to `shots`
    // count as sent and a new thread starts. A thread asked to stop that is
    // still finishing its pass is kept on instead. False when no thread runs
    // afterwards.
    bool StartFtpThread(int shots, int maxJpg);
    // Once per detection, after the picture is on disk: the shot counter
    // now stands at `shots` with `maxJpg` slots.
    void RequestFtpUpload(int shots, int maxJpg);
    // The thread ends after the pass under way, if any.
    void StopFtpThread();
    // Start or stop by "management", for a reload of the settings.
    bool ApplyManagement(int shots, int maxJpg);
    // Ends the thread now: a pass under way is cut short (its unsent
    // pictures are dropped with it) and the thread is joined within a
    // second. Starting again afterwards is allowed.
    void Shutdown();

    [[nodiscard]] bool Running() const;
    // Number of the last picture handed to the upload loop.
    [[nodiscard]] int LastUploaded() const { return lastUploaded_.load(); }

private:
    void FtpThread();
    void FtpUploadPass();
    // Uploads picture `number`; false when the pass must end (the picture
    // then stays pending).
    bool UploadPicture(FtpSession& session, const std::string& pictureDir, const std::string& remoteDir, int number,
                       int maxJpg);
    void ConnectFailed(FtpSession* session, int code, const std::string& text);
    void AddEvent(const std::string& line);
    static void TraceFtpResponse(const FtpSession& session);
    bool Live() const;  // lock_ held

    const std::string settingsFile_;
    mutable std::mutex dirLock_;
    std::string pictureDir_;  // dirLock_ held
    const FtpOptions options_;
    std::atomic<EventsWindow*> eventsWindow_{nullptr};

    std::atomic<int> shots_{0};
    std::atomic<int> maxJpg_{500};
    std::atomic<int> lastUploaded_{0};
    std::atomic<bool> requested_{false};
    std::atomic<bool> stop_{false};   // end after this pass
    std::atomic<bool> abort_{false};  // end now

    mutable std::mutex lock_;  // the thread's life: thread_, ending_, and the idle wait
    std::condition_variable wake_;
    std::thread thread_;
    bool ending_ = false;  // the thread has decided to end
};

}  // namespace vorlix::ftp
