#include "ColorTransform.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Closes a LittleCMS profile when it goes out of scope.
struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;

}  // namespace

cmsHTRANSFORM get_colord_transform_func(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return nullptr;
    }
    ProfilePtr source(cmsCreate_sRGBProfile());
    if (!source) {
        return nullptr;
    }
    ProfilePtr destination(cmsOpenProfileFromFile(path, "r"));
    if (!destination) {
        return nullptr;
    }
    // The pixels on both sides are 8-bit RGB; a profile of another device
    // space cannot take them.
    if (cmsGetColorSpace(destination.get()) != cmsSigRgbData) {
        return nullptr;
    }

    cmsHPROFILE profiles[2] = {source.get(), destination.get()};
    cmsBool blackPointCompensation[2] = {FALSE, FALSE};
    cmsUInt32Number intents[2] = {cmsGetHeaderRenderingIntent(source.get()),
                                  cmsGetHeaderRenderingIntent(destination.get())};
    cmsFloat64Number adaptation[2] = {1.0, 1.0};
    // The transform keeps what it needs of the profiles; they are closed here.
    return cmsCreateExtendedTransform(nullptr, 2, profiles, blackPointCompensation, intents,
                                      adaptation, nullptr, 0, TYPE_RGB_8, TYPE_RGB_8, 0);
}

void releaseTransform(cmsHTRANSFORM transform) {
    if (transform != nullptr) {
        cmsDeleteTransform(transform);
    }
}

bool ApplyColorTransform(cmsHTRANSFORM transform, uint8_t* data, int width, int height,
                         int bytesPerLine) {
    if (transform == nullptr || data == nullptr || width <= 0 || height <= 0) {
        return false;
    }
    if (bytesPerLine / 3 < width) {
        return false;
    }
    const size_t size = static_cast<size_t>(height) * static_cast<size_t>(bytesPerLine);
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[size]);
    if (!scratch) {
        return false;
    }
    std::memcpy(scratch.get(), data, size);
    std::memset(data, 0, size);
    cmsDoTransformLineStride(transform, scratch.get(), data, static_cast<cmsUInt32Number>(width),
                             static_cast<cmsUInt32Number>(height),
                             static_cast<cmsUInt32Number>(bytesPerLine),
                             static_cast<cmsUInt32Number>(bytesPerLine), 0, 0);
    return true;
}
