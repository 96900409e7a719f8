// The life of the capture pipeline: built from the connected source and mode,
// watched on its bus, rebuilt after a lost network source.
#include <gst/gst.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/capture/gstreamer/GstCaptureSystem.h"
#include "serveur/capture/gstreamer/GstPipeline.h"

namespace vorlix::capture {

bool GstCaptureSystem::BuildPipeline()
{
    DestroyPipeline();
    const Device& d = devices_[static_cast<std::size_t>(connected_)];
    const std::string text = PipelineText(d.kind, d.source, mode_.caps, fps_, decoding_);
    GError* error = nullptr;
    GstElement* built = gst_parse_launch(text.c_str(), &error);
    if (error != nullptr) {
        TRACE_WARN("Video pipeline \"%s\": %s", text.c_str(), error->message);
        g_error_free(error);
        if (built != nullptr) {
            gst_object_unref(built);
        }
        return false;
    }
    if (built == nullptr || !GST_IS_PIPELINE(built)) {
        if (built != nullptr) {
            gst_object_unref(built);
        }
        return false;
    }
    pipeline_ = built;
    if (d.kind == GstSourceKind::Uri && !SetAddress()) {
        DestroyPipeline();
        return false;
    }
    if (d.kind == GstSourceKind::Monitor) {
        GstElement* source = gst_device_create_element(d.device, nullptr);
        GstElement* filter = gst_bin_get_by_name(GST_BIN(pipeline_), kFilterName);
        const bool linked = source != nullptr && filter != nullptr && gst_bin_add(GST_BIN(pipeline_), source) &&
                            gst_element_link(source, filter);
        if (filter != nullptr) {
            gst_object_unref(filter);
        }
        if (!linked) {
            DestroyPipeline();
            return false;
        }
        balance_ = GST_ELEMENT(gst_object_ref(source));
    } else {
        balance_ = gst_bin_get_by_name(GST_BIN(pipeline_), kBalanceName);
    }
    GstElement* appsink = gst_bin_get_by_name(GST_BIN(pipeline_), kAppSinkName);
    g_signal_connect(appsink, "new-sample", G_CALLBACK(&GstCaptureSystem::OnNewSample), this);
    g_object_set(appsink, "emit-signals", TRUE, nullptr);
    gst_object_unref(appsink);
    // READY opens the device, so its controls can be read and set before capture.
    if (gst_element_set_state(pipeline_, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        DestroyPipeline();
        return false;
    }
    return true;
}

bool GstCaptureSystem::SetAddress()
{
    const std::string& address = devices_[static_cast<std::size_t>(connected_)].source;
    const UriSource source = UriSourceFor(address, decoding_);
    if (source.uri.starts_with("file://")) {
        gchar* file = g_filename_from_uri(source.uri.c_str(), nullptr, nullptr);
        const bool readable = file != nullptr && g_file_test(file, G_FILE_TEST_IS_REGULAR) && access(file, R_OK) == 0;
        const int why = errno;
        if (!readable) {
            TRACE_ERROR("Video file %s cannot be read: %s", file != nullptr ? file : address.c_str(),
                        file != nullptr && g_file_test(file, G_FILE_TEST_EXISTS) && why != 0 ? std::strerror(why)
                                                                                             : "no such file");
        }
        g_free(file);
        if (!readable) {
            return false;
        }
    }
    GstElement* reader = gst_bin_get_by_name(GST_BIN(pipeline_), kUriSourceName);
    if (reader == nullptr) {
        return false;
    }
    g_object_set(reader, source.property.c_str(), source.uri.c_str(), nullptr);
    gst_object_unref(reader);
    return true;
}

void GstCaptureSystem::DestroyPipeline()
{
    if (pipeline_ == nullptr) {
        return;
    }
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    if (balance_ != nullptr) {
        gst_object_unref(balance_);
    }
    balance_ = nullptr;
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;
}

bool GstCaptureSystem::Reconnectable() const
{
    const GstSourceKind kind = devices_[static_cast<std::size_t>(connected_)].kind;
    return kind == GstSourceKind::Uri || kind == GstSourceKind::Pipeline;
}

std::int64_t GstCaptureSystem::NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void GstCaptureSystem::BusLoop()
{
    GstBus* bus = gst_element_get_bus(pipeline_);
    const std::string name = devices_[static_cast<std::size_t>(connected_)].name;
    const std::int64_t silenceNs = std::chrono::duration_cast<std::chrono::nanoseconds>(silence_).count();
    const long long silenceMs = silence_.count();
    const std::string silence =
        silenceMs % 1000 == 0 ? std::to_string(silenceMs / 1000) + " s" : std::to_string(silenceMs) + " ms";
    std::int64_t waitingSince = NowNs();  // of the current (re)start
    while (!stopping_) {
        GstMessage* msg = gst_bus_timed_pop_filtered(bus, 100 * GST_MSECOND,
                                                     static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
        std::string why;
        if (msg == nullptr) {
            const std::int64_t last = std::max(lastFrameNs_.load(), waitingSince);
            if (NowNs() - last < silenceNs) {
                continue;
            }
            // A source that opened but sends nothing (a silent server, a
            // stalled camera) is said, then handled as a lost one.
            why = "no frame in " + silence;
            if (!Reconnectable()) {
                silent_ = true;
                TRACE_WARN("Video device %s: %s", name.c_str(), why.c_str());
                waitingSince = NowNs();
                continue;
            }
        } else {
            why = "end of stream";
            if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
                GError* error = nullptr;
                gst_message_parse_error(msg, &error, nullptr);
                why = error != nullptr ? error->message : "error";
                if (error != nullptr) {
                    g_error_free(error);
                }
            }
            gst_message_unref(msg);
        }
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        // Until the retry delivers, the camera gives no picture (the status says so).
        silent_ = true;
        if (!Reconnectable()) {
            TRACE_ERROR("Video device %s lost: %s", name.c_str(), why.c_str());
            capturing_ = false;
            break;
        }
        const auto seconds = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(retry_).count());
        TRACE_WARN("Video source %s lost (%s), reconnecting in %d s", name.c_str(), why.c_str(), seconds);
        std::unique_lock lock(wait_);
        if (wake_.wait_for(lock, retry_, [this] { return stopping_.load(); })) {
            break;
        }
        lock.unlock();
        // A fresh pipeline: decoders with pads made on the fly (an address's
        // reader, a multipart splitter) are linked only when first built.
        gst_object_unref(bus);
        bus = nullptr;
        while (!BuildPipeline()) {
            TRACE_WARN("Video source %s cannot be opened, trying again in %d s", name.c_str(), seconds);
            lock.lock();
            const bool stop = wake_.wait_for(lock, retry_, [this] { return stopping_.load(); });
            lock.unlock();
            if (stop) {
                return;
            }
        }
        bus = gst_element_get_bus(pipeline_);
        waitingSince = NowNs();
        gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    }
    if (bus != nullptr) {
        gst_object_unref(bus);
    }
}

}  // namespace vorlix::capture
