#include "clsJpegImage.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <stdexcept>
#include <string>

namespace zumvo {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return: it jumps back to
// the decoder with the message kept.
struct TJpegErrors {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr info) {
    auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->Message);
    std::longjmp(errors->Jump, 1);
}

void OnJpegMessage(j_common_ptr, int) {} // warnings are not printed

// Runs the decode steps; answers false with the message when libjpeg gave up. Kept free of
// objects with destructors, since a longjmp would skip them.
bool Decompress(jpeg_decompress_struct& info, TJpegErrors& errors, std::span<const unsigned char> data,
                QImage& image) {
    if (setjmp(errors.Jump))
        return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                   QImage::Format_RGB888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

} // namespace

QImage DecodeJpeg(std::span<const unsigned char> data) {
    if (data.empty())
        throw std::runtime_error("JPEG: no data");
    jpeg_decompress_struct info{};
    TJpegErrors errors{};
    info.err = jpeg_std_error(&errors.Manager);
    errors.Manager.error_exit = OnJpegError;
    errors.Manager.emit_message = OnJpegMessage;
    QImage image;
    const bool ok = Decompress(info, errors, data, image);
    jpeg_destroy_decompress(&info);
    if (!ok)
        throw std::runtime_error(std::string("JPEG: ") + errors.Message);
    return image;
}

} // namespace zumvo
