#include "client/app/PicturePipeline.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <vector>

#include "client/effects/JpegDecode.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/actions/JpegWriter.h"

namespace vorlix::client {

namespace {

constexpr int kSaveQuality = 100;

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    // A placeholder is a picture like any other: the same bound as a frame.
    if (size < 0 || size > static_cast<std::streamoff>(1228800)) {
        errno = EFBIG;
        return false;
    }
    in.seekg(0);
    bytes.resize(static_cast<std::size_t>(size));
    return static_cast<bool>(in.read(reinterpret_cast<char*>(bytes.data()), size));
}

void TraceFailure()
{
    const unsigned int code = ErrorLast();
    TRACE_LEVEL(kestrel::kLevelUnclassified, "error during access jpg file (%d)", static_cast<int>(code));
    TRACE_LEVEL(kestrel::kLevelUnclassified, "      (%d,%s)", static_cast<int>(code), ErrorDescription(code));
}

}  // namespace

std::string PlaceholderPath(const std::string& startDir, const std::string& language)
{
    return language.empty() ? startDir + "/filetemp.jpg" : startDir + "/" + language + "/filetemp.jpg";
}

std::optional<std::string> PicturePipeline::Render(std::span<const std::uint8_t> jpeg, const EffectSettings& effects,
                                                   DisplayBuffer& picture)
{
    std::vector<std::uint8_t> file;
    if (jpeg.empty()) {
        if (!ReadWholeFile(placeholder_, file)) {
            TraceFailure();
            return std::nullopt;
        }
        jpeg = file;
    }
    const DecodeResult decoded = DecodeJpeg(jpeg, effects.blackAndWhite, scratch_);
    if (!decoded.ok) {
        if (decoded.tooLarge) {
            TRACE_LEVEL(kestrel::kLevelUnclassified, "picture too large (%d x %d), at most %d x %d", decoded.width,
                        decoded.height, kMaxPictureSide, kMaxPictureSide);
            errno = EFBIG;
        } else {
            TRACE_LEVEL(kestrel::kLevelUnclassified, "jpeg: %s", decoded.error.c_str());
            errno = EBADMSG;
        }
        TraceFailure();
        return std::nullopt;
    }
    ApplyEffects(scratch_, effects);
    std::swap(scratch_, picture);
    return PictureDescription(decoded.comment, decoded.width, decoded.height);
}

std::string ImageSaver::NextPath() const
{
    return dir_ + "/files/cl_vorlix_save_" + std::to_string(count_ % 10) + ".jpg";
}

bool ImageSaver::Save(const DisplayBuffer& picture, const std::string& commentFormat)
{
    if (picture.Empty()) {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "no picture to save");
        return false;
    }
    const std::string path = NextPath();
    ++count_;
    const std::vector<std::uint8_t> rgb = picture.TopDownRgb();
    return WriteJpeg(rgb, path, kSaveQuality, picture.Width(), picture.Height(),
                     JpegComment(commentFormat, "client", kSaveQuality));
}

}  // namespace vorlix::client
