#pragma once

#include <QImage>
#include <cstddef>

namespace ui {

// Decodes a JPEG held in memory through libjpeg. Returns a null image when the bytes are not a
// JPEG libjpeg can read; a decorative picture that fails must not stop the program.
QImage DecodeJpeg(const unsigned char* data, std::size_t size);

} // namespace ui
