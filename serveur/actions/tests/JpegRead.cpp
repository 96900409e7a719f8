#include "serveur/actions/tests/JpegRead.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "libkestrel/framework/UniqueFile.h"

namespace vorlix::test {

namespace {
struct Errors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};
void Exit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1);
}
void Quiet(j_common_ptr) {}

bool Decode(std::FILE* file, DecodedJpeg& out)
{
    jpeg_decompress_struct info;
    Errors errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = &Exit;
    errors.base.output_message = &Quiet;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_save_markers(&info, JPEG_COM, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    out.progressive = info.progressive_mode != 0;
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next) {
        if (marker->marker == JPEG_COM) {
            out.comments.emplace_back(reinterpret_cast<const char*>(marker->data), marker->data_length);
        }
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.width = static_cast<int>(info.output_width);
    out.height = static_cast<int>(info.output_height);
    out.components = info.num_components;
    out.rgb.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.rgb.data() + static_cast<std::size_t>(info.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}
}  // namespace

DecodedJpeg ReadJpeg(const std::string& path)
{
    DecodedJpeg out;
    const kestrel::UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (file == nullptr) {
        return out;
    }
    out.ok = Decode(file.get(), out);
    return out;
}

}  // namespace vorlix::test
