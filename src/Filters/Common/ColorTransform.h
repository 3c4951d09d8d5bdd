// The colour transform of the image side: sRGB into the device space of the
// printer's ICC profile, done with LittleCMS 2.
#pragma once

#include <lcms2.h>

#include <cstdint>

// Makes a transform from the built-in sRGB profile to the RGB device space of
// the ICC profile file at path, each profile with the rendering intent named
// in its own header, 8-bit RGB packed three bytes per pixel on both sides, no
// options. The path is opened exactly as given: the caller decides where it
// points (the filter passes the installed profile path, already checked).
// Returns null, silently, when the file is missing or unreadable, is not an
// ICC profile, is not an RGB profile, or no transform can be made from it.
// Release the result with releaseTransform().
cmsHTRANSFORM get_colord_transform_func(const char* path);

// Releases a transform made by get_colord_transform_func(); null is accepted.
void releaseTransform(cmsHTRANSFORM transform);

// Colour-matches a packed 24-bit bitmap in place: the height x bytesPerLine
// pixel bytes are copied to a scratch buffer, the bitmap's bytes are cleared,
// and the width x height pixels are converted from the scratch buffer back
// into the bitmap in one call, with the same row stride on both sides. The
// padding bytes at the end of each row (bytesPerLine - 3 x width) are zero
// afterwards. Returns true when the bitmap was converted; false, with the
// bitmap untouched, for a null transform or data, a size that is not
// positive, a stride shorter than 3 x width, or when the scratch buffer
// cannot be had.
bool ApplyColorTransform(cmsHTRANSFORM transform, uint8_t* data, int width, int height,
                         int bytesPerLine);

// Move-only owner of a transform: releases it when it goes out of scope.
class ColorTransformHolder {
  public:
    ColorTransformHolder() = default;
    explicit ColorTransformHolder(cmsHTRANSFORM transform) : m_transform(transform) {}
    ~ColorTransformHolder() { releaseTransform(m_transform); }

    ColorTransformHolder(ColorTransformHolder&& other) noexcept : m_transform(other.Release()) {}
    ColorTransformHolder& operator=(ColorTransformHolder&& other) noexcept {
        if (this != &other) {
            releaseTransform(m_transform);
            m_transform = other.Release();
        }
        return *this;
    }
    ColorTransformHolder(const ColorTransformHolder&) = delete;
    ColorTransformHolder& operator=(const ColorTransformHolder&) = delete;

    cmsHTRANSFORM Get() const { return m_transform; }
    explicit operator bool() const { return m_transform != nullptr; }
    // Gives up ownership without releasing.
    cmsHTRANSFORM Release() {
        cmsHTRANSFORM t = m_transform;
        m_transform = nullptr;
        return t;
    }

  private:
    cmsHTRANSFORM m_transform = nullptr;
};
