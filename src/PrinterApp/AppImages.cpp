#include "AppImages.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace qzm::app {

namespace {

bool Fail(pappl_job_t* job, const char* message) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
    papplJobSetMessage(job, "%s", message);
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
}

bool PrintPixels(pappl_job_t* job, pappl_device_t* device, const std::vector<unsigned char>& pixels,
                 unsigned width, unsigned height) {
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, true);
    const bool printed = papplJobFilterImage(job, device, options, pixels.data(),
                                             static_cast<int>(width), static_cast<int>(height),
                                             3, 0, true);
    papplJobDeletePrintOptions(options);
    return printed;
}

bool TooLarge(unsigned width, unsigned height) {
    return width == 0 || height == 0 || 3ull * width * height > kMaxImageBytes;
}

// libjpeg's errors end the decoding through longjmp; its warnings are kept.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void JpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

// Counts warnings (level -1) without printing anything.
void JpegMessage(j_common_ptr info, int level) {
    if (level < 0) {
        ++info->err->num_warnings;
    }
}

}  // namespace

bool _FilterPng(pappl_job_t* job, pappl_device_t* device, void*) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    const char* error = nullptr;
    std::vector<unsigned char> pixels;
    if (!png_image_begin_read_from_file(&image, papplJobGetFilename(job))) {
        error = "The PNG document cannot be read.";
    } else if (TooLarge(image.width, image.height)) {
        error = "The picture is larger than the printer application accepts.";
    } else {
        image.format = PNG_FORMAT_RGB;
        pixels.resize(3ull * image.width * image.height);
        if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
            error = "The PNG document is damaged or cut short.";
        }
    }
    png_image_free(&image);
    return error ? Fail(job, error) : PrintPixels(job, device, pixels, image.width, image.height);
}

bool _FilterJpeg(pappl_job_t* job, pappl_device_t* device, void*) {
    std::FILE* file = std::fopen(papplJobGetFilename(job), "rb");
    if (file == nullptr) {
        return Fail(job, "The JPEG document cannot be read.");
    }
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JpegError;
    errors.manager.emit_message = JpegMessage;
    // Kept outside the jump: nothing with a destructor lives across it.
    std::vector<unsigned char> pixels;
    const char* error = nullptr;
    if (setjmp(errors.jump) == 0) {
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file);
        jpeg_read_header(&info, TRUE);
        info.out_color_space = JCS_RGB;
        jpeg_start_decompress(&info);
        if (TooLarge(info.output_width, info.output_height) || info.output_components != 3) {
            error = "The picture is larger than the printer application accepts.";
        } else {
            pixels.resize(3ull * info.output_width * info.output_height);
            while (info.output_scanline < info.output_height) {
                JSAMPROW row = pixels.data() + 3ull * info.output_width * info.output_scanline;
                jpeg_read_scanlines(&info, &row, 1);
            }
            jpeg_finish_decompress(&info);
            // libjpeg fills a cut-short picture with grey and only warns.
            if (errors.manager.num_warnings > 0) {
                error = "The JPEG document is damaged or cut short.";
            }
        }
    } else {
        error = "The JPEG document is damaged or cut short.";
    }
    const unsigned width = info.output_width;
    const unsigned height = info.output_height;
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return error ? Fail(job, error) : PrintPixels(job, device, pixels, width, height);
}

}  // namespace qzm::app
