#include "serveur/app/HistoryPicture.h"

#include <sys/stat.h>

#include <csetjmp>
#include <cstdio>
#include <ctime>
#include <memory>

#include <jpeglib.h>

#include "libkestrel/framework/UniqueFile.h"

namespace vorlix::app {

namespace {

struct JpegErrors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void Fail(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

// Corrupt-data warnings stay off the terminal.
void Quiet(j_common_ptr /*info*/) {}

// Kept apart from C++ objects with destructors: a long jump out of a libjpeg
// error must not skip any.
bool Decode(std::FILE* file, HistoryPicture& out)
{
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = &Fail;
    errors.base.output_message = &Quiet;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_save_markers(&info, JPEG_COM, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    for (jpeg_saved_marker_ptr m = info.marker_list; m != nullptr; m = m->next) {
        if (m->marker == JPEG_COM) {
            out.comment.assign(reinterpret_cast<const char*>(m->data), m->data_length);
            break;
        }
    }
    if (static_cast<long long>(info.image_width) * info.image_height > kHistoryMaxPixels) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.width = static_cast<int>(info.output_width);
    out.height = static_cast<int>(info.output_height);
    const std::size_t stride = static_cast<std::size_t>(out.width) * 3;
    out.rgb.resize(stride * static_cast<std::size_t>(out.height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.rgb.data() + static_cast<std::size_t>(info.output_scanline) * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

HistoryPicture ReadHistoryPicture(const std::string& path)
{
    HistoryPicture picture;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return picture;
    }
    std::tm local{};
    const std::time_t mtime = st.st_mtime;
    char text[64];
    if (localtime_r(&mtime, &local) != nullptr && asctime_r(&local, text) != nullptr) {
        picture.time = text;
        while (!picture.time.empty() && (picture.time.back() == '\n' || picture.time.back() == '\r')) {
            picture.time.pop_back();
        }
    }
    const kestrel::UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return picture;
    }
    picture.found = Decode(file.get(), picture);
    if (!picture.found) {
        picture.rgb.clear();
        picture.width = picture.height = 0;
    }
    return picture;
}

std::string HistoryDescription(const HistoryPicture& picture)
{
    return picture.comment + "    Dimensions : " + std::to_string(picture.width) + " x " +
           std::to_string(picture.height);
}

std::string HistoryPathText(const std::string& path, const HistoryPicture& picture)
{
    return picture.found ? path : path + "  (not found)";
}

}  // namespace vorlix::app
