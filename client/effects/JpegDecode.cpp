#include "client/effects/JpegDecode.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>

// libjpeg's headers expect FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

namespace vorlix::client {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info)
{
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings (a truncated picture among them) are not printed.
void NoOutput(j_common_ptr /*info*/) {}

struct MemorySource {
    jpeg_source_mgr base;
    const JOCTET* data;
    std::size_t size;
    std::size_t offset;
    bool ended;
    JOCTET endOfImage[2];
};

void InitSource(j_decompress_ptr /*info*/) {}
void TermSource(j_decompress_ptr /*info*/) {}

boolean FillInputBuffer(j_decompress_ptr info)
{
    auto* source = reinterpret_cast<MemorySource*>(info->src);
    if (source->offset < source->size) {
        const std::size_t piece = std::min(kJpegSourcePiece, source->size - source->offset);
        source->base.next_input_byte = source->data + source->offset;
        source->base.bytes_in_buffer = piece;
        source->offset += piece;
        return TRUE;
    }
    // The data is used up: end the picture here.
    WARNMS(info, JWRN_JPEG_EOF);
    source->ended = true;
    source->endOfImage[0] = 0xFF;
    source->endOfImage[1] = JPEG_EOI;
    source->base.next_input_byte = source->endOfImage;
    source->base.bytes_in_buffer = 2;
    return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count)
{
    auto* source = reinterpret_cast<MemorySource*>(info->src);
    if (count <= 0) {
        return;
    }
    auto left = static_cast<std::size_t>(count);
    while (left > source->base.bytes_in_buffer) {
        left -= source->base.bytes_in_buffer;
        const bool wasEnded = source->ended;
        FillInputBuffer(info);
        if (wasEnded || source->ended) {
            return;  // nothing more to skip over: the end marker stays next
        }
    }
    source->base.next_input_byte += left;
    source->base.bytes_in_buffer -= left;
}

struct Decoder {
    jpeg_decompress_struct info;
    ErrorManager errors;
    MemorySource source;
};

// Only plain C state lives in this frame, so a jump out of libjpeg skips no
// destructor; the C++ results are reached through `result` and `picture`.
bool Run(Decoder& d, std::span<const std::uint8_t> jpeg, bool grey, DisplayBuffer& picture, DecodeResult& result)
{
    d.info.err = jpeg_std_error(&d.errors.base);
    d.errors.base.error_exit = &ErrorExit;
    d.errors.base.output_message = &NoOutput;
    d.errors.message[0] = '\0';
    if (setjmp(d.errors.jump) != 0) {
        jpeg_destroy_decompress(&d.info);
        return false;
    }
    jpeg_create_decompress(&d.info);
    d.source.base.init_source = &InitSource;
    d.source.base.fill_input_buffer = &FillInputBuffer;
    d.source.base.skip_input_data = &SkipInputData;
    d.source.base.resync_to_restart = &jpeg_resync_to_restart;
    d.source.base.term_source = &TermSource;
    d.source.base.next_input_byte = nullptr;
    d.source.base.bytes_in_buffer = 0;
    d.source.data = jpeg.data();
    d.source.size = jpeg.size();
    d.source.offset = 0;
    d.source.ended = false;
    d.info.src = &d.source.base;
    jpeg_save_markers(&d.info, JPEG_COM, 0xFFFF);
    jpeg_read_header(&d.info, TRUE);

    result.width = static_cast<int>(d.info.image_width);
    result.height = static_cast<int>(d.info.image_height);
    for (jpeg_saved_marker_ptr marker = d.info.marker_list; marker != nullptr; marker = marker->next) {
        if (marker->marker == JPEG_COM) {
            result.comment.assign(reinterpret_cast<const char*>(marker->data), marker->data_length);
            break;
        }
    }
    if (d.info.image_width > static_cast<JDIMENSION>(kMaxPictureSide) ||
        d.info.image_height > static_cast<JDIMENSION>(kMaxPictureSide) ||
        !picture.Resize(result.width, result.height)) {
        result.tooLarge = true;
        jpeg_destroy_decompress(&d.info);
        return false;
    }
    d.info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&d.info);
    const int components = d.info.output_components;
    const JDIMENSION width = d.info.output_width;
    JSAMPARRAY row = (*d.info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&d.info), JPOOL_IMAGE,
                                                 width * static_cast<JDIMENSION>(components), 1);
    while (d.info.output_scanline < d.info.output_height) {
        const int y = static_cast<int>(d.info.output_scanline);
        jpeg_read_scanlines(&d.info, row, 1);
        std::uint8_t* out = picture.Row(result.height - 1 - y);
        const JSAMPLE* in = row[0];
        if (components == 1) {
            for (JDIMENSION x = 0; x < width; ++x, out += 3) {
                out[0] = out[1] = out[2] = in[x];
            }
        } else {
            for (JDIMENSION x = 0; x < width; ++x, out += 3, in += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
        }
    }
    jpeg_finish_decompress(&d.info);
    jpeg_destroy_decompress(&d.info);
    return true;
}

}  // namespace

DecodeResult DecodeJpeg(std::span<const std::uint8_t> jpeg, bool grey, DisplayBuffer& picture)
{
    DecodeResult result;
    Decoder decoder{};
    result.ok = Run(decoder, jpeg, grey, picture, result);
    result.truncated = decoder.source.ended;
    if (!result.ok) {
        result.error = result.tooLarge ? "picture larger than 4096 x 4096" : decoder.errors.message;
    }
    return result;
}

std::string PictureDescription(const std::string& comment, int width, int height)
{
    return comment + "    Dimensions : " + std::to_string(width) + " x " + std::to_string(height);
}

}  // namespace vorlix::client
