#include "serveur/capture/gstreamer/GstModes.h"

#include <gst/gst.h>

#include <cstring>
#include <string_view>
#include <utility>

#include "serveur/capture/FormatNames.h"

namespace vorlix::capture {

namespace {

int FractionFps(const GValue* v)
{
    const int d = gst_value_get_fraction_denominator(v);
    return d > 0 ? gst_value_get_fraction_numerator(v) / d : 0;
}

// The rates of a structure's "framerate" (one fraction or a list), with
// their caps text; one rate 0 without text when there is none.
std::vector<std::pair<int, std::string>> RatesOf(const GstStructure* s)
{
    std::vector<std::pair<int, std::string>> rates;
    const auto add = [&](const GValue* v) {
        rates.emplace_back(FractionFps(v), std::to_string(gst_value_get_fraction_numerator(v)) + "/" +
                                               std::to_string(gst_value_get_fraction_denominator(v)));
    };
    const GValue* rate = gst_structure_get_value(s, "framerate");
    if (rate != nullptr && GST_VALUE_HOLDS_FRACTION(rate)) {
        add(rate);
    } else if (rate != nullptr && GST_VALUE_HOLDS_LIST(rate)) {
        for (guint r = 0; r < gst_value_list_get_size(rate); ++r) {
            const GValue* v = gst_value_list_get_value(rate, r);
            if (GST_VALUE_HOLDS_FRACTION(v)) {
                add(v);
            }
        }
    }
    if (rates.empty()) {
        rates.emplace_back(0, "");
    }
    return rates;
}

}  // namespace

int FormatOfCaps(const GstStructure* s)
{
    const char* name = gst_structure_get_name(s);
    if (std::strcmp(name, "image/jpeg") == 0) {
        return FormatNumber("MJPG");
    }
    if (std::strcmp(name, "video/x-raw") != 0) {
        return 0;
    }
    const char* f = gst_structure_get_string(s, "format");
    if (f == nullptr) {
        return 0;
    }
    const std::string_view fmt(f);
    if (fmt == "RGB" || fmt == "BGR") {
        return FormatNumber("RGB24");
    }
    if (fmt == "RGBx" || fmt == "BGRx" || fmt == "xRGB" || fmt == "xBGR") {
        return FormatNumber("RGB32");
    }
    if (fmt == "ARGB" || fmt == "BGRA" || fmt == "RGBA" || fmt == "ABGR") {
        return FormatNumber("ARGB32");
    }
    if (fmt == "RGB16") {
        return FormatNumber("RGB565");
    }
    if (fmt == "RGB15") {
        return FormatNumber("RGB555");
    }
    if (fmt == "GRAY8") {
        return FormatNumber("Y800");
    }
    if (fmt == "YUY2" || fmt == "YVYU" || fmt == "UYVY" || fmt == "I420" || fmt == "Y41B" || fmt == "Y444" ||
        fmt == "YVU9") {
        return FormatNumber(fmt == "Y41B" ? "Y411" : fmt);
    }
    return 0;
}

std::vector<GstMode> ModesOfCaps(const GstCaps* caps)
{
    std::vector<GstMode> modes;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        int w = 0;
        int h = 0;
        if (!gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h)) {
            continue;
        }
        const int format = FormatOfCaps(s);
        const char* f = gst_structure_get_string(s, "format");
        std::string base =
            std::string(gst_structure_get_name(s)) + ",width=" + std::to_string(w) + ",height=" + std::to_string(h);
        if (f != nullptr) {
            base += std::string(",format=") + f;
        }
        for (const auto& [fps, text] : RatesOf(s)) {
            std::string caps = base;
            if (!text.empty()) {
                caps.append(",framerate=").append(text);
            }
            modes.push_back(GstMode{{w, h, fps, format}, std::move(caps)});
        }
    }
    return modes;
}

std::vector<GstMode> TestPatternModes()
{
    std::vector<GstMode> modes;
    for (const auto& [w, h] : {std::pair{320, 240}, std::pair{640, 480}, std::pair{1280, 720}}) {
        for (const int fps : {15, 30}) {
            modes.push_back(GstMode{{w, h, fps, FormatNumber("RGB24")},
                                    "video/x-raw,width=" + std::to_string(w) + ",height=" + std::to_string(h) +
                                        ",framerate=" + std::to_string(fps) + "/1"});
        }
    }
    return modes;
}

}  // namespace vorlix::capture
