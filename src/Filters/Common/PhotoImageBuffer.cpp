// PhotoImageBuffer: the colour pipeline, the plane store and the plane packets.
//
// The pipeline's steps are those of the design, in its order; each works on
// the page in place where the design made a new bitmap for the next step and
// splits its rows into bands for the worker threads. What a step computes
// for a row does not depend on the band the row is in, so the bytes are the
// design's for any number of threads.
#include "PhotoImageBuffer.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "ColorTransform.h"
#include "DeviceCmd.h"
#include "DeviceEntry.h"
#include "NvkImgLib_Private.h"
#include "NvkImgLib_Rows.h"
#include "WorkerPool.h"

const char* const kPlaneNames[3] = {"YPLANE", "MPLANE", "CPLANE"};

namespace {

// A block from the pool for one band, given back at its end.
class Scratch {
  public:
    Scratch(qzm::WorkerPool* pool, size_t doubles)
        : m_pool(pool != nullptr ? &pool->Memory() : nullptr),
          m_data(m_pool != nullptr ? m_pool->Take(doubles) : new (std::nothrow) double[doubles]) {}
    ~Scratch() {
        if (m_pool != nullptr) {
            m_pool->Give(m_data);
        } else {
            delete[] m_data;
        }
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    double* Get() const { return m_data; }

  private:
    qzm::ScratchPool* m_pool;
    double* m_data;
};

}  // namespace

struct PhotoImageBuffer::Engine {
    ~Engine() { nvk::Release(plan); }
    std::unique_ptr<qzm::WorkerPool> pool = std::make_unique<qzm::WorkerPool>(0);
    ColorTransformCache transforms;
    // The saturation of the last page, for the next ones of the same value.
    const nvk::SaturationPlan* plan = nullptr;
    int32_t planValue = 0;
    bool planTables = false;
};

namespace {

constexpr int32_t kBandRows = 1000;
constexpr uint32_t kRecordSize = sizeof(_tagBITMAPHANDLE);

// Rows per band of the worker threads' steps: enough that a band's set-up
// (a few rows of the resampling's horizontal pass, two saved rows of the
// sharpening) stays small beside its work.
constexpr int64_t kMinBandRows = 32;

// Row length of a 24-bit row of width pixels, padded to 4 bytes.
int64_t Stride24(int64_t width) {
    return (width * 24 + 31) / 32 * 4;
}

// Describes a malloc'd block as a 24-bit bitmap that owns it.
bool Wrap24(_tagBITMAPHANDLE* bitmap, uint8_t* data, int64_t width, int64_t height) {
    *bitmap = _tagBITMAPHANDLE{};
    const int64_t stride = Stride24(width);
    if (IL_CreateBitmap(bitmap, kRecordSize, kILMemoryKind, static_cast<int32_t>(width),
                        static_cast<int32_t>(height), 24, 1, nullptr, kILLayoutCode, data,
                        static_cast<uint64_t>(stride * height)) != kILSuccess) {
        *bitmap = _tagBITMAPHANDLE{};
        return false;
    }
    bitmap->handle = bitmap->data;
    return true;
}

// Runs rows in bands on the pool, or all at once on this thread without one.
void InBands(qzm::WorkerPool* pool, int64_t rows, int64_t minRows,
             const std::function<void(int64_t, int64_t)>& band) {
    if (pool == nullptr) {
        if (rows > 0) {
            band(0, rows);
        }
        return;
    }
    pool->RunBands(rows, minRows, band);
}


}  // namespace

void _MakePlaneBmpHeader(uint8_t* p, int32_t width, int32_t height, int64_t hDpi, int64_t vDpi) {
    const uint32_t rowBytes = (static_cast<uint32_t>(width) + 3u) & ~3u;
    const uint32_t pixelBytes = rowBytes * static_cast<uint32_t>(height);
    std::memset(p, 0, kPlaneBmpHeaderSize);
    p[0] = 'B';
    p[1] = 'M';
    _StoreLE4(p + 2, kPlaneBmpHeaderSize + pixelBytes);
    _StoreLE4(p + 10, kPlaneBmpHeaderSize);
    _StoreLE4(p + 14, 40);
    _StoreLE4(p + 18, static_cast<uint32_t>(width));
    _StoreLE4(p + 22, static_cast<uint32_t>(height));
    _StoreLE2(p + 26, 1);
    _StoreLE2(p + 28, 8);
    _StoreLE4(p + 34, pixelBytes);
    _StoreLE4(p + 38, static_cast<uint32_t>(static_cast<int64_t>(hDpi * 1000 / 25.4)));
    _StoreLE4(p + 42, static_cast<uint32_t>(static_cast<int64_t>(vDpi * 1000 / 25.4)));
    _StoreLE4(p + 46, 256);
    _StoreLE4(p + 50, 256);
    for (int i = 0; i < 256; ++i) {
        p[54 + 4 * i] = p[55 + 4 * i] = p[56 + 4 * i] = static_cast<uint8_t>(i);
    }
}

uint8_t* _TurnOntoPaper(const uint8_t* pixels, int64_t width, int64_t height) {
    return _TurnOntoPaper(pixels, width, height, nullptr);
}

uint8_t* _TurnOntoPaper(const uint8_t* pixels, int64_t width, int64_t height,
                        qzm::WorkerPool* pool) {
    const int64_t inStride = Stride24(width);
    const int64_t outStride = Stride24(height);
    const size_t outBytes = static_cast<size_t>(width) * static_cast<size_t>(outStride);
    auto* out = static_cast<uint8_t*>(GlobalAlloc(0, outBytes));
    if (out == nullptr) {
        return nullptr;
    }
    // Output row x holds input column x: a band of output rows reads a narrow
    // strip of every input row.
    InBands(pool, width, 16, [&](int64_t first, int64_t end) {
        for (int64_t x = first; x < end; ++x) {
            uint8_t* row = out + x * outStride;
            std::memset(row + 3 * height, 0, static_cast<size_t>(outStride - 3 * height));
        }
        for (int64_t y = 0; y < height; ++y) {
            const uint8_t* src = pixels + y * inStride;
            uint8_t* column = out + (height - 1 - y) * 3;
            for (int64_t x = first; x < end; ++x) {
                uint8_t* dst = column + x * outStride;
                dst[0] = src[3 * x];
                dst[1] = src[3 * x + 1];
                dst[2] = src[3 * x + 2];
            }
        }
    });
    return out;
}

float _BorderScale(const DeviceMediaBufferInfo& media, int64_t resolution) {
    const int32_t k = resolution == 600 ? 2 : 1;
    const auto asDouble = [](int64_t v) { return static_cast<double>(static_cast<float>(v)); };
    const float sx = static_cast<float>(asDouble(int64_t{media.widthDots} - 2 * media.marginXDots) /
                                        asDouble(media.widthDots));
    const float sy = static_cast<float>(
        asDouble(int64_t{media.heightDots} * k - int64_t{2} * media.marginYDots * k) /
        asDouble(int64_t{media.heightDots} * k));
    return std::min(sx, sy);
}

int _SizeBitmap(_tagBITMAPHANDLE* bitmap, int32_t newWidth, int32_t newHeight,
                qzm::WorkerPool* pool) {
    // The checks of IL_SizeBitmap, which refuses (and changes nothing) where
    // this refuses.
    if (bitmap == nullptr || bitmap->data == nullptr || bitmap->bitsPerPixel != 24 ||
        bitmap->colorOrder > 1 || newWidth <= 0 || newHeight <= 0) {
        return kILErrInvalidParameter;
    }
    const _tagBITMAPHANDLE src = *bitmap;
    if (!nvk::GeometryFits(src, 3) || src.width <= 0 || src.height <= 0) {
        return kILErrInvalidParameter;
    }
    const int32_t stride = nvk::StrideFor(newWidth, 24);
    if (stride < 0) {
        return kILErrInvalidParameter;
    }
    const uint64_t newSize = static_cast<uint64_t>(stride) * static_cast<uint64_t>(newHeight);
    const uint64_t rowDoubles = 3 * static_cast<uint64_t>(newWidth);
    uint64_t fullSize = 0;
    if (__builtin_mul_overflow(static_cast<uint64_t>(src.height), rowDoubles * sizeof(double),
                               &fullSize) ||
        fullSize > static_cast<uint64_t>(PTRDIFF_MAX)) {
        return kILErrNoMemory;
    }
    auto* block = static_cast<uint8_t*>(GlobalAlloc(0, newSize));
    std::unique_ptr<nvk::Taps[]> xTaps(new (std::nothrow) nvk::Taps[newWidth]);
    if (block == nullptr || !xTaps) {
        GlobalFree(block);
        return kILErrNoMemory;
    }
    for (int32_t x = 0; x < newWidth; ++x) {
        xTaps[x] = nvk::TapsFor(src.width, newWidth, x);
    }
    std::atomic<bool> failed{false};
    const size_t scratch = nvk::SizeRowsScratch(src.width, src.height, newWidth);
    InBands(pool, newHeight, kMinBandRows, [&](int64_t first, int64_t end) {
        Scratch work(pool, scratch);
        if (work.Get() == nullptr) {
            failed = true;
            return;
        }
        nvk::SizeRows(src, newWidth, newHeight, xTaps.get(), static_cast<int32_t>(first),
                      static_cast<int32_t>(end), block + static_cast<size_t>(first) * stride,
                      static_cast<size_t>(stride), work.Get());
    });
    if (failed) {
        GlobalFree(block);
        return kILErrNoMemory;
    }
    if (bitmap->handle != nullptr) {
        GlobalFree(bitmap->handle);
        bitmap->palette = nullptr;
    }
    bitmap->data = block;
    bitmap->handle = block;
    bitmap->width = newWidth;
    bitmap->height = newHeight;
    bitmap->bytesPerLine = stride;
    bitmap->dataSize = newSize;
    return kILSuccess;
}

bool _ShrinkForBorder(_tagBITMAPHANDLE* working, float s) {
    return _ShrinkForBorder(working, s, nullptr);
}

bool _ShrinkForBorder(_tagBITMAPHANDLE* working, float s, qzm::WorkerPool* pool) {
    const int32_t width = working->width;
    const int32_t height = working->height;
    const auto newWidth = static_cast<int32_t>(static_cast<float>(width) * s);
    const auto newHeight = static_cast<int32_t>(static_cast<float>(height) * s);
    if (!(newWidth > 0 && newHeight > 0)) {
        return false;
    }
    const int64_t canvasStride = Stride24(newWidth);
    const size_t canvasBytes = static_cast<size_t>(canvasStride) * static_cast<size_t>(newHeight);
    auto* canvasData = static_cast<uint8_t*>(GlobalAlloc(0, canvasBytes));
    if (canvasData == nullptr) {
        return false;
    }

    // The design resamples each band of 1000 source rows on its own (its
    // taps never reach into the next band) to (rows x s) rows, and copies as
    // many of them as still fit below the ones before onto a white canvas.
    struct Band {
        _tagBITMAPHANDLE source;  // the band's rows, in place
        int32_t scaledRows;
        int32_t fit;        // rows that reach the canvas
        int32_t canvasRow;  // where the first of them goes
    };
    std::vector<Band> bands;
    const size_t srcStride = static_cast<size_t>(working->bytesPerLine);
    int32_t canvasRow = 0;
    for (int32_t first = 0; first < height; first += kBandRows) {
        const int32_t rows = std::min(kBandRows, height - first);
        const auto scaledRows = static_cast<int32_t>(static_cast<float>(rows) * s);
        if (scaledRows <= 0) {
            continue;
        }
        Band band{};
        if (!Wrap24(&band.source, working->data + srcStride * first, width, rows)) {
            GlobalFree(canvasData);
            return false;
        }
        band.source.handle = nullptr;  // the working bitmap's memory
        band.scaledRows = scaledRows;
        band.fit = std::max(std::min(scaledRows, newHeight - canvasRow), 0);
        band.canvasRow = canvasRow;
        canvasRow += band.fit;
        bands.push_back(band);
    }
    // White where no band reaches: the padding of every row and the rows
    // below the last band.
    const size_t pixelBytes = static_cast<size_t>(newWidth) * 3;
    for (int32_t r = 0; r < canvasRow; ++r) {
        std::memset(canvasData + static_cast<size_t>(r) * canvasStride + pixelBytes, 255,
                    static_cast<size_t>(canvasStride) - pixelBytes);
    }
    std::memset(canvasData + static_cast<size_t>(canvasRow) * canvasStride, 255,
                static_cast<size_t>(canvasStride) * static_cast<size_t>(newHeight - canvasRow));

    std::unique_ptr<nvk::Taps[]> xTaps(new (std::nothrow) nvk::Taps[newWidth]);
    if (!xTaps) {
        GlobalFree(canvasData);
        return false;
    }
    for (int32_t x = 0; x < newWidth; ++x) {
        xTaps[x] = nvk::TapsFor(width, newWidth, x);
    }
    // Every band's output rows in pieces, all bands at once.
    struct Piece {
        size_t band;
        int32_t first, end;
    };
    std::vector<Piece> pieces;
    const int threads = pool != nullptr ? pool->Threads() : 1;
    const int64_t bandRows = pool != nullptr ? pool->BandRows(kMinBandRows) : kMinBandRows;
    for (size_t b = 0; b < bands.size(); ++b) {
        const int count = qzm::BandCount(bands[b].fit, bandRows, threads);
        for (int i = 0; i < count; ++i) {
            pieces.push_back({b, static_cast<int32_t>(qzm::BandFirst(bands[b].fit, count, i)),
                              static_cast<int32_t>(qzm::BandFirst(bands[b].fit, count, i + 1))});
        }
    }
    std::atomic<bool> failed{false};
    const size_t scratch = nvk::SizeRowsScratch(width, std::min(kBandRows, height), newWidth);
    const auto run = [&](int i) {
        const Piece& piece = pieces[static_cast<size_t>(i)];
        const Band& band = bands[piece.band];
        Scratch work(pool, scratch);
        if (work.Get() == nullptr) {
            failed = true;
            return;
        }
        nvk::SizeRows(band.source, newWidth, band.scaledRows, xTaps.get(), piece.first, piece.end,
                      canvasData + static_cast<size_t>(band.canvasRow + piece.first) * canvasStride,
                      static_cast<size_t>(canvasStride), work.Get());
    };
    if (pool != nullptr) {
        pool->Run(static_cast<int>(pieces.size()), run);
    } else {
        for (size_t i = 0; i < pieces.size(); ++i) {
            run(static_cast<int>(i));
        }
    }
    if (failed) {
        GlobalFree(canvasData);
        return false;
    }
    _tagBITMAPHANDLE canvas{};
    if (!Wrap24(&canvas, canvasData, newWidth, newHeight)) {
        GlobalFree(canvasData);
        return false;
    }
    IL_FreeBitmap(working);
    *working = canvas;
    return true;
}

bool _ToneTables(const int32_t (&gamma)[3], const int32_t (&brightness)[3],
                 const int32_t (&contrast)[3], bool on, uint8_t (&tables)[3][256]) {
    // The design's planes: one pixel each here, as only their palettes change.
    uint8_t pixel[3][4] = {};
    uint8_t palette[3][1024];
    _tagBITMAPHANDLE planes[3];
    for (int i = 0; i < 3; ++i) {
        for (int e = 0; e < 256; ++e) {
            palette[i][4 * e] = palette[i][4 * e + 1] = palette[i][4 * e + 2] =
                static_cast<uint8_t>(e);
            palette[i][4 * e + 3] = 0;
        }
        planes[i] = _tagBITMAPHANDLE{};
        IL_CreateBitmap(&planes[i], kRecordSize, kILMemoryKind, 1, 1, 8, 2, palette[i],
                        kILLayoutCode, pixel[i], 4);
    }
    for (int i = 0; i < 3; ++i) {
        IL_GammaCorrectBitmap(&planes[i], static_cast<uint32_t>(on ? gamma[i] : 100));
    }
    for (int i = 0; i < 3; ++i) {
        IL_ChangeBitmapIntensity(&planes[i], on ? brightness[i] : 0);
    }
    for (int i = 0; i < 3; ++i) {
        IL_ChangeBitmapContrast(&planes[i], on ? contrast[i] : 0);
    }
    // The merge takes byte c of a pixel through byte c of plane c's palette.
    bool changes = false;
    for (int c = 0; c < 3; ++c) {
        for (int e = 0; e < 256; ++e) {
            tables[c][e] = palette[c][4 * e + c];
            changes = changes || tables[c][e] != e;
        }
    }
    return changes;
}

PhotoImageBuffer::PhotoImageBuffer() : m_engine(std::make_unique<Engine>()) {
    for (_tagBITMAPHANDLE& plane : m_planes) {
        plane = _tagBITMAPHANDLE{};
    }
}

PhotoImageBuffer::~PhotoImageBuffer() {
    Clear();
}

void PhotoImageBuffer::SetWorkerThreads(int threads, int bandRows) {
    m_engine->pool = std::make_unique<qzm::WorkerPool>(threads, bandRows);
}

void PhotoImageBuffer::PrepareColorTransform(const std::string& iccProfilePath) {
    m_engine->transforms.Prepare(iccProfilePath);
}

int64_t PhotoImageBuffer::Alloc(DeviceMediaBufferInfo info) {
    if (std::memcmp(&info, &m_mediaInfo, sizeof info) != 0) {
        std::memcpy(&m_mediaInfo, &info, sizeof info);
    }
    return 0;
}

int64_t PhotoImageBuffer::Clear() {
    for (_tagBITMAPHANDLE& plane : m_planes) {
        IL_FreeBitmap(&plane);
    }
    return 0;
}

int64_t PhotoImageBuffer::Free() {
    return Clear();
}

_tagBITMAPHANDLE* PhotoImageBuffer::ColorProcess(uint8_t* pixels, int64_t width, int64_t height,
                                                 int32_t /*slot*/) {
    if (pixels == nullptr || width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) {
        std::free(pixels);
        return nullptr;
    }
    auto* result = static_cast<_tagBITMAPHANDLE*>(std::calloc(1, sizeof(_tagBITMAPHANDLE)));
    if (result == nullptr) {
        std::free(pixels);
        return nullptr;
    }
    qzm::WorkerPool* pool = m_engine->pool.get();

    // 1. Turn onto the paper.
    int64_t w = width;
    int64_t h = height;
    if (m_paperRotate) {
        uint8_t* turned = _TurnOntoPaper(pixels, w, h, pool);
        GlobalFree(pixels);
        if (turned == nullptr) {
            return result;
        }
        pixels = turned;
        std::swap(w, h);
    }

    // 2. The working bitmap takes the buffer over.
    _tagBITMAPHANDLE working{};
    if (!Wrap24(&working, pixels, w, h)) {
        std::free(pixels);
        return result;
    }

    // 3. Resolution of the head.
    if (m_resolutionMode == 1 && m_paperRotate) {
        _SizeBitmap(&working, working.width / 2, working.height * 2, pool);
    } else if (m_resolutionMode == 2) {
        _SizeBitmap(&working, working.width / 2, working.height, pool);
    }

    // 4. White border: the picture shrinks; Send centres it on the sheet.
    if (m_border) {
        _ShrinkForBorder(&working, _BorderScale(m_mediaInfo, m_resolution), pool);
    }

    uint8_t* data = working.data;
    const int32_t ww = working.width;
    const int32_t wh = working.height;
    const size_t stride = static_cast<size_t>(working.bytesPerLine);

    // 5. Colour matching, with the job's transform of the profile; then
    // 6 - 9, the tone steps: the design separates the page into planes,
    // changes their palettes and merges them back through the palettes,
    // which is a table per byte position, applied here in place.
    const PageTransform* transform = nullptr;
    if (m_icm && !m_iccProfilePath.empty()) {
        transform = m_engine->transforms.GetPage(m_iccProfilePath);
    }
    uint8_t tables[3][256];
    const bool tone =
        _ToneTables(m_gamma, m_brightness, m_contrast, m_colorAdjustment, tables);
    if (transform != nullptr || tone) {
        pool->RunBands(wh, kMinBandRows, [&](int64_t first, int64_t end) {
            if (transform != nullptr) {
                transform->Rows(data, ww, static_cast<int>(first), static_cast<int>(end),
                                working.bytesPerLine, tone ? tables : nullptr);
            } else {
                for (int64_t y = first; y < end; ++y) {
                    nvk::MapRow(data + static_cast<size_t>(y) * stride, static_cast<size_t>(ww),
                                tables);
                }
            }
        });
    }

    // 10, 11. Sharpen, then the saturation; each row is saturated as soon as
    // the sharpening has made it. Level 0 leaves every byte as it is (its
    // kernel is the centre pixel times 1), so it is skipped.
    const int32_t level = m_sharpness;
    const int32_t chroma = m_colorAdjustment ? m_chroma : 0;
    // The library refuses values outside -1000 ... 1000 and changes nothing.
    const bool saturate = chroma >= -1000 && chroma <= 1000;
    const bool sharpen = level != 0 && level >= -1000 && level <= 1000;
    const uint64_t pixelCount = static_cast<uint64_t>(ww) * static_cast<uint64_t>(wh);
    const nvk::SaturationPlan* plan = nullptr;
    if (saturate) {
        // The plan of the page before serves while its value and kind (tables
        // for a page of many pixels) are the same.
        Engine& e = *m_engine;
        const bool tables = nvk::SaturationUsesTables(pixelCount);
        if (e.plan == nullptr || e.planValue != chroma || e.planTables != tables) {
            nvk::Release(e.plan);
            e.plan = nvk::MakeSaturation(chroma, pixelCount);
            e.planValue = chroma;
            e.planTables = tables;
            if (e.plan == nullptr) {
                e.plan = nvk::MakeSaturation(chroma, 0);  // every pixel directly
                e.planTables = false;
            }
        }
        plan = e.plan;
    }
    // Red is byte 2 of this colour order, blue byte 0.
    struct SaturateSink {
        const nvk::SaturationPlan* plan;
        size_t width;
        static void Done(void* context, uint8_t* row, int32_t) {
            const auto* sink = static_cast<const SaturateSink*>(context);
            nvk::SaturateRow(sink->plan, row, sink->width, 2, 0);
        }
    } saturation{plan, static_cast<size_t>(ww)};
    if (sharpen) {
        // The rows on either side of each band boundary as they are before
        // the step: bands change their own rows while their neighbours read.
        const int count = qzm::BandCount(wh, pool->BandRows(kMinBandRows), pool->Threads());
        const size_t rowBytes = 3 * static_cast<size_t>(ww);
        // Their working memory is had before any band starts: a step that
        // cannot be done is not done at all, as in the library.
        std::vector<uint8_t> edges;
        std::vector<std::unique_ptr<Scratch>> scratch;
        bool ready = true;
        try {
            edges.resize(2 * rowBytes * static_cast<size_t>(count + 1));
            for (int i = 0; i < count && ready; ++i) {
                scratch.push_back(std::make_unique<Scratch>(pool, nvk::SharpenRowsScratch(ww)));
                ready = scratch.back()->Get() != nullptr;
            }
        } catch (const std::bad_alloc&) {
            ready = false;
        }
        if (ready) {
            for (int i = 1; i < count; ++i) {
                const int64_t first = qzm::BandFirst(wh, count, i);
                std::memcpy(edges.data() + (2 * i) * rowBytes,
                            data + static_cast<size_t>(first - 1) * stride, rowBytes);
                std::memcpy(edges.data() + (2 * i + 1) * rowBytes,
                            data + static_cast<size_t>(first) * stride, rowBytes);
            }
        }
        const nvk::SharpenWeights weights = nvk::SharpenWeightsFor(level);
        pool->Run(count, [&](int i) {
            const int64_t first = qzm::BandFirst(wh, count, i);
            const int64_t end = qzm::BandFirst(wh, count, i + 1);
            if (!ready) {
                for (int64_t y = first; plan != nullptr && y < end; ++y) {
                    nvk::SaturateRow(plan, data + static_cast<size_t>(y) * stride,
                                     static_cast<size_t>(ww), 2, 0);
                }
                return;
            }
            const uint8_t* above = edges.data() + (2 * i) * rowBytes;
            const uint8_t* below = edges.data() + (2 * (i + 1) + 1) * rowBytes;
            nvk::RowSink sink{nullptr, nullptr};
            if (plan != nullptr) {
                sink = {&SaturateSink::Done, &saturation};
            }
            nvk::SharpenRows(data, stride, ww, wh, weights, static_cast<int32_t>(first),
                             static_cast<int32_t>(end), above, below,
                             scratch[static_cast<size_t>(i)]->Get(), sink);
        });
    } else if (plan != nullptr) {
        pool->RunBands(wh, kMinBandRows, [&](int64_t first, int64_t end) {
            for (int64_t y = first; y < end; ++y) {
                nvk::SaturateRow(plan, data + static_cast<size_t>(y) * stride,
                                 static_cast<size_t>(ww), 2, 0);
            }
        });
    }

    // 12. The design separates and merges the page once more, through
    // identity palettes: the same bytes in a new block, so the working
    // bitmap itself becomes the result.
    *result = working;
    return result;
}

void PhotoImageBuffer::SetImageData(int32_t slot, const _tagBITMAPHANDLE* bitmap) {
    if (slot < 0 || slot > 2) {
        return;
    }
    _tagBITMAPHANDLE* yellow = &m_planes[3 * slot];
    _tagBITMAPHANDLE* magenta = &m_planes[3 * slot + 1];
    _tagBITMAPHANDLE* cyan = &m_planes[3 * slot + 2];
    for (_tagBITMAPHANDLE* p : {yellow, magenta, cyan}) {
        IL_FreeBitmap(p);
        *p = _tagBITMAPHANDLE{};
    }
    if (bitmap == nullptr) {
        return;
    }
    _tagBITMAPHANDLE* out[3] = {cyan, magenta, yellow};
    if (IL_ColorSeparateBitmap(bitmap, out, kRecordSize, 0) != kILSuccess) {
        for (_tagBITMAPHANDLE* p : {yellow, magenta, cyan}) {
            *p = _tagBITMAPHANDLE{};
        }
    }
}

int32_t PhotoImageBuffer::Send(DeviceEntry* entry, const DeviceMediaBufferInfo& sheet) {
    const int64_t width = sheet.headWidth;
    const int64_t height = sheet.outHeight;
    const int64_t rowBytes = (width + 3) / 4 * 4;
    const int64_t pixelBytes = rowBytes * height;
    // The length field holds 8 digits; a sheet beyond it cannot be framed.
    if (entry == nullptr || width <= 0 || height <= 0 ||
        pixelBytes > DeviceCmd::kMaxPayloadLength - int64_t{kPlaneBmpHeaderSize}) {
        return 3;
    }
    const int64_t payloadLength = kPlaneBmpHeaderSize + pixelBytes;
    const int64_t packetLength = DeviceCmd::kHeaderLength + payloadLength;
    // A sheet-sized block on huge pages (GlobalAlloc). Kept from sheet to
    // sheet, or mapped on its own, it saved a few page faults but raised the
    // peak by its size.
    struct Release {
        void operator()(uint8_t* p) const { GlobalFree(p); }
    };
    const std::unique_ptr<uint8_t, Release> block(
        static_cast<uint8_t*>(GlobalAlloc(0, static_cast<size_t>(packetLength))));
    if (!block) {
        return 3;
    }
    uint8_t* const packet = block.get();
    // The header; the sub-command is filled in per plane.
    char lengthField[16];
    std::snprintf(lengthField, sizeof lengthField, "%08d", static_cast<int>(payloadLength));
    std::memset(packet, ' ', DeviceCmd::kHeaderLength);
    packet[0] = 0x1B;
    packet[1] = 'P';
    std::memcpy(packet + 2, "IMAGE", 5);
    std::memcpy(packet + 24, lengthField, 8);
    uint8_t* payload = packet + DeviceCmd::kHeaderLength;
    _MakePlaneBmpHeader(payload, static_cast<int32_t>(width), static_cast<int32_t>(height),
                        sheet.hDpi, sheet.vDpi);
    uint8_t* area = payload + kPlaneBmpHeaderSize;
    std::memset(area, 255, static_cast<size_t>(pixelBytes));

    const int32_t panels = std::clamp(sheet.outPanelCount, 0, 3);
    for (int plane = 0; plane < 3; ++plane) {
        char* sub = reinterpret_cast<char*>(packet) + 8;
        std::memset(sub, ' ', DeviceCmd::kMaxSubCommandLength);
        std::memcpy(sub, kPlaneNames[plane], std::strlen(kPlaneNames[plane]));
        for (int32_t i = 0; i < panels; ++i) {
            const _tagBITMAPHANDLE& record = m_planes[3 * i + plane];
            const int64_t rows = std::min<int64_t>(sheet.outPanelHeight, record.height);
            if (rows <= 0 || record.data == nullptr) {
                continue;
            }
            const int64_t cols = std::min<int64_t>(width, record.width);
            const int64_t r0 = (int64_t{sheet.outPanelGap} + m_mediaInfo.outHeight) * i +
                               (sheet.outPanelHeight - rows) / 2;
            const int64_t c0 = (width - cols) / 2;
            if (cols <= 0 || c0 < 0) {
                continue;
            }
            for (int64_t r = 0; r < rows; ++r) {
                const int64_t row = r0 + r;
                if (row < 0 || row >= height) {
                    continue;
                }
                std::memcpy(area + row * rowBytes + c0,
                            record.data + r * int64_t{record.bytesPerLine},
                            static_cast<size_t>(cols));
            }
        }
        if (entry->SetCommand(packet, static_cast<int32_t>(packetLength)) == 0) {
            return 3;
        }
    }
    return 0;
}
