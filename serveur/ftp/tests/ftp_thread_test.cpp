// The FTP thread's life: started by "management", stopped after the pass
// under way, started again in the same run, ended at once on shut-down.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <stdexcept>

#include "serveur/ftp/tests/FtpFixture.h"

namespace vorlix::ftp::test {
namespace {

using kestrel::kLevelTrace;

// Runs `action` from the FTP thread when the first line of a pass arrives.
class LinesWithHook final : public EventsWindow {
public:
    explicit LinesWithHook(EventLines& lines) : lines_(lines) {}
    void AddEntry(const std::string& line) override
    {
        lines_.AddEntry(line);
        if (action_) {
            std::exchange(action_, nullptr)();
        }
    }
    std::function<void()> action_;

private:
    EventLines& lines_;
};

// Ends the uploader's thread as the test body leaves, before the events
// list of the body (which the thread writes to) goes away.
class EndsUploader {
public:
    explicit EndsUploader(FtpUploader& uploader) : uploader_(uploader) {}
    ~EndsUploader() { uploader_.Shutdown(); }
    EndsUploader(const EndsUploader&) = delete;
    EndsUploader& operator=(const EndsUploader&) = delete;
    EndsUploader(EndsUploader&&) = delete;
    EndsUploader& operator=(EndsUploader&&) = delete;

private:
    FtpUploader& uploader_;
};

class FtpThread : public FtpFixture {
protected:
    // Saves `count` pictures, then asks once: one pass sends them all.
    std::vector<std::string> DetectMany(int count)
    {
        std::vector<std::string> pictures;
        for (int i = 0; i < count; ++i) {
            ++shots_;
            pictures.push_back(cam_.WritePicture(PictureSlot(shots_, maxJpg_), 20000));
        }
        uploader_->RequestFtpUpload(shots_, maxJpg_);
        return pictures;
    }

    bool AllArrived(const std::vector<std::string>& pictures, int first)
    {
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            if (!WaitForRemote("vorlix_" + std::to_string(first + static_cast<int>(i)) + ".jpg", pictures[i])) {
                return false;
            }
        }
        return true;
    }
};

TEST_F(FtpThread, ManagementZeroStartsNothing)
{
    cam_.PointAt(peer_);
    cam_.SetInt("management", 0);
    FtpUploader uploader(cam_.SettingsFile(), cam_.PictureDir(), QuickOptions());
    EXPECT_FALSE(uploader.StartFtpThread(0, 500));
    EXPECT_FALSE(uploader.Running());
    cam_.WritePicture(1);
    uploader.RequestFtpUpload(1, 500);
    EXPECT_FALSE(trace_.WaitFor("Thread client ftp start", 300ms));
    EXPECT_EQ(peer_.Logins(), 0);
}

TEST_F(FtpThread, AStopDuringAPassEndsTheThreadAfterThatPass)
{
    StartUploader();
    LinesWithHook hook(events_);
    uploader_->SetEventsWindow(&hook);
    const EndsUploader ending(*uploader_);
    hook.action_ = [this] { uploader_->StopFtpThread(); };
    const std::vector<std::string> pictures = DetectMany(6);

    ASSERT_TRUE(trace_.WaitFor("Thread client ftp stop ", 10s, kLevelTrace));
    EXPECT_TRUE(AllArrived(pictures, 1)) << "the pass under way finishes";
    EXPECT_EQ(CountEvents("      Ftp=vorlix_"), 6);
    EXPECT_TRUE(kestrel::test::WaitUntil([&] { return !uploader_->Running(); }));
    EXPECT_EQ(peer_.Logins(), 1);

    // Stopped: requests are no longer served.
    Detect();
    EXPECT_FALSE(WaitForEvent("Ftp=vorlix_7.jpg", 300ms));
}

TEST_F(FtpThread, EnablingAgainInTheSameRunStartsANewThread)
{
    StartUploader();
    uploader_->StopFtpThread();
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return !uploader_->Running(); }));
    Detect();  // saved while FTP was off: never sent

    ASSERT_TRUE(uploader_->StartFtpThread(shots_, maxJpg_));
    EXPECT_TRUE(uploader_->Running());
    const std::string two = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_2.jpg", two));
    EXPECT_EQ(trace_.Count("Thread client ftp start", kLevelTrace), 2);
    EXPECT_EQ(peer_.CommandsLike("STOR"), std::vector<std::string>{"STOR vorlix_2.jpg"});
}

TEST_F(FtpThread, EnablingWhileAStopWaitsForThePassKeepsTheThread)
{
    StartUploader();
    LinesWithHook hook(events_);
    uploader_->SetEventsWindow(&hook);
    const EndsUploader ending(*uploader_);
    hook.action_ = [this] {  // on the FTP thread: the counter as it will be
        uploader_->StopFtpThread();
        EXPECT_TRUE(uploader_->StartFtpThread(3, 500));
    };
    const std::vector<std::string> first = DetectMany(3);
    ASSERT_TRUE(AllArrived(first, 1));

    const std::string four = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_4.jpg", four));
    EXPECT_TRUE(uploader_->Running());
    EXPECT_EQ(trace_.Count("Thread client ftp start", kLevelTrace), 1);
    EXPECT_EQ(trace_.Count("Thread client ftp stop", kLevelTrace), 0);
}

TEST_F(FtpThread, ApplyManagementFollowsTheSettingOnReload)
{
    StartUploader();
    cam_.SetInt("management", 0);
    EXPECT_FALSE(uploader_->ApplyManagement(shots_, maxJpg_));
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return !uploader_->Running(); }));
    cam_.SetInt("management", 1);
    EXPECT_TRUE(uploader_->ApplyManagement(shots_, maxJpg_));
    const std::string one = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_1.jpg", one));
}

TEST_F(FtpThread, AnExceptionEndsTheThreadCleanlyAndFtpCanStartAgain)
{
    StartUploader();
    LinesWithHook hook(events_);
    uploader_->SetEventsWindow(&hook);
    const EndsUploader ending(*uploader_);
    hook.action_ = [] { throw std::runtime_error("events list gone"); };
    const std::string one = Detect();
    ASSERT_TRUE(trace_.WaitFor("Thread client ftp exception ", 10s, kestrel::kLevelWarn));
    ASSERT_TRUE(trace_.WaitFor("Thread client ftp stop", 5s, kLevelTrace));
    EXPECT_FALSE(trace_.Contains("Thread client ftp stop ")) << "the exception's stop line has no blank";
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return !uploader_->Running(); }));

    uploader_->SetEventsWindow(&events_);
    ASSERT_TRUE(uploader_->StartFtpThread(shots_, maxJpg_));
    const std::string two = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_2.jpg", two));
    EXPECT_EQ(Remote("vorlix_1.jpg"), one);
}

TEST_F(FtpThread, ShutDownDuringAHungTransferJoinsWithinASecond)
{
    FtpPeer hung(FtpPeer::Config{"camera", "s3cret", true});
    FtpOptions options = QuickOptions();
    options.timeouts = FtpTimeouts{};  // the real 30 s and 60 s
    StartUploader(0, 500, options);
    cam_.SetInt("Port", hung.Port());
    Detect(8 << 20);
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return !hung.CommandsLike("STOR").empty(); }));

    auto ended = std::async(std::launch::async, [this] { uploader_->Shutdown(); });
    EXPECT_EQ(ended.wait_for(1s), std::future_status::ready);
    ended.wait();
    EXPECT_FALSE(uploader_->Running());
}

TEST_F(FtpThread, ShutDownWhileIdleIsImmediateEvenWithALongPoll)
{
    FtpOptions options = QuickOptions();
    options.poll = 30s;
    StartUploader(0, 500, options);
    ASSERT_TRUE(trace_.WaitFor("Thread client ftp start", 5s, kLevelTrace));
    auto ended = std::async(std::launch::async, [this] { uploader_->Shutdown(); });
    EXPECT_EQ(ended.wait_for(1s), std::future_status::ready);
    ended.wait();
    EXPECT_TRUE(trace_.Contains("Thread client ftp stop ", kLevelTrace));
}

}  // namespace
}  // namespace vorlix::ftp::test
