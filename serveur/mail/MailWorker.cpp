#include "serveur/mail/MailWorker.h"

#include <algorithm>
#include <system_error>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/ThreadPriority.h"
#include "serveur/mail/MailError.h"
#include "serveur/mail/MailMime.h"

namespace vorlix {

MailWorker::MailWorker(std::string settingsFile, MailTimings timings)
    : settingsFile_(std::move(settingsFile)), timings_(timings)
{
}

MailWorker::~MailWorker()
{
    StopMailThread();
}

void MailWorker::SetHistorySource(HistorySource source)
{
    const std::lock_guard<std::mutex> guard(lock_);
    history_ = std::move(source);
}

void MailWorker::SetPictureStore(std::string directory, int maxJpg)
{
    const std::lock_guard<std::mutex> guard(lock_);
    pictures_.directory = std::move(directory);
    pictures_.maxJpg = std::max(maxJpg, 1);
}

MailSettings MailWorker::Settings() const
{
    const std::lock_guard<std::mutex> guard(lock_);
    return settings_;
}

bool MailWorker::StartMailThread(int shots)
{
    const std::lock_guard<std::mutex> control(controlLock_);
    if (!MailEnabled(settingsFile_)) {
        return running_.load();
    }
    MailSettings loaded = LoadMailSettings(settingsFile_);
    {
        const std::lock_guard<std::mutex> guard(lock_);
        settings_ = std::move(loaded);
    }
    shots_.store(shots);
    if (running_.load()) {
        return true;  // the running thread takes the new settings at its next turn
    }
    if (thread_.joinable()) {
        thread_.join();  // one that ended through an exception
    }
    firstPicture_.store(shots);
    eventCount_.store(0);
    stop_.Reset();
    running_.store(true);
    try {
        thread_ = std::thread(&MailWorker::MailThread, this);
    } catch (const std::system_error& error) {
        running_.store(false);
        TRACE_ERROR("Probleme lors de la creation du thread client mail(%d)\n", error.code().value());
        return false;
    }
    return true;
}

void MailWorker::StopMailThread()
{
    const std::lock_guard<std::mutex> control(controlLock_);
    {
        const std::lock_guard<std::mutex> guard(sleepLock_);
        stop_.Request();
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    running_.store(false);
}

void MailWorker::NotifyMailEvent(int shots)
{
    shots_.store(shots);
    const int before = eventCount_.fetch_add(1);
    firstPicture_.store(std::max(0, shots - before));
}

bool MailWorker::Sleep(std::chrono::milliseconds period)
{
    std::unique_lock<std::mutex> guard(sleepLock_);
    return !wake_.wait_for(guard, period, [this] { return stop_.Requested(); });
}

void MailWorker::AddEvent(const std::string& line)
{
    if (EventsWindow* const window = eventsWindow_.load()) {
        window->AddEntry(line);
    }
}

void MailWorker::MailThread()
{
    SetThreadPriorityFromIni(settingsFile_, std::string(kMailSection));
    TRACE_TRACE("Thread client mail start");
    try {
        long long quiet = 0;  // milliseconds of quiet checks
        while (!stop_.Requested()) {
            const MailSettings settings = Settings();
            if (quiet >= static_cast<long long>(settings.polling) * 1000) {
                SendMailPass(true);
                quiet = 0;
            }
            const int count = eventCount_.load();
            if (count < settings.sensibility) {
                eventCount_.fetch_sub(count);  // events counted meanwhile stay
                if (!Sleep(timings_.checkPeriod)) {
                    break;
                }
                quiet += timings_.checkPeriod.count();
            } else {
                const std::time_t now = std::time(nullptr);
                if (now - lastActiveCheck_ > settings.timeBeforeAnotherMail) {
                    SendMailPass(false);
                }
                lastActiveCheck_ = std::time(nullptr);
                eventCount_.store(0);
            }
        }
        TRACE_TRACE("Thread client mail stop ");
        eventCount_.store(0);
    } catch (const std::exception&) {
        TRACE_WARN("Thread client mail exception ");
        TRACE_TRACE("Thread client mail stop");
    }
    running_.store(false);
}

void MailWorker::SendMailPass(bool periodic)
{
    if (!Sleep(timings_.passDelay)) {
        return;
    }
    MailSettings settings;
    Pictures pictures;
    HistorySource source;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        settings = settings_;
        pictures = pictures_;
        source = history_;
    }
    const std::string history = source ? source() : std::string();
    try {
        for (const std::string& recipient : Recipients(settings.to, settings.cc)) {
            SendMail mail(settings, stop_, timings_.replyWait);
            mail.Connect();
            mail.SendHeader(recipient, "", history);
            if (settings.ifjpg) {
                AttachPictures(mail, periodic, settings, pictures);
            }
            mail.Close();
        }
        if (!periodic) {
            firstPicture_.store(shots_.load());
        }
        AddEvent(SummaryLine(settings.smtp, settings.to, settings.subject));
        TRACE_LEVEL(kestrel::kLevelUser1, "SendMail(%s,to:%s,sujet:%s)", settings.smtp.c_str(), settings.to.c_str(),
                    settings.subject.c_str());
    } catch (const MailError& error) {
        if (stop_.Requested()) {
            TRACE_LEVEL(kestrel::kLevelUser1, "SendMail abandoned: mail stopped");
            return;
        }
        AddEvent(FailureLine(error.what()));
        TRACE_WARN("Catch mail : %s", error.what());
        firstPicture_.store(shots_.load());
    }
}

void MailWorker::AttachPictures(SendMail& mail, bool periodic, const MailSettings& settings, const Pictures& pictures)
{
    long long total = 0;
    int i = 0;
    if (!periodic) {
        // Slots older than one turn of the ring hold newer pictures now: each is sent once.
        i = std::max(firstPicture_.load(), shots_.load() - pictures.maxJpg + 1);
    }
    while (i <= shots_.load()) {
        std::string name;
        if (periodic) {
            name = kLastPictureName;
        } else {
            name = PictureName(i, pictures.maxJpg);
            ++i;
        }
        TRACE_LEVEL(kestrel::kLevelUser1, "SendMail Jpg(%s)", name.c_str());
        total += mail.AttachPicture(PicturePath(pictures.directory, name), name);
        if (periodic) {
            break;
        }
        if (total == -1) {
            TRACE_WARN("jpg aborted (from %d to %d)", i, shots_.load());
            break;
        }
        if (total > settings.SizeMaxBytes()) {
            const std::string note = SizeMaxNote(i, shots_.load());
            TRACE_WARN("%s", note.c_str());
            mail.AddTextPart(note);
            break;
        }
    }
}

}  // namespace vorlix
