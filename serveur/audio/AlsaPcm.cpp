#include "serveur/audio/AlsaPcm.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::audio {

namespace {

// The device buffer asked for: half a second, so a late thread does not
// leave the device without data or space.
constexpr unsigned int kLatencyMicroseconds = 500000;

// alsa-lib writes its complaints to standard error; here they become debug
// trace lines beside the failure that the caller traces.
void AlsaErrorToTrace(const char* file, int line, const char* function, int error, const char* format,
                      ...)  // NOLINT(cert-dcl50-cpp): the handler's signature is alsa-lib's
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(args);
    TRACE_DEBUG("ALSA %s:%d (%s) %s%s%s", file != nullptr ? file : "?", line, function != nullptr ? function : "?",
                text, error != 0 ? ": " : "", error != 0 ? snd_strerror(error) : "");
}

void InstallErrorTrace()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&AlsaErrorToTrace); });
}

// Frees the list of snd_device_name_hint.
struct HintsFree {
    void operator()(void** hints) const { snd_device_name_free_hint(hints); }
};

// Frees a string returned by snd_device_name_get_hint.
struct HintText {
    explicit HintText(char* text) : text_(text) {}
    // alsa-lib allocates the text with malloc
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc,cppcoreguidelines-owning-memory)
    ~HintText() { std::free(text_); }
    HintText(const HintText&) = delete;
    HintText& operator=(const HintText&) = delete;
    [[nodiscard]] const char* Get() const { return text_; }

private:
    char* text_;
};

}  // namespace

void PcmCloser::operator()(snd_pcm_t* pcm) const
{
    snd_pcm_close(pcm);
}

std::vector<std::string> PcmDeviceNames(PcmDirection direction)
{
    InstallErrorTrace();
    std::vector<std::string> names;
    void** raw = nullptr;
    if (snd_device_name_hint(-1, "pcm", &raw) < 0 || raw == nullptr) {
        return names;
    }
    const std::unique_ptr<void*, HintsFree> hints(raw);
    const char* const wanted = direction == PcmDirection::kCapture ? "Input" : "Output";
    for (void** hint = raw; *hint != nullptr; ++hint) {
        const HintText name(snd_device_name_get_hint(*hint, "NAME"));
        const HintText io(snd_device_name_get_hint(*hint, "IOID"));
        if (name.Get() == nullptr) {
            continue;
        }
        // no IOID: the device works both ways
        if (io.Get() == nullptr || std::strcmp(io.Get(), wanted) == 0) {
            names.emplace_back(name.Get());
        }
    }
    return names;
}

std::optional<std::string> PcmDeviceName(int number, PcmDirection direction)
{
    if (number == 0) {
        return std::string("default");
    }
    if (number < 0) {
        return std::nullopt;
    }
    const std::vector<std::string> names = PcmDeviceNames(direction);
    if (static_cast<std::size_t>(number) > names.size()) {
        return std::nullopt;
    }
    return names[static_cast<std::size_t>(number) - 1];
}

PcmOpenResult OpenPcm(const std::string& name, PcmDirection direction, SampleFormat format, int channels, int rate)
{
    InstallErrorTrace();
    PcmOpenResult result;
    snd_pcm_t* raw = nullptr;
    const snd_pcm_stream_t stream =
        direction == PcmDirection::kCapture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK;
    errno = 0;
    int error = snd_pcm_open(&raw, name.c_str(), stream, SND_PCM_NONBLOCK);
    if (error < 0) {
        result.systemError = errno;
        result.error = error;
        return result;
    }
    PcmHandle pcm(raw);
    if (channels < 1 || rate < 1) {
        result.error = -EINVAL;
        result.systemError = EINVAL;
        return result;
    }
    const snd_pcm_format_t sampleFormat = format == SampleFormat::kU8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16;
    error = snd_pcm_set_params(pcm.get(), sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED, static_cast<unsigned>(channels),
                               static_cast<unsigned>(rate), 1, kLatencyMicroseconds);
    if (error < 0) {
        result.systemError = errno;
        result.error = error;
        return result;
    }
    result.pcm = std::move(pcm);
    return result;
}

std::string PcmErrorText(int error)
{
    return snd_strerror(error);
}

}  // namespace vorlix::audio
