#include "SheetPng.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace qzm::stream {

bool WriteSheetPng(const Sheet& sheet, const std::string& path, std::string& error) {
    const int width = sheet.cyan.width;
    const int height = sheet.cyan.height;
    if (width <= 0 || height <= 0 || sheet.magenta.width != width ||
        sheet.magenta.height != height || sheet.yellow.width != width ||
        sheet.yellow.height != height) {
        error = "the sheet's planes are missing or of different sizes";
        return false;
    }
    std::vector<png_byte> rgb;
    try {
        rgb.resize(size_t(width) * size_t(height) * 3);
    } catch (const std::bad_alloc&) {
        error = "not enough memory for a " + std::to_string(width) + " x " +
                std::to_string(height) + " picture";
        return false;
    }
    for (int y = 0; y < height; ++y) {
        const uint8_t* c = sheet.cyan.PictureRow(y);
        const uint8_t* m = sheet.magenta.PictureRow(y);
        const uint8_t* ye = sheet.yellow.PictureRow(y);
        png_byte* out = rgb.data() + size_t(y) * size_t(width) * 3;
        for (int x = 0; x < width; ++x) {
            out[3 * x] = c[x];
            out[3 * x + 1] = m[x];
            out[3 * x + 2] = ye[x];
        }
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        error = "cannot write " + path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

std::string SheetPngName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "sheet-%03d.png", number);
    return name;
}

}  // namespace qzm::stream
