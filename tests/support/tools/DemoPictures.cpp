#include "tests/support/tools/DemoPictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

namespace demo {

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

struct Rgb {
    double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A hue on the colour wheel, as a soft colour.
Rgb Hue(double turn, double light) {
    const double pi = 3.14159265358979;
    return {light * (0.6 + 0.4 * std::cos(2 * pi * turn)),
            light * (0.6 + 0.4 * std::cos(2 * pi * (turn - 1.0 / 3))),
            light * (0.6 + 0.4 * std::cos(2 * pi * (turn - 2.0 / 3)))};
}

std::vector<unsigned char> Draw(int scene) {
    // Hues kept near those of a real evening: blue above, warm at the horizon, green hills.
    const double swing = std::sin(scene * 1.9);
    const Rgb skyTop = Hue(0.62 + 0.06 * swing, 0.6), skyLow = Hue(0.05 + 0.1 * swing, 1.0);
    const Rgb sun = {1.0, 0.93, 0.7}, hill = Hue(0.33 + 0.08 * std::sin(scene * 0.7), 0.45);
    const Rgb shade = Hue(0.36, 0.22), water = Hue(0.6 + 0.04 * swing, 0.5);
    const double sunX = 60 + (scene * 53) % 200, sunY = 50 + (scene * 29) % 60;
    const double phase = scene * 0.9, horizon = 170 + (scene % 3) * 10;
    std::vector<unsigned char> pixels(size_t(kWidth) * kHeight * 3);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            Rgb c = Mix(skyTop, skyLow, y / horizon);
            const double d = std::hypot(x - sunX, y - sunY);
            c = Mix(c, sun, 1.2 - d / 22);
            const double ridge = horizon - 40 - 25 * std::sin(x / 37.0 + phase) -
                                 12 * std::sin(x / 13.0 + 2 * phase);
            if (y > ridge)
                c = Mix(hill, shade, (y - ridge) / 60);
            if (y > horizon) {
                // Gentle waves, and the sun's glitter below it.
                const double wave = std::sin((y - horizon) * 0.45 + 2.5 * std::sin(x / 31.0));
                c = Mix(water, skyLow, 0.2 + 0.08 * wave);
                c = Mix(c, sun, 0.6 - std::abs(x - sunX) / 30 + 0.2 * wave);
            }
            unsigned char* p = &pixels[(size_t(y) * kWidth + x) * 3];
            p[0] = (unsigned char)(255 * std::clamp(c.r, 0.0, 1.0));
            p[1] = (unsigned char)(255 * std::clamp(c.g, 0.0, 1.0));
            p[2] = (unsigned char)(255 * std::clamp(c.b, 0.0, 1.0));
        }
    return pixels;
}

} // namespace

std::string ScenePicture(int scene) {
    std::vector<unsigned char> pixels = Draw(scene);
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors); // a fixed-size picture in memory cannot fail
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = kWidth;
    info.image_height = kHeight;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &pixels[size_t(info.next_scanline) * kWidth * 3];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&info);
    free(buffer);
    return bytes;
}

} // namespace demo
