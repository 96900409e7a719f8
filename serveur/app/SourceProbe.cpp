#include "serveur/app/SourceProbe.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/capture/gstreamer/GstCaptureSystem.h"
#include "serveur/core/FrameToRgb.h"

namespace vorlix::app {

namespace {

// Keeps the first frame, as RGB, and wakes the waiting side.
class FirstFrame : public FrameSink {
public:
    void ProcessFrame(const Frame& frame) override
    {
        std::lock_guard lock(mutex_);
        if (done_) {
            return;
        }
        std::vector<std::uint8_t> rgb;
        if (!ConvertFrameToRgb(frame.data, frame.width, frame.height, frame.format, frame.topDown, rgb)) {
            return;
        }
        result_.ok = true;
        result_.width = frame.width;
        result_.height = frame.height;
        result_.rgb = std::move(rgb);
        done_ = true;
        came_.notify_all();
    }

    // Until a frame came, `failed` holds, or `limit` passed.
    bool Wait(std::chrono::milliseconds limit, const std::function<bool()>& failed)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::unique_lock lock(mutex_);
        while (!done_ && std::chrono::steady_clock::now() < end) {
            came_.wait_for(lock, std::chrono::milliseconds(50));
            if (!done_ && failed()) {
                return false;
            }
        }
        return done_;
    }
    SourceProbeResult Take()
    {
        std::lock_guard lock(mutex_);
        done_ = true;  // frames still on their way are dropped
        return std::move(result_);
    }

private:
    std::mutex mutex_;
    std::condition_variable came_;
    bool done_ = false;
    SourceProbeResult result_;
};

// Why a file:// address cannot be read, or empty when it can.
std::string FileTrouble(const std::string& address)
{
    if (address.rfind("file://", 0) != 0) {
        return {};
    }
    std::string path;
    const std::string rest = address.substr(7);
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && std::isxdigit(static_cast<unsigned char>(rest[i + 1])) != 0 &&
            std::isxdigit(static_cast<unsigned char>(rest[i + 2])) != 0) {
            path += static_cast<char>(std::stoi(rest.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += rest[i];
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? "The file " + path + " does not exist"
                               : "The file " + path + " cannot be read: " + std::strerror(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return path + " is not a file";
    }
    if (::access(path.c_str(), R_OK) != 0) {
        return "The file " + path + " cannot be read: " + std::strerror(errno);
    }
    return {};
}

}  // namespace

SourceProbeResult ProbeVideoSource(const std::string& address, std::chrono::milliseconds limit)
{
    SourceProbeResult failed;
    if (address.empty()) {
        failed.why = "No address given";
        return failed;
    }
    if (std::string why = FileTrouble(address); !why.empty()) {
        failed.why = std::move(why);
        return failed;
    }
    capture::GstCaptureSystem system(address, limit, limit);
    if (system.Initialise() < 0) {
        failed.why = "GStreamer could not be started";
        return failed;
    }
    system.RefreshDeviceList();
    if (system.DeviceCount() < 1 || system.DeviceName(0) != address || system.ConnectDevice(0) < 0) {
        failed.why = address + " could not be opened";
        return failed;
    }
    FirstFrame sink;
    if (system.StartCapture(sink) < 0) {
        failed.why = address + " could not be opened: no pipeline reads it";
        return failed;
    }
    // A source that fails (not a video, refused, lost) turns silent at once.
    const bool came = sink.Wait(limit, [&system] { return system.Silent() || !system.Capturing(); });
    const bool broken = system.Silent() || !system.Capturing();
    system.StopCapture();
    system.DisconnectDevice();
    SourceProbeResult result = sink.Take();
    if ((!came || !result.ok) && broken) {
        failed.why = address + " could not be read as a video (not a video, or the camera refused it)";
        TRACE_WARN("%s", failed.why.c_str());
        return failed;
    }
    if (!came || !result.ok) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
        failed.why = "No picture came from " + address + " within " + std::to_string(seconds) +
                     " seconds (wrong address, not a video, or the camera does not answer)";
        TRACE_WARN("%s", failed.why.c_str());
        return failed;
    }
    return result;
}

}  // namespace vorlix::app
