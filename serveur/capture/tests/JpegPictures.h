// JPEG pictures for the capture tests: a grey scene with a white block.
#pragma once

#include <turbojpeg.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "libkestrel/testkit/TestKit.h"

namespace vorlix::capture::fakes {

// A grey picture with a white block at (bx, by) and a red left half (so the
// chroma planes have something to carry).
inline std::vector<std::uint8_t> BlockPicture(int width, int height, int bx, int by, int side)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            const bool block = x >= bx && x < bx + side && y >= by && y < by + side;
            const bool red = x < width / 2;
            p[0] = block ? 255 : (red ? 200 : 90);
            p[1] = block ? 255 : 90;
            p[2] = block ? 255 : 90;
        }
    }
    return rgb;
}

// The RGB picture compressed with `subsampling` (TJSAMP_*); empty on failure.
inline std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& rgb, int width, int height, int subsampling,
                                          int quality = 95)
{
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::vector<std::uint8_t> jpeg;
    if (tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, subsampling, quality, 0) == 0) {
        jpeg.assign(out, out + size);
    }
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

// The size of a JPEG file's picture (0 x 0 when it cannot be read).
inline std::pair<int, int> PictureSize(const std::filesystem::path& file)
{
    const std::string bytes = kestrel::test::ReadFile(file.string());
    tjhandle tj = tjInitDecompress();
    int w = 0;
    int h = 0;
    int sub = 0;
    int cs = 0;
    if (tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<unsigned long>(bytes.size()), &w, &h, &sub, &cs) != 0) {
        w = h = 0;
    }
    tjDestroy(tj);
    return {w, h};
}

}  // namespace vorlix::capture::fakes
