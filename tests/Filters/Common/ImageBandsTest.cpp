// The image side's work in bands of rows on worker threads: the pool itself,
// and ColorProcess for any number of threads and bands against the design's
// pipeline (its steps written out below with the bitmap library's
// whole-bitmap operations, one new bitmap per step, as the design does them).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ColorTransform.h"
#include "PhotoImageBuffer.h"
#include "PhotoPrinterDeviceQZM480.h"
#include "WorkerPool.h"

namespace {

// ---- The pool ----------------------------------------------------------

TEST(WorkerPool, RunsEveryTaskOnceForAnyThreadCount) {
    for (int threads : {1, 2, 3, 8}) {
        qzm::WorkerPool pool(threads);
        EXPECT_EQ(pool.Threads(), threads);
        for (int count : {0, 1, 2, 7, 100}) {
            std::vector<std::atomic<int>> seen(static_cast<size_t>(count));
            pool.Run(count, [&](int i) { seen[size_t(i)]++; });
            for (int i = 0; i < count; ++i) {
                ASSERT_EQ(seen[size_t(i)].load(), 1) << threads << " threads, task " << i;
            }
        }
    }
}

TEST(WorkerPool, NestedAndConcurrentStepsFinish) {
    qzm::WorkerPool pool(3);
    std::atomic<int> inner{0};
    pool.Run(4, [&](int) { pool.Run(5, [&](int) { inner++; }); });
    EXPECT_EQ(inner.load(), 20);

    std::atomic<int> total{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < 3; ++c) {
        callers.emplace_back([&] {
            for (int step = 0; step < 20; ++step) {
                pool.Run(6, [&](int) { total++; });
            }
        });
    }
    for (auto& t : callers) {
        t.join();
    }
    EXPECT_EQ(total.load(), 3 * 20 * 6);
}

TEST(WorkerPool, BandsCoverTheRowsInOrder) {
    for (int threads : {1, 2, 8}) {
        for (int64_t minRows : {1, 32}) {
            for (int64_t rows : {1, 2, 31, 32, 33, 97, 4872}) {
                qzm::WorkerPool pool(threads);
                std::mutex lock;
                std::vector<std::pair<int64_t, int64_t>> bands;
                const int count = pool.RunBands(rows, minRows, [&](int64_t first, int64_t end) {
                    std::lock_guard<std::mutex> g(lock);
                    bands.emplace_back(first, end);
                });
                std::sort(bands.begin(), bands.end());
                ASSERT_EQ(int(bands.size()), count);
                ASSERT_GE(count, 1);
                EXPECT_LE(count, threads == 1 ? 1 : 4 * threads);
                int64_t next = 0;
                for (auto [first, end] : bands) {
                    ASSERT_EQ(first, next);
                    ASSERT_GT(end, first);
                    next = end;
                }
                EXPECT_EQ(next, rows);
            }
        }
    }
}

// ---- The design's pipeline, step by step ----------------------------

constexpr uint32_t kRec = sizeof(_tagBITMAPHANDLE);

int64_t Stride24(int64_t width) {
    return (width * 24 + 31) / 32 * 4;
}

bool Wrap(_tagBITMAPHANDLE* b, uint8_t* data, int64_t w, int64_t h) {
    *b = _tagBITMAPHANDLE{};
    if (IL_CreateBitmap(b, kRec, 2, int32_t(w), int32_t(h), 24, 1, nullptr, 4, data,
                        uint64_t(Stride24(w) * h)) != 1)
        return false;
    b->handle = b->data;
    return true;
}

uint8_t* DesignTurn(const uint8_t* pixels, int64_t width, int64_t height) {
    const int64_t inStride = Stride24(width), outStride = Stride24(height);
    auto* out = static_cast<uint8_t*>(std::calloc(size_t(width), size_t(outStride)));
    for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x)
            std::memcpy(out + x * outStride + (height - 1 - y) * 3, pixels + y * inStride + 3 * x, 3);
    return out;
}

void DesignShrink(_tagBITMAPHANDLE* working, float s) {
    const int32_t width = working->width, height = working->height;
    const auto newWidth = int32_t(float(width) * s), newHeight = int32_t(float(height) * s);
    if (!(newWidth > 0 && newHeight > 0))
        return;
    const int64_t canvasStride = Stride24(newWidth);
    auto* canvasData = static_cast<uint8_t*>(std::malloc(size_t(canvasStride) * newHeight));
    std::memset(canvasData, 255, size_t(canvasStride) * newHeight);
    _tagBITMAPHANDLE canvas;
    Wrap(&canvas, canvasData, newWidth, newHeight);
    const size_t srcStride = size_t(working->bytesPerLine);
    int32_t canvasRow = 0;
    for (int32_t first = 0; first < height; first += 1000) {
        const int32_t rows = std::min(1000, height - first);
        const auto scaledRows = int32_t(float(rows) * s);
        if (scaledRows <= 0)
            continue;
        auto* bandData = static_cast<uint8_t*>(std::malloc(srcStride * rows));
        std::memcpy(bandData, working->data + srcStride * first, srcStride * rows);
        _tagBITMAPHANDLE band;
        Wrap(&band, bandData, width, rows);
        ASSERT_EQ(IL_SizeBitmap(&band, newWidth, scaledRows, 4), 1);
        const int32_t fit = std::min(scaledRows, newHeight - canvasRow);
        for (int32_t r = 0; r < fit; ++r)
            std::memcpy(canvas.data + size_t(canvasRow + r) * canvasStride,
                        band.data + size_t(r) * band.bytesPerLine, size_t(newWidth) * 3);
        canvasRow += std::max(fit, 0);
        IL_FreeBitmap(&band);
    }
    IL_FreeBitmap(working);
    *working = canvas;
}

// The design's ColorProcess, returning the result's pixel rows.
std::vector<uint8_t> Design(const PhotoImageBuffer& b, const uint8_t* page, int64_t w, int64_t h,
                            int32_t* outWidth) {
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(size_t(Stride24(w) * h)));
    std::memcpy(pixels, page, size_t(Stride24(w) * h));
    if (b.m_paperRotate) {
        uint8_t* turned = DesignTurn(pixels, w, h);
        std::free(pixels);
        pixels = turned;
        std::swap(w, h);
    }
    _tagBITMAPHANDLE working;
    Wrap(&working, pixels, w, h);
    if (b.m_resolutionMode == 1 && b.m_paperRotate)
        IL_SizeBitmap(&working, working.width / 2, working.height * 2, 4);
    else if (b.m_resolutionMode == 2)
        IL_SizeBitmap(&working, working.width / 2, working.height, 4);
    if (b.m_border)
        DesignShrink(&working, _BorderScale(b.m_mediaInfo, b.m_resolution));
    if (b.m_icm && !b.m_iccProfilePath.empty()) {
        ColorTransformHolder t(get_colord_transform_func(b.m_iccProfilePath.c_str()));
        if (t)
            ApplyColorTransform(t.Get(), working.data, working.width, working.height,
                                working.bytesPerLine);
    }
    _tagBITMAPHANDLE planes[3]{};
    _tagBITMAPHANDLE* p[3] = {&planes[0], &planes[1], &planes[2]};
    IL_ColorSeparateBitmap(&working, p, kRec, 0);
    IL_FreeBitmap(&working);
    const bool on = b.m_colorAdjustment;
    for (int i = 0; i < 3; ++i)
        IL_GammaCorrectBitmap(&planes[i], uint32_t(on ? b.m_gamma[i] : 100));
    for (int i = 0; i < 3; ++i)
        IL_ChangeBitmapIntensity(&planes[i], on ? b.m_brightness[i] : 0);
    for (int i = 0; i < 3; ++i)
        IL_ChangeBitmapContrast(&planes[i], on ? b.m_contrast[i] : 0);
    _tagBITMAPHANDLE merged{};
    IL_ColorMergeBitmap(&merged, p, kRec, 0);
    for (auto& plane : planes)
        IL_FreeBitmap(&plane);
    IL_SharpenBitmap(&merged, b.m_sharpness);
    IL_ChangeBitmapSaturation(&merged, on ? b.m_chroma : 0);
    std::vector<uint8_t> rows;
    for (int32_t y = 0; y < merged.height; ++y) {
        const uint8_t* row = merged.data + size_t(y) * merged.bytesPerLine;
        rows.insert(rows.end(), row, row + 3 * size_t(merged.width));
    }
    *outWidth = merged.width;
    IL_FreeBitmap(&merged);
    return rows;
}

// ---- Bands against the design -----------------------------------------

struct Settings {
    const char* name;
    int mediaId;
    int resolution;  // 300 or 600
    int mode;        // resolution mode 0, 1 or 2
    bool rotate, border, icm;
    const char* profile;  // file name in the profile folder
    int32_t sharpness;
    bool adjust;
};

const Settings kSettings[] = {
    {"Plain", 3, 300, 0, false, false, false, "", 0, false},
    {"BorderIccSharpChroma", 4, 600, 1, false, true, true, "M480_0100.icc", 650, true},
    {"TurnedHalfWidthDoubleHeight", 1, 600, 1, true, true, true, "ov-480-mac-251126-5.icc", 1000,
     true},
    {"HalfWidthSoftened", 3, 600, 2, false, true, false, "", -500, true},
    {"SharpenOnly", 3, 300, 0, false, false, false, "", 850, false},
    {"TurnedAdjustOnly", 1, 300, 0, true, false, false, "", 0, true},
};

struct Shape {
    int width, height;
};

// One-row and one-column pages, pages shorter than the bands, odd sizes, and
// one tall enough for the border's bands of 1000 rows.
const Shape kShapes[] = {{1, 1}, {7, 1}, {1, 9}, {5, 2}, {33, 3}, {40, 97}, {9, 2001}};

void Configure(PhotoImageBuffer& b, const Settings& s) {
    DeviceEntry_QZM480 entry;
    entry.m_resolution = s.resolution;
    DeviceMediaBufferInfo media;
    ASSERT_EQ(entry.SetMediaInfo(&media, s.mediaId, 1.53), 0);
    b.Alloc(media);
    b.m_resolution = s.resolution;
    b.m_resolutionMode = s.mode;
    b.m_paperRotate = s.rotate;
    b.m_border = s.border;
    b.m_icm = s.icm;
    b.m_iccProfilePath = s.icm ? std::string(QZM480_PROFILE_DIR "/") + s.profile : "";
    b.m_sharpness = s.sharpness;
    b.m_colorAdjustment = s.adjust;
    const int32_t gamma[3] = {141, 93, 103}, brightness[3] = {60, -40, 20},
                  contrast[3] = {150, -50, 250};
    for (int i = 0; i < 3; ++i) {
        b.m_gamma[i] = gamma[i], b.m_brightness[i] = brightness[i], b.m_contrast[i] = contrast[i];
    }
    b.m_chroma = 300;
}

TEST(ImageBands, AnyThreadsAndBandsGiveTheDesignsBytes) {
    std::mt19937 rng(17);
    std::vector<std::vector<uint8_t>> pages;
    for (const Shape& shape : kShapes) {
        const int64_t stride = Stride24(shape.width);
        std::vector<uint8_t> page(size_t(stride * shape.height));
        for (int y = 0; y < shape.height; ++y)
            for (int x = 0; x < 3 * shape.width; ++x)
                page[size_t(y * stride + x)] = uint8_t((x * 7 + y * 3) % 256 ^ (rng() & 15));
        pages.push_back(std::move(page));
    }
    const int configs[][2] = {{1, 0}, {2, 0}, {2, 1}, {3, 1}, {5, 1}};  // threads, band rows
    for (const Settings& s : kSettings) {
        std::vector<std::vector<uint8_t>> want(pages.size());
        std::vector<int32_t> wantWidth(pages.size());
        PhotoImageBuffer reference;
        Configure(reference, s);
        for (size_t k = 0; k < pages.size(); ++k) {
            want[k] = Design(reference, pages[k].data(), kShapes[k].width, kShapes[k].height,
                             &wantWidth[k]);
        }
        for (auto [threads, bandRows] : configs) {
            // One buffer for every page, as one job: its transform is kept.
            PhotoImageBuffer b;
            Configure(b, s);
            b.SetWorkerThreads(threads, bandRows);
            for (size_t k = 0; k < pages.size(); ++k) {
                auto* pixels = static_cast<uint8_t*>(std::malloc(pages[k].size()));
                std::memcpy(pixels, pages[k].data(), pages[k].size());
                _tagBITMAPHANDLE* r =
                    b.ColorProcess(pixels, kShapes[k].width, kShapes[k].height, 0);
                ASSERT_NE(r, nullptr);
                std::vector<uint8_t> got;
                for (int32_t y = 0; y < r->height; ++y) {
                    const uint8_t* row = r->data + size_t(y) * r->bytesPerLine;
                    got.insert(got.end(), row, row + 3 * size_t(r->width));
                }
                EXPECT_EQ(r->width, wantWidth[k]);
                EXPECT_EQ(r->colorOrder, 1u);
                EXPECT_TRUE(got == want[k])
                    << s.name << " " << kShapes[k].width << "x" << kShapes[k].height << ", "
                    << threads << " threads, bands of " << bandRows;
                IL_FreeBitmap(r);
                std::free(r);
            }
        }
    }
}

}  // namespace
