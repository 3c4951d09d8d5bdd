// Speed of the bitmap library's whole-page operations on a photo-like page of
// 1844 x 2436 pixels (a 6 x 8 inch page at 300 x 600 dpi after the resolution
// step). Each figure is reported as nanoseconds per source pixel ("ns/px").
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "NvkImgLib.h"

namespace {

constexpr int kWidth = 1844;
constexpr int kHeight = 2436;
constexpr uint32_t kRec = sizeof(_tagBITMAPHANDLE);

// Smooth gradients, a few sharp edges and sensor-like noise.
const std::vector<uint8_t>& PhotoPixels() {
    static const std::vector<uint8_t> pixels = [] {
        const int stride = (kWidth * 24 + 31) / 32 * 4;
        std::vector<uint8_t> p(size_t(stride) * kHeight);
        std::mt19937 rng(42);
        std::normal_distribution<double> noise(0.0, 2.5);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const double fx = double(x) / kWidth, fy = double(y) / kHeight;
                const bool inside = std::hypot(fx - 0.5, fy - 0.4) < 0.22;
                double v[3] = {180 * fx + 40 * std::sin(9 * fy), 60 + 150 * fy * fx,
                               inside ? 210 - 80 * fy : 90 + 60 * std::cos(5 * fx)};
                for (int c = 0; c < 3; ++c) {
                    p[size_t(y) * stride + 3 * x + c] =
                        uint8_t(std::clamp(v[c] + noise(rng), 0.0, 255.0));
                }
            }
        }
        return p;
    }();
    return pixels;
}

// A fresh, owned copy of the page.
_tagBITMAPHANDLE NewPage() {
    const auto& src = PhotoPixels();
    uint8_t* data = static_cast<uint8_t*>(GlobalAlloc(0, src.size()));
    std::memcpy(data, src.data(), src.size());
    _tagBITMAPHANDLE bm{};
    IL_CreateBitmap(&bm, kRec, 2, kWidth, kHeight, 24, 1, nullptr, 4, data, src.size());
    bm.handle = data;
    return bm;
}

void PerPixel(benchmark::State& state) {
    state.counters["ns/px"] =
        benchmark::Counter(double(state.iterations()) * kWidth * kHeight,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_SizeBitmap(benchmark::State& state) {
    _tagBITMAPHANDLE page = NewPage();
    for (auto _ : state) {
        _tagBITMAPHANDLE bm = page;
        bm.handle = nullptr;  // the page stays ours
        benchmark::DoNotOptimize(IL_SizeBitmap(&bm, 1660, 2193, 4));
        IL_FreeBitmap(&bm);
    }
    IL_FreeBitmap(&page);
    PerPixel(state);
}

void BM_SharpenBitmap(benchmark::State& state) {
    _tagBITMAPHANDLE page = NewPage();
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(page.data, PhotoPixels().data(), page.dataSize);
        state.ResumeTiming();
        benchmark::DoNotOptimize(IL_SharpenBitmap(&page, 650));
    }
    IL_FreeBitmap(&page);
    PerPixel(state);
}

void BM_ChangeBitmapSaturation(benchmark::State& state) {
    _tagBITMAPHANDLE page = NewPage();
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(page.data, PhotoPixels().data(), page.dataSize);
        state.ResumeTiming();
        benchmark::DoNotOptimize(IL_ChangeBitmapSaturation(&page, int32_t(state.range(0))));
    }
    IL_FreeBitmap(&page);
    PerPixel(state);
}

void BM_ColorSeparateBitmap(benchmark::State& state) {
    _tagBITMAPHANDLE page = NewPage();
    for (auto _ : state) {
        _tagBITMAPHANDLE planes[3]{};
        _tagBITMAPHANDLE* ptr[3] = {&planes[0], &planes[1], &planes[2]};
        benchmark::DoNotOptimize(IL_ColorSeparateBitmap(&page, ptr, kRec, 0));
        for (auto& p : planes) {
            IL_FreeBitmap(&p);
        }
    }
    IL_FreeBitmap(&page);
    PerPixel(state);
}

void BM_ColorMergeBitmap(benchmark::State& state) {
    _tagBITMAPHANDLE page = NewPage();
    _tagBITMAPHANDLE planes[3]{};
    _tagBITMAPHANDLE* ptr[3] = {&planes[0], &planes[1], &planes[2]};
    IL_ColorSeparateBitmap(&page, ptr, kRec, 0);
    for (auto _ : state) {
        _tagBITMAPHANDLE out{};
        benchmark::DoNotOptimize(IL_ColorMergeBitmap(&out, ptr, kRec, 0));
        IL_FreeBitmap(&out);
    }
    for (auto& p : planes) {
        IL_FreeBitmap(&p);
    }
    IL_FreeBitmap(&page);
    PerPixel(state);
}

// The table operations work on the 256-entry palette of one plane, whatever
// the page size; the per-pixel figure shows how little they cost per page.
template <int (*Op)(_tagBITMAPHANDLE*, int32_t)>
void BM_Table(benchmark::State& state) {
    _tagBITMAPHANDLE page = NewPage();
    _tagBITMAPHANDLE planes[3]{};
    _tagBITMAPHANDLE* ptr[3] = {&planes[0], &planes[1], &planes[2]};
    IL_ColorSeparateBitmap(&page, ptr, kRec, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Op(&planes[0], int32_t(state.range(0))));
    }
    for (auto& p : planes) {
        IL_FreeBitmap(&p);
    }
    IL_FreeBitmap(&page);
    PerPixel(state);
}

int Gamma(_tagBITMAPHANDLE* p, int32_t v) {
    return IL_GammaCorrectBitmap(p, uint32_t(v));
}

}  // namespace

BENCHMARK(BM_SizeBitmap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SharpenBitmap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChangeBitmapSaturation)->Arg(0)->Arg(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorSeparateBitmap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorMergeBitmap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Table<Gamma>)->Name("BM_GammaCorrectBitmap")->Arg(141)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Table<IL_ChangeBitmapIntensity>)
    ->Name("BM_ChangeBitmapIntensity")
    ->Arg(200)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Table<IL_ChangeBitmapContrast>)
    ->Name("BM_ChangeBitmapContrast")
    ->Arg(300)
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
