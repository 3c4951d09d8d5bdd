#include "ColorTransform.h"

#include <pthread.h>
#include <sys/stat.h>

#include <csignal>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

namespace {

// Closes a LittleCMS profile when it goes out of scope.
struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;

}  // namespace

cmsHTRANSFORM get_colord_transform_func(const char* path) {
    return MakeColorTransformIn(nullptr, path, 0);
}

cmsHTRANSFORM MakeColorTransformIn(cmsContext context, const char* path, cmsUInt32Number flags,
                                   cmsUInt32Number* lastIntent) {
    if (path == nullptr || path[0] == '\0') {
        return nullptr;
    }
    ProfilePtr source(cmsCreate_sRGBProfileTHR(context));
    if (!source) {
        return nullptr;
    }
    ProfilePtr destination(cmsOpenProfileFromFileTHR(context, path, "r"));
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
    if (lastIntent != nullptr) {
        *lastIntent = intents[1];
    }
    // The transform keeps what it needs of the profiles; they are closed here.
    return cmsCreateExtendedTransform(context, 2, profiles, blackPointCompensation, intents,
                                      adaptation, nullptr, 0, TYPE_RGB_8, TYPE_RGB_8, flags);
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

void TransformRows(cmsHTRANSFORM transform, uint8_t* data, int width, int first, int end,
                   int bytesPerLine) {
    if (transform == nullptr || data == nullptr || width <= 0 || first >= end ||
        bytesPerLine / 3 < width) {
        return;
    }
    const size_t stride = static_cast<size_t>(bytesPerLine);
    uint8_t* rows = data + static_cast<size_t>(first) * stride;
    // In place: LittleCMS reads each pixel before it writes its result, and
    // both sides have three bytes per pixel.
    cmsDoTransformLineStride(transform, rows, rows, static_cast<cmsUInt32Number>(width),
                             static_cast<cmsUInt32Number>(end - first),
                             static_cast<cmsUInt32Number>(bytesPerLine),
                             static_cast<cmsUInt32Number>(bytesPerLine), 0, 0);
    const size_t pixels = 3 * static_cast<size_t>(width);
    if (pixels < stride) {
        for (int y = first; y < end; ++y) {
            std::memset(data + static_cast<size_t>(y) * stride + pixels, 0, stride - pixels);
        }
    }
}

ColorTransformCache::~ColorTransformCache() {
    std::unique_lock<std::mutex> lock(m_lock);
    Settle(lock);
}

ColorTransformCache::Identity ColorTransformCache::IdentityOf(const std::string& path) {
    Identity id;
    id.path = path;
    struct stat info;
    if (!path.empty() && ::stat(path.c_str(), &info) == 0) {
        id.exists = true;
        id.device = info.st_dev;
        id.inode = info.st_ino;
        id.size = static_cast<uint64_t>(info.st_size);
        id.modified = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
    }
    return id;
}

// Waits for a transform being made and keeps it.
void ColorTransformCache::Settle(std::unique_lock<std::mutex>& lock) {
    if (!m_builder.joinable()) {
        return;
    }
    std::thread builder = std::move(m_builder);
    std::shared_ptr<std::unique_ptr<PageTransform>> built = std::move(m_built);
    const Identity key = m_builtKey;
    lock.unlock();
    builder.join();
    lock.lock();
    m_transform = std::move(*built);
    m_key = key;
    m_have = true;
}

void ColorTransformCache::Prepare(const std::string& path) {
    if (path.empty()) {
        return;
    }
    Identity id = IdentityOf(path);
    std::unique_lock<std::mutex> lock(m_lock);
    if ((m_have && m_key == id) || (m_builder.joinable() && m_builtKey == id)) {
        return;
    }
    Settle(lock);
    auto slot = std::make_shared<std::unique_ptr<PageTransform>>();
    // The thread blocks every signal: the process's own threads handle them.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
        m_builder = std::thread(
            [slot, path] { *slot = PageTransform::Make(path.c_str()); });
        m_built = std::move(slot);
        m_builtKey = std::move(id);
        ++m_made;
    } catch (const std::system_error&) {
        // No thread to be had: Get makes the transform when it is needed.
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

cmsHTRANSFORM ColorTransformCache::Get(const std::string& path) {
    const PageTransform* page = GetPage(path);
    return page != nullptr ? page->Get() : nullptr;
}

const PageTransform* ColorTransformCache::GetPage(const std::string& path) {
    const Identity id = IdentityOf(path);
    std::unique_lock<std::mutex> lock(m_lock);
    Settle(lock);
    if (!(m_have && m_key == id)) {
        ++m_made;
        m_transform = PageTransform::Make(path.c_str());
        m_key = id;
        m_have = true;
    }
    return m_transform.get();
}

int ColorTransformCache::Made() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_made;
}
