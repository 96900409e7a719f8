// Test helper: decodes a JPEG file with libjpeg into RGB and its comments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorlix::test {

struct DecodedJpeg {
    bool ok = false;
    int width = 0;
    int height = 0;
    int components = 0;
    bool progressive = false;
    std::vector<std::string> comments;
    std::vector<std::uint8_t> rgb;
};

DecodedJpeg ReadJpeg(const std::string& path);

}  // namespace vorlix::test
