// JPEG pictures decoded with libjpeg into Qt images.
#pragma once

#include <QImage>

#include <cstddef>
#include <span>

namespace zumvo {

// Decodes JPEG data (greyscale or colour) into an RGB image. Data that is not a JPEG, or is
// cut short, raises std::runtime_error with libjpeg's reason; nothing is written to stderr.
QImage DecodeJpeg(std::span<const unsigned char> data);

// The payment screen's logo (223 x 96), stored with the module.
std::span<const unsigned char> ZumvoLogoJpeg();

} // namespace zumvo
