// The colour transform of the image side: sRGB into the device space of the
// printer's ICC profile, done with LittleCMS 2.
#pragma once

#include <lcms2.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Makes a transform from the built-in sRGB profile to the RGB device space of
// the ICC profile file at path, each profile with the rendering intent named
// in its own header, 8-bit RGB packed three bytes per pixel on both sides, no
// options. The path is opened exactly as given: the caller decides where it
// points (the filter passes the installed profile path, already checked).
// Returns null, silently, when the file is missing or unreadable, is not an
// ICC profile, is not an RGB profile, or no transform can be made from it.
// Release the result with releaseTransform().
cmsHTRANSFORM get_colord_transform_func(const char* path);

// The same transform made in a LittleCMS context of the caller's (null: the
// default one) with the given flags (0 gives get_colord_transform_func's).
// When lastIntent is given, the intent of the last profile is stored there
// before the transform is made (a plug-in of the context may need it).
cmsHTRANSFORM MakeColorTransformIn(cmsContext context, const char* path, cmsUInt32Number flags,
                                   cmsUInt32Number* lastIntent = nullptr);

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

// The transform of get_colord_transform_func(path) for whole pages, in a
// LittleCMS context of its own with the filter's transform plug-in
// (ColorTransformPlugin.cpp): LittleCMS links and optimises the profiles as
// always, and when the result is its 8-bit path of a grid (with or without
// pre-linearisation curves), the plug-in computes every pixel with the same
// integer formula
// at a fraction of the cost (it checks itself against LittleCMS first, and
// the tests compare every 8-bit colour through both package profiles).
// Otherwise the transform is LittleCMS's own.
class PageTransform {
  public:
    // Null when get_colord_transform_func(path) would give null.
    static std::unique_ptr<PageTransform> Make(const char* path);
    ~PageTransform();
    PageTransform(const PageTransform&) = delete;
    PageTransform& operator=(const PageTransform&) = delete;

    cmsHTRANSFORM Get() const { return m_transform; }
    // Whether the plug-in computes the pixels.
    bool Fast() const { return m_fast; }

    // TransformRows(Get(), ...), then, unless map is null, byte c of every
    // pixel through map[c]: the two steps in one pass over the rows.
    void Rows(uint8_t* data, int width, int first, int end, int bytesPerLine,
              const uint8_t (*map)[256]) const;

  private:
    PageTransform() = default;
    cmsContext m_context = nullptr;
    cmsHTRANSFORM m_transform = nullptr;
    void* m_request = nullptr;
    bool m_fast = false;
};

// Colour-matches rows first ... end - 1 of a packed 24-bit bitmap in place,
// giving the bytes ApplyColorTransform gives those rows (the padding bytes of
// each row are zero afterwards). Transforms are safe to use from several
// threads at once, so bands of one page may be converted concurrently.
void TransformRows(cmsHTRANSFORM transform, uint8_t* data, int width, int first, int end,
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

// The transforms of one owner (a printer object's image side), kept from page
// to page: a transform is made once per profile file and reused while the
// file stays the same (same path, device, inode, size and modification
// time). A transform may be prepared in the background ahead of its first
// use. Safe to use from several threads.
class ColorTransformCache {
  public:
    ColorTransformCache() = default;
    ~ColorTransformCache();
    ColorTransformCache(const ColorTransformCache&) = delete;
    ColorTransformCache& operator=(const ColorTransformCache&) = delete;

    // Starts making the transform of path on a thread of its own, unless it
    // is kept or being made already. Nothing happens for an empty path.
    void Prepare(const std::string& path);

    // The page transform of path, made now if it is neither
    // kept nor being made; null when none can be made from the file. Valid
    // until the next Get or Prepare of another file, or the cache's end.
    cmsHTRANSFORM Get(const std::string& path);
    // The same as its PageTransform (null where Get gives null).
    const PageTransform* GetPage(const std::string& path);

    // How many transforms this cache has made (for tests).
    int Made() const;

  private:
    struct Identity {
        std::string path;
        uint64_t device = 0, inode = 0, size = 0;
        int64_t modified = 0;
        bool exists = false;
        bool operator==(const Identity&) const = default;
    };
    static Identity IdentityOf(const std::string& path);
    void Settle(std::unique_lock<std::mutex>& lock);

    mutable std::mutex m_lock;
    Identity m_key;
    std::unique_ptr<PageTransform> m_transform;
    bool m_have = false;
    // The transform being made: its thread fills the slot, then ends.
    std::thread m_builder;
    std::shared_ptr<std::unique_ptr<PageTransform>> m_built;
    Identity m_builtKey;
    int m_made = 0;
};
