#include "serveur/capture/mjpeg/JpegFrameDecoder.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>

#include "serveur/core/PixelFormat.h"

namespace vorlix::capture {
namespace {

constexpr int kLargestSide = 16384;

}  // namespace

struct JpegFrameDecoder::Handle {
    tjhandle tj = tjInitDecompress();
    Handle() = default;
    ~Handle()
    {
        if (tj != nullptr) {
            tjDestroy(tj);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

JpegFrameDecoder::JpegFrameDecoder() : handle_(std::make_unique<Handle>()) {}

JpegFrameDecoder::~JpegFrameDecoder() = default;

bool JpegFrameDecoder::Reject(std::string why)
{
    ++rejected_;
    lastError_ = std::move(why);
    return false;
}

bool JpegFrameDecoder::RejectAndReset()
{
    Reject(tjGetErrorStr2(handle_->tj));
    // A decompressor stopped half way may keep state that spoils the next
    // picture: it is replaced, which costs nothing beside a refused picture.
    handle_ = std::make_unique<Handle>();
    return false;
}

std::optional<Frame> JpegFrameDecoder::Decode(std::span<const std::uint8_t> jpeg, int scale,
                                              std::vector<std::uint8_t>& out)
{
    if (handle_->tj == nullptr) {
        Reject("no JPEG decompressor");
        return std::nullopt;
    }
    if (scale != 2 && scale != 4) {
        scale = 1;
    }
    // A picture cut short is refused by the decoder itself (its warning of a
    // premature end); padding after the end marker is never read.
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) {
        Reject("not a JPEG picture");
        return std::nullopt;
    }
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(handle_->tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &width, &height,
                            &subsampling, &colourspace) != 0) {
        RejectAndReset();
        return std::nullopt;
    }
    if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide || subsampling < 0 ||
        subsampling >= TJ_NUMSAMP || colourspace == TJCS_CMYK || colourspace == TJCS_YCCK) {
        Reject("unsupported picture");
        return std::nullopt;
    }
    const tjscalingfactor factor{1, scale};
    const int w = TJSCALED(width, factor);
    const int h = TJSCALED(height, factor);
    if (!DecodePlanes(jpeg, w, h, subsampling, out)) {
        return std::nullopt;
    }
    ++decoded_;
    wholeWidth_ = width;
    wholeHeight_ = height;
    Frame frame{std::span<const std::uint8_t>(out.data(), FrameBytes(kFourccI420, w, h)), w, h, kFourccI420, kTopDown};
    frame.scale = scale;
    return frame;
}

bool JpegFrameDecoder::DecodePlanes(std::span<const std::uint8_t> jpeg, int width, int height, int subsampling,
                                    std::vector<std::uint8_t>& out)
{
    const std::size_t lumaBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const int cw = (width + 1) / 2;
    const int ch = (height + 1) / 2;
    const std::size_t chromaBytes = static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch);
    out.resize(lumaBytes + 2 * chromaBytes);  // no allocation once the size is known
    std::uint8_t* planes[3] = {out.data(), out.data() + lumaBytes, out.data() + lumaBytes + chromaBytes};
    int strides[3] = {width, cw, cw};
    const bool direct = subsampling == TJSAMP_420 || subsampling == TJSAMP_GRAY;
    if (!direct) {
        // Other layouts land in the scratch planes first, then one pass makes them 4:2:0.
        const int nw = tjPlaneWidth(1, width, subsampling);
        const int nh = tjPlaneHeight(1, height, subsampling);
        const std::size_t native = static_cast<std::size_t>(nw) * static_cast<std::size_t>(nh);
        scratch_.resize(2 * native);
        planes[1] = scratch_.data();
        planes[2] = scratch_.data() + native;
        strides[1] = strides[2] = nw;
    }
    // Warnings (corrupt data, a premature end) are refused too: a partly grey
    // picture would be taken for movement.
    if (tjDecompressToYUVPlanes(handle_->tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), planes, width,
                                strides, height, TJFLAG_STOPONWARNING) != 0) {
        return RejectAndReset();
    }
    if (subsampling == TJSAMP_GRAY) {
        std::memset(out.data() + lumaBytes, 128, 2 * chromaBytes);
    } else if (!direct) {
        ChromaTo420(width, height, subsampling, out);
    }
    return true;
}

void JpegFrameDecoder::ChromaTo420(int width, int height, int subsampling, std::vector<std::uint8_t>& out)
{
    // Each 4:2:0 sample is the mean of the native samples under its 2 x 2 pixels.
    const int hf = tjMCUWidth[subsampling] / 8;
    const int vf = tjMCUHeight[subsampling] / 8;
    const int nw = tjPlaneWidth(1, width, subsampling);
    const int nh = tjPlaneHeight(1, height, subsampling);
    const std::size_t native = static_cast<std::size_t>(nw) * static_cast<std::size_t>(nh);
    const int cw = (width + 1) / 2;
    const int ch = (height + 1) / 2;
    const std::size_t lumaBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const std::size_t chromaBytes = static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch);
    for (int p = 0; p < 2; ++p) {
        const std::uint8_t* src = scratch_.data() + native * static_cast<std::size_t>(p);
        std::uint8_t* dst = out.data() + lumaBytes + chromaBytes * static_cast<std::size_t>(p);
        for (int y = 0; y < ch; ++y) {
            const int y0 = std::min(2 * y / vf, nh - 1);
            const int y1 = std::min((2 * y + 1) / vf, nh - 1);
            const std::uint8_t* r0 = src + static_cast<std::size_t>(y0) * static_cast<std::size_t>(nw);
            const std::uint8_t* r1 = src + static_cast<std::size_t>(y1) * static_cast<std::size_t>(nw);
            std::uint8_t* out = dst + static_cast<std::size_t>(y) * static_cast<std::size_t>(cw);
            for (int x = 0; x < cw; ++x) {
                const int x0 = std::min(2 * x / hf, nw - 1);
                const int x1 = std::min((2 * x + 1) / hf, nw - 1);
                const int sum = r0[x0] + r0[x1] + r1[x0] + r1[x1];
                out[x] = static_cast<std::uint8_t>((sum + 2) / 4);
            }
        }
    }
}

}  // namespace vorlix::capture
