#include "ui/JpegImage.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <vector>

namespace ui {
namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return. Jumping back to
// DecodeRows keeps the jump inside C-style code that owns no C++ objects.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void JumpBack(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Warnings (for example a corrupt but readable stream) are not worth a word on stderr.
void IgnoreMessage(j_common_ptr) {}

// First pass: reads the header and starts decompression into 24-bit RGB.
bool StartDecoding(jpeg_decompress_struct* info, ErrorManager* errors, const unsigned char* data,
                   unsigned long size) {
    info->err = jpeg_std_error(&errors->base);
    errors->base.error_exit = JumpBack;
    errors->base.output_message = IgnoreMessage;
    if (setjmp(errors->jump)) {
        jpeg_destroy_decompress(info);
        return false;
    }
    jpeg_create_decompress(info);
    jpeg_mem_src(info, data, size);
    jpeg_read_header(info, TRUE);
    info->out_color_space = JCS_RGB;
    jpeg_start_decompress(info);
    return true;
}

// Second pass: copies the scanlines into the rows the caller provides (each at least
// output_width * 3 bytes), one row pointer per output line.
bool DecodeRows(jpeg_decompress_struct* info, ErrorManager* errors, unsigned char** rows) {
    if (setjmp(errors->jump)) {
        jpeg_destroy_decompress(info);
        return false;
    }
    while (info->output_scanline < info->output_height)
        jpeg_read_scanlines(info, rows + info->output_scanline, 1);
    jpeg_finish_decompress(info);
    jpeg_destroy_decompress(info);
    return true;
}

} // namespace

QImage DecodeJpeg(const unsigned char* data, std::size_t size) {
    if (data == nullptr || size == 0)
        return {};
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    if (!StartDecoding(&info, &errors, data, static_cast<unsigned long>(size)))
        return {};
    const int width = static_cast<int>(info.output_width);
    const int height = static_cast<int>(info.output_height);
    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull() || info.output_components != 3) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    std::vector<unsigned char*> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[static_cast<std::size_t>(y)] = image.scanLine(y);
    if (!DecodeRows(&info, &errors, rows.data()))
        return {};
    return image;
}

} // namespace ui
