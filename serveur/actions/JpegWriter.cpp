#include "serveur/actions/JpegWriter.h"

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

namespace vorlix {

namespace {

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

// Everything between setjmp and longjmp is plain C state, so the jump skips
// no destructor. On success `*buffer` holds `*size` bytes allocated by
// libjpeg (freed by the caller with free).
bool Compress(const std::uint8_t* rgb, int width, int height, int quality, const char* comment,
              std::size_t commentLength, RowPreparer* prepare, unsigned char** buffer, unsigned long* size)
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
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    if (commentLength > 0) {
        jpeg_write_marker(&info, JPEG_COM, reinterpret_cast<const JOCTET*>(comment),
                          static_cast<unsigned int>(commentLength));
    }
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    JSAMPROW rows[16];
    while (info.next_scanline < info.image_height) {
        JDIMENSION count = 0;
        while (count < 16 && info.next_scanline + count < info.image_height) {
            rows[count] = const_cast<JSAMPROW>(rgb + (info.next_scanline + count) * stride);
            ++count;
        }
        if (prepare != nullptr) {
            prepare->PrepareRows(static_cast<int>(info.next_scanline), static_cast<int>(count));
        }
        jpeg_write_scanlines(&info, rows, count);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
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
    std::free(buffer);
    return done;
}

bool WriteJpeg(std::span<const std::uint8_t> rgb, const std::string& path, int quality, int width, int height,
               std::string_view comment, RowPreparer* prepare)
{
    if (width <= 0 || height <= 0 ||
        rgb.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
        return false;
    }
    quality = quality < 0 ? 0 : (quality > 100 ? 100 : quality);
    const std::size_t commentLength = comment.size() > 65533 ? 65533 : comment.size();
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
        std::fprintf(stderr, "can't open %s for writing. continue\n", path.c_str());
        return false;
    }
    // The compressed bytes go to a buffer kept by the thread, sized from the
    // picture: no allocation per picture once it has grown.
    thread_local std::vector<unsigned char> output;
    const std::size_t expected = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) / 2 + 65536;
    if (output.size() < expected) {
        output.resize(expected);
    }
    unsigned char* buffer = output.data();
    unsigned long size = output.size();
    const bool encoded =
        Compress(rgb.data(), width, height, quality, comment.data(), commentLength, prepare, &buffer, &size);
    const bool written = encoded && file->Write(buffer, size);
    if (buffer != output.data()) {
        // libjpeg outgrew the buffer and made its own
        std::free(buffer);
        output.resize(size + size / 4);
    }
    return written && file->Commit();
}

}  // namespace vorlix
