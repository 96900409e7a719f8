// The "Test" of a camera address or video file: opens it apart from the
// running camera and waits for its first picture, or says in words why none
// came.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vorlix::app {

struct SourceProbeResult {
    bool ok = false;
    std::string why;  // empty when a picture came
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // width x height x 3, top row first
};

// `address`: the "VideoURI" as saved (see NormaliseVideoUri).
using SourceProber = std::function<SourceProbeResult(const std::string& address)>;

SourceProbeResult ProbeVideoSource(const std::string& address, std::chrono::milliseconds limit);

}  // namespace vorlix::app
