#include "serveur/actions/JpegWriter.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

// libjpeg's headers expect FILE and size_t declared first.
#include <jpeglib.h>

#include "libkestrel/framework/FileIo.h"
#include "libkestrel/framework/SpareFd.h"
#include "serveur/core/PixelFormat.h"

namespace vorlix {

namespace {

// libjpeg's memory destination allocates its buffer with malloc: it goes back with free.
void FreeJpegBuffer(unsigned char* buffer)
{
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc,cppcoreguidelines-owning-memory)
    std::free(buffer);
}

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void ErrorExit(j_common_ptr info)
{
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    std::longjmp(manager->jump, 1);
}

void NoMessage(j_common_ptr /*info*/) {}

// A descriptor kept back so pictures are still written when strangers have
// taken every other one (a flood of connections): spent on the picture when
// an open fails for want of descriptors, taken back once it is written.
std::mutex g_spareLock;
kestrel::SpareFd g_spare;

// How the rows reach libjpeg once compression has started.
enum class Input { kRgb, kI420 };
using RowWriter = void (*)(jpeg_compress_struct& info, const void* rows);

// The one libjpeg set-up of every picture: error manager, memory
// destination, size, quality, colour space and the comment marker; `write`
// feeds the rows. Everything between setjmp and longjmp is plain C state
// (the writers included), so the jump skips no destructor. On success
// `*buffer` holds `*size` bytes allocated by libjpeg (freed by the caller
// with free).
bool CompressWith(int width, int height, int quality, const char* comment, std::size_t commentLength, Input input,
                  RowWriter write, const void* rows, unsigned char** buffer, unsigned long* size)
{
    jpeg_compress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = &ErrorExit;
    errors.base.output_message = &NoMessage;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, buffer, size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = input == Input::kRgb ? JCS_RGB : JCS_YCbCr;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (input == Input::kI420) {
        // The planes as they are, 4:2:0: no colour conversion either way.
        info.raw_data_in = TRUE;
        info.comp_info[0].h_samp_factor = 2;
        info.comp_info[0].v_samp_factor = 2;
        for (int c = 1; c < 3; ++c) {
            info.comp_info[c].h_samp_factor = 1;
            info.comp_info[c].v_samp_factor = 1;
        }
    }
    jpeg_start_compress(&info, TRUE);
    if (commentLength > 0) {
        jpeg_write_marker(&info, JPEG_COM, reinterpret_cast<const JOCTET*>(comment),
                          static_cast<unsigned int>(commentLength));
    }
    write(info, rows);
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

struct RgbRows {
    const std::uint8_t* rgb;
    RowPreparer* prepare;
};

void WriteRgbRows(jpeg_compress_struct& info, const void* context)
{
    const auto& in = *static_cast<const RgbRows*>(context);
    const std::size_t stride = static_cast<std::size_t>(info.image_width) * 3;
    JSAMPROW rows[16];
    while (info.next_scanline < info.image_height) {
        JDIMENSION count = 0;
        while (count < 16 && info.next_scanline + count < info.image_height) {
            rows[count] = const_cast<JSAMPROW>(in.rgb + (info.next_scanline + count) * stride);
            ++count;
        }
        if (in.prepare != nullptr) {
            in.prepare->PrepareRows(static_cast<int>(info.next_scanline), static_cast<int>(count));
        }
        jpeg_write_scanlines(&info, rows, count);
    }
}

// A tight I420 frame. Rows past the bottom repeat the last one; libjpeg
// reads each row up to its 16-pixel block, so the frame must be readable 16
// bytes past its end.
void WriteI420Rows(jpeg_compress_struct& info, const void* context)
{
    const auto* frame = static_cast<const std::uint8_t*>(context);
    const auto height = static_cast<int>(info.image_height);
    const auto w = static_cast<std::size_t>(info.image_width);
    const auto cw = (w + 1) / 2;
    const int ch = (height + 1) / 2;
    const std::uint8_t* planes[3] = {frame, frame + w * static_cast<std::size_t>(height),
                                     frame + w * static_cast<std::size_t>(height) + cw * static_cast<std::size_t>(ch)};
    JSAMPROW yRows[16];
    JSAMPROW uRows[8];
    JSAMPROW vRows[8];
    JSAMPARRAY data[3] = {yRows, uRows, vRows};
    while (info.next_scanline < info.image_height) {
        const int top = static_cast<int>(info.next_scanline);
        for (int r = 0; r < 16; ++r) {
            const int row = std::min(top + r, height - 1);
            yRows[r] = const_cast<JSAMPROW>(planes[0] + static_cast<std::size_t>(row) * w);
        }
        for (int r = 0; r < 8; ++r) {
            const int row = std::min(top / 2 + r, ch - 1);
            uRows[r] = const_cast<JSAMPROW>(planes[1] + static_cast<std::size_t>(row) * cw);
            vRows[r] = const_cast<JSAMPROW>(planes[2] + static_cast<std::size_t>(row) * cw);
        }
        jpeg_write_raw_data(&info, data, 16);
    }
}

bool Compress(const std::uint8_t* rgb, int width, int height, int quality, const char* comment,
              std::size_t commentLength, RowPreparer* prepare, unsigned char** buffer, unsigned long* size)
{
    const RgbRows rows{rgb, prepare};
    return CompressWith(width, height, quality, comment, commentLength, Input::kRgb, &WriteRgbRows, &rows, buffer,
                        size);
}

bool CompressI420(const std::uint8_t* frame, int width, int height, int quality, const char* comment,
                  std::size_t commentLength, unsigned char** buffer, unsigned long* size)
{
    return CompressWith(width, height, quality, comment, commentLength, Input::kI420, &WriteI420Rows, frame, buffer,
                        size);
}

// False, with the reason in `*error` when asked for it.
bool Fail(int* error, int why)
{
    if (error != nullptr) {
        *error = why;
    }
    return false;
}

// Writes what `encode(buffer, size)` compresses to `path`, whole or not at
// all; the reason of a failure goes to `*error`, or to the standard error
// stream for a caller that does not ask for it.
template <typename Encode>
bool WriteEncoded(const std::string& path, std::size_t expected, int* error, const Encode& encode)
{
    // Pictures are read by viewers outside this process (a web page over the
    // picture folder) while they are replaced: whole or not at all.
    struct RetakeSpare {
        ~RetakeSpare()
        {
            const std::lock_guard<std::mutex> guard(g_spareLock);
            g_spare.Take();
        }
    } retake;  // declared before `file`: runs once the picture is closed
    std::optional<kestrel::AtomicFile> file;
    {
        const std::lock_guard<std::mutex> guard(g_spareLock);
        file = g_spare.OpenWithSpare([&] { return kestrel::AtomicFile::Open(path, kestrel::Durability::kRenamed); });
    }
    if (!file) {
        const int why = errno;
        if (error == nullptr) {
            std::fprintf(stderr, "can't open %s for writing. continue\n", path.c_str());
        }
        return Fail(error, why);
    }
    // The compressed bytes go to a buffer kept by the thread, sized from the
    // picture: no allocation per picture once it has grown.
    thread_local std::vector<unsigned char> output;
    if (output.size() < expected) {
        output.resize(expected);
    }
    unsigned char* buffer = output.data();
    unsigned long size = output.size();
    const bool encoded = encode(&buffer, &size);
    const bool written = encoded && file->Write(buffer, size);
    const int writeError = encoded ? errno : EIO;
    if (buffer != output.data()) {
        // libjpeg outgrew the buffer and made its own
        FreeJpegBuffer(buffer);
        output.resize(size + size / 4);
    }
    if (!written) {
        return Fail(error, writeError);
    }
    return file->Commit() || Fail(error, errno);
}

}  // namespace

std::string JpegComment(std::string_view format, std::string_view label, int quality)
{
    std::string out;
    out.reserve(format.size() + label.size() + 8);
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        const char next = format[++i];
        if (next == 's') {
            out += label;
        } else if (next == 'd') {
            out += std::to_string(quality);
        } else if (next == '%') {
            out += '%';
        } else {
            out += '%';
            out += next;
        }
    }
    return out;
}

bool EncodeJpeg(std::span<const std::uint8_t> rgb, int width, int height, int quality, std::string_view comment,
                std::vector<std::uint8_t>& out)
{
    out.clear();
    if (width <= 0 || height <= 0 ||
        rgb.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
        return false;
    }
    quality = quality < 0 ? 0 : (quality > 100 ? 100 : quality);
    const std::size_t commentLength = comment.size() > 65533 ? 65533 : comment.size();
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool done =
        Compress(rgb.data(), width, height, quality, comment.data(), commentLength, nullptr, &buffer, &size);
    if (done) {
        out.assign(buffer, buffer + size);
    }
    FreeJpegBuffer(buffer);
    return done;
}

bool WriteJpeg(std::span<const std::uint8_t> rgb, const std::string& path, int quality, int width, int height,
               std::string_view comment, RowPreparer* prepare, int* error)
{
    if (width <= 0 || height <= 0 ||
        rgb.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
        return Fail(error, EINVAL);
    }
    quality = quality < 0 ? 0 : (quality > 100 ? 100 : quality);
    const std::size_t commentLength = comment.size() > 65533 ? 65533 : comment.size();
    const std::size_t expected = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) / 2 + 65536;
    return WriteEncoded(path, expected, error, [&](unsigned char** buffer, unsigned long* size) {
        return Compress(rgb.data(), width, height, quality, comment.data(), commentLength, prepare, buffer, size);
    });
}

bool WriteJpegI420(std::span<const std::uint8_t> frame, const std::string& path, int quality, int width, int height,
                   std::string_view comment, int* error)
{
    if (width <= 0 || height <= 0 || frame.size() < FrameBytes(kFourccI420, width, height) + kI420ReadPast) {
        return Fail(error, EINVAL);
    }
    quality = quality < 0 ? 0 : (quality > 100 ? 100 : quality);
    const std::size_t commentLength = comment.size() > 65533 ? 65533 : comment.size();
    const std::size_t expected = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) / 2 + 65536;
    return WriteEncoded(path, expected, error, [&](unsigned char** buffer, unsigned long* size) {
        return CompressI420(frame.data(), width, height, quality, comment.data(), commentLength, buffer, size);
    });
}

}  // namespace vorlix
