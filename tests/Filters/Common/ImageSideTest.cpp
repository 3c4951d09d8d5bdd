// The filter's image side: the worker pool, ColorProcess in bands of rows on
// any number of threads against digests of its known-good bytes on edge
// shapes, and the colour transform's plug-in against LittleCMS.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ColorTransform.h"
#include "Digest.h"
#include "PhotoImageBuffer.h"
#include "PhotoPrinterDeviceQZM480.h"
#include "WorkerPool.h"

namespace {

const std::string kM480 = QZM480_PROFILE_DIR "/M480_0100.icc";
const std::string kOV480 = QZM480_PROFILE_DIR "/ov-480-mac-251126-5.icc";

// Every task once, also from steps nested in a task and steps started by
// several threads at once (the bands of pages: ColorProcess below).
TEST(WorkerPool, NestedAndConcurrentStepsFinish) {
    qzm::WorkerPool pool(3);
    std::vector<std::atomic<int>> seen(100);
    pool.Run(100, [&](int i) { seen[size_t(i)]++; });
    for (const auto& s : seen)
        ASSERT_EQ(s.load(), 1);
    std::atomic<int> total{0};
    pool.Run(4, [&](int) { pool.Run(5, [&](int) { total++; }); });
    EXPECT_EQ(total.load(), 20);
    std::vector<std::thread> callers;
    for (int c = 0; c < 3; ++c)
        callers.emplace_back([&] {
            for (int step = 0; step < 20; ++step)
                pool.Run(6, [&](int) { total++; });
        });
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(total.load(), 20 + 3 * 20 * 6);
}

// ---- ColorProcess ------------------------------------------------------

struct Settings {
    const char* name;
    int mediaId;
    int resolution;  // 300 or 600
    int mode;        // resolution mode 0, 1 or 2
    bool rotate, border, icm;
    const char* profile;  // in the profile folder
    int32_t sharpness;
    bool adjust;
    const char* digest;  // of the results of every shape
};

// A missing profile is skipped: the same bytes as no colour matching.
const Settings kSettings[] = {
    {"Plain", 3, 300, 0, false, false, false, "", 0, false, "4ff2e322a5eda94d3972dc707629107f3eadd206b747fae427a76556dafddb55"},
    {"BorderIccSharpChroma", 4, 600, 1, false, true, true, "M480_0100.icc", 650, true, "6d22d4359651e53416ea82cea32777b7c923fff44e4e09787dfd1e2699b78122"},
    {"TurnedHalfWidthDoubleHeight", 1, 600, 1, true, true, true, "ov-480-mac-251126-5.icc", 1000,
     true, "cd39037e4155f1824a631c402c7db8d2c749f5ae124e65050122372b8420e4e9"},
    {"HalfWidthSoftened", 3, 600, 2, false, true, false, "", -500, true, "9ea7a9c8b2ace32226f4b9d51780e80fc5bb3dff125080523f14fa039376589e"},
    {"MissingProfile", 3, 600, 2, false, true, true, "missing.icc", -500, true, "9ea7a9c8b2ace32226f4b9d51780e80fc5bb3dff125080523f14fa039376589e"},
    {"SharpenOnly", 3, 300, 0, false, false, false, "", 850, false, "abfcd90396b39216597abb915908c784bc486c240db1fd1990f26562d55e44bf"},
    {"TurnedAdjustOnly", 1, 300, 0, true, false, false, "", 0, true, "b33118c4d984eda17b522b932445fef27ce82f69f7e93c5216631a616776884d"},
};

// One-row and one-column pages, pages shorter than the bands, odd sizes, and
// one tall enough for the border's bands of 1000 rows.
const int kShapes[][2] = {{1, 1}, {7, 1}, {1, 9}, {5, 2}, {33, 3}, {40, 97}, {9, 2001}};

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
    for (int i = 0; i < 3; ++i)
        b.m_gamma[i] = gamma[i], b.m_brightness[i] = brightness[i], b.m_contrast[i] = contrast[i];
    b.m_chroma = 300;
}

void PrintTo(const Settings& s, std::ostream* os) {
    *os << s.name;
}

class ColorProcess : public testing::TestWithParam<Settings> {};

// One buffer for every page, as one job, for each count of threads and
// bands: the known-good bytes.
TEST_P(ColorProcess, AnyThreadsAndBandsGiveTheKnownGoodBytes) {
    const Settings& s = GetParam();
    const int configs[][2] = {{1, 0}, {2, 0}, {2, 1}, {3, 1}, {5, 1}};  // threads, band rows
    for (auto [threads, bandRows] : configs) {
        PhotoImageBuffer b;
        Configure(b, s);
        b.SetWorkerThreads(threads, bandRows);
        std::mt19937 rng(17);
        std::vector<uint8_t> got;
        for (auto [w, h] : kShapes) {
            const size_t stride = (size_t(w) * 24 + 31) / 32 * 4;
            auto* pixels = static_cast<uint8_t*>(std::calloc(stride, size_t(h)));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < 3 * w; ++x)
                    pixels[y * stride + x] = uint8_t((x * 7 + y * 3) % 256 ^ (rng() & 15));
            _tagBITMAPHANDLE* r = b.ColorProcess(pixels, w, h, 0);
            ASSERT_NE(r, nullptr);
            EXPECT_EQ(r->colorOrder, 1u);
            const int32_t size[2] = {r->width, r->height};
            got.insert(got.end(), reinterpret_cast<const uint8_t*>(size),
                       reinterpret_cast<const uint8_t*>(size + 2));
            for (int32_t y = 0; y < r->height; ++y) {
                const uint8_t* row = r->data + size_t(y) * r->bytesPerLine;
                got.insert(got.end(), row, row + 3 * size_t(r->width));
            }
            IL_FreeBitmap(r);
            std::free(r);
        }
        EXPECT_EQ(qzm::test::Sha256(got), s.digest) << threads << " threads, bands of " << bandRows;
    }
}

INSTANTIATE_TEST_SUITE_P(ImageBands, ColorProcess, testing::ValuesIn(kSettings),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Colour transforms ----------------------------------------------------

class PackageProfile : public testing::TestWithParam<std::string> {};

// All 16.7 million colours, and the same in place on rows with padding with
// byte tables after the transform, as the image side converts its pages.
TEST_P(PackageProfile, PluginGivesLittleCmsBytesForEveryColour) {
    ColorTransformHolder reference(get_colord_transform_func(GetParam().c_str()));
    std::unique_ptr<PageTransform> page = PageTransform::Make(GetParam().c_str());
    ASSERT_TRUE(reference);
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->Fast()) << "the plug-in declined: LittleCMS computes the pixels";

    constexpr int kWidth = 4096, kStride = 3 * kWidth + 4;
    std::vector<uint8_t> cube(3u << 24), want(3u << 24);
    for (uint32_t i = 0; i < (1u << 24); ++i)
        cube[3 * i] = uint8_t(i >> 16), cube[3 * i + 1] = uint8_t(i >> 8), cube[3 * i + 2] = uint8_t(i);
    cmsDoTransform(reference.Get(), cube.data(), want.data(), 1u << 24);
    std::vector<uint8_t> rows(size_t(kStride) * 4096, 0xAB);
    for (int y = 0; y < 4096; ++y)
        std::copy_n(cube.begin() + size_t(y) * 3 * kWidth, 3 * kWidth, rows.begin() + size_t(y) * kStride);
    std::vector<uint8_t> mapped = rows;
    TransformRows(page->Get(), rows.data(), kWidth, 0, 2048, kStride);
    TransformRows(page->Get(), rows.data(), kWidth, 2048, 4096, kStride);
    uint8_t map[3][256];
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            map[c][i] = uint8_t(i * (c + 3) + 11 * c);
    page->Rows(mapped.data(), kWidth, 0, 4096, kStride, map);
    for (int y = 0; y < 4096; ++y) {
        const uint8_t* row = rows.data() + size_t(y) * kStride;
        const uint8_t* mappedRow = mapped.data() + size_t(y) * kStride;
        ASSERT_TRUE(std::equal(row, row + 3 * kWidth, want.begin() + size_t(y) * 3 * kWidth)) << y;
        ASSERT_EQ(row[3 * kWidth] | row[3 * kWidth + 1] | row[3 * kWidth + 2] | row[3 * kWidth + 3], 0);
        for (int x = 0; x < 3 * kWidth; ++x)
            ASSERT_EQ(mappedRow[x], map[x % 3][row[x]]) << y << "," << x;
    }
}

INSTANTIATE_TEST_SUITE_P(ColorTransform, PackageProfile, testing::Values(kM480, kOV480),
                         [](const auto& info) { return info.index == 0 ? "M480" : "OV480"; });

// No transform, and no page transform, for what is not an RGB profile.
TEST(ColorTransform, NoneForWhatIsNotAProfile) {
    const std::string dir = testing::TempDir(), text = dir + "/text.icc";
    std::FILE* f = std::fopen(text.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("this is not a colour profile, only text of some length .......", f);
    std::fclose(f);
    for (const char* path : {static_cast<const char*>(nullptr), "", "/nonexistent/profile.icc",
                             dir.c_str(), text.c_str()}) {
        EXPECT_EQ(get_colord_transform_func(path), nullptr) << (path ? path : "null");
        EXPECT_EQ(PageTransform::Make(path), nullptr) << (path ? path : "null");
    }
    std::remove(text.c_str());
}

// One transform per profile file for every page; a new one only for another
// file or a file that changed.
TEST(ColorTransformCache, MakesOneTransformPerProfileFile) {
    const std::filesystem::path dir = testing::TempDir() + "cache-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::string copy = (dir / "copy.icc").string();
    std::filesystem::copy_file(kM480, copy, std::filesystem::copy_options::overwrite_existing);
    ColorTransformCache cache;
    cache.Prepare(copy);
    EXPECT_EQ(cache.Made(), 1);
    cmsHTRANSFORM first = cache.Get(copy);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(cache.Get(copy), first);
    cache.Prepare(copy);
    EXPECT_EQ(cache.Made(), 1);
    EXPECT_NE(cache.Get(kOV480), nullptr);
    EXPECT_NE(cache.Get(copy), nullptr);
    EXPECT_EQ(cache.Made(), 3);
    EXPECT_EQ(cache.Get((dir / "none.icc").string()), nullptr);
    EXPECT_EQ(cache.Made(), 4);
    std::filesystem::remove(copy);  // replaced since: made anew
    std::filesystem::copy_file(kOV480, copy);
    EXPECT_NE(cache.Get(copy), nullptr);
    EXPECT_EQ(cache.Made(), 5);
    std::filesystem::remove_all(dir);
}

}  // namespace
