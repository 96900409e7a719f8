#include "serveur/capture/gstreamer/GstPipeline.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace vorlix::capture {

namespace {

std::string Scheme(const std::string& address)
{
    const auto colon = address.find("://");
    if (colon == std::string::npos || colon == 0) {
        return {};
    }
    std::string scheme = address.substr(0, colon);
    const bool word = std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
    });
    if (!word) {
        return {};
    }
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return scheme;
}

// A path as a file:// address: reserved bytes escaped, so a name with blanks
// or '#' stays one file.
std::string FileUri(const std::filesystem::path& path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (const char c : path.string()) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) != 0 || std::string_view("/-._~!$&'()*+,;=:@").find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4U];
            out += kHex[u & 15U];
        }
    }
    return out;
}

}  // namespace

bool JpegCaps(const std::string& caps)
{
    return caps.starts_with("image/jpeg");
}

UriSource UriSourceFor(const std::string& address, JpegDecoding decoding)
{
    const std::string scheme = Scheme(address);
    const std::string name = std::string(" name=") + kUriSourceName;
    if (scheme == "http" || scheme == "https") {
        // An MJPEG camera sends multipart JPEG parts; many announce no usable
        // type, so the parts are split here instead of guessed. A server
        // that goes silent is found by the capture layer's 10 s watch first;
        // the socket's own timeout is the backstop.
        const bool own = decoding == JpegDecoding::Own;
        return {address, "location",
                "souphttpsrc" + name +
                    " is-live=true do-timestamp=true timeout=30 ! multipartdemux single-stream=true" +
                    (own ? "" : " ! jpegdec"),
                own};
    }
    if (!scheme.empty()) {
        return {address, "uri", "uridecodebin" + name};
    }
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(address, error);
    if (error) {
        path = address;
    }
    return {FileUri(path.lexically_normal()), "uri", "uridecodebin" + name};
}

std::string PipelineText(GstSourceKind kind, const std::string& source, const std::string& caps, int fps,
                         JpegDecoding decoding)
{
    std::string text;
    bool jpeg = false;
    switch (kind) {
        case GstSourceKind::Pipeline:
            text = source;
            break;
        case GstSourceKind::Uri: {
            const UriSource uri = UriSourceFor(source, decoding);
            text = uri.text;
            jpeg = uri.jpeg;
            break;
        }
        case GstSourceKind::Monitor:
            jpeg = decoding == JpegDecoding::Own && JpegCaps(caps);
            text =
                std::string("capsfilter name=") + kFilterName + " caps=\"" + caps + "\"" + (jpeg ? "" : " ! decodebin");
            break;
        case GstSourceKind::TestPattern:
            text = "videotestsrc is-live=true pattern=ball ! " + caps + " ! videobalance name=" + kBalanceName;
            break;
    }
    if (fps > 0) {
        text += " ! videorate max-rate=" + std::to_string(fps);
    }
    if (jpeg) {
        // Decoded by the capture layer, on this streaming thread.
        return text + " ! appsink name=" + kAppSinkName + " max-buffers=1 drop=true";
    }
    // Cameras and network sources arrive in their decoder's own layout (the
    // engine measures I420 and YUY2 as they are, the converter passes them
    // through untouched); pipelines and the test camera stay 24-bit RGB.
    const bool native = kind == GstSourceKind::Uri || kind == GstSourceKind::Monitor;
    text += std::string(" ! videoconvert ! video/x-raw,format=") + (native ? "(string){I420,YUY2,RGB}" : "RGB") +
            " ! appsink name=" + kAppSinkName + " max-buffers=1 drop=true";
    return text;
}

}  // namespace vorlix::capture
