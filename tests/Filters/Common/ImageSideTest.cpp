// The filter's image side: the worker pool, and the colour transform's
// plug-in against LittleCMS. (The pages' bands on any number of threads are
// checked by the golden command streams.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "ColorTransform.h"
#include "WorkerPool.h"

namespace {

const std::string kM480 = QZM480_PROFILE_DIR "/M480_0100.icc";
const std::string kOV480 = QZM480_PROFILE_DIR "/ov-480-mac-251126-5.icc";

// Every task once, also from steps nested in a task and steps started by
// several threads at once; the tasks of a step run side by side.
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
    // The tasks of a step run side by side: each of two waits (a long while
    // at most) for the other to start.
    std::atomic<int> started{0}, met{0};
    pool.Run(2, [&](int) {
        ++started;
        for (int n = 0; n < 20000 && started.load() < 2; ++n)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        met += started.load() == 2;
    });
    EXPECT_EQ(met.load(), 2) << "a step's tasks ran one after the other";
}

// A pool starts its threads once, on its first step of two tasks or more; a
// pool of one runs nested steps on the caller's thread; blocks given back are
// handed out again; pages are cut into a few bands per thread.
TEST(WorkerPool, StartsThreadsOnceAndCutsBands) {
    EXPECT_EQ(qzm::WorkerPool(0).Threads(),
              std::min(qzm::WorkerPool::AvailableProcessors(), qzm::WorkerPool::kMaxThreads));
    const auto threads = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {});
    };
    const auto before = threads();
    qzm::WorkerPool pool(3);
    pool.Run(0, [](int) {});
    pool.Run(1, [](int) {});
    EXPECT_EQ(threads(), before);
    for (int step = 0; step < 2; ++step) {
        pool.Run(2, [](int) {});
        EXPECT_EQ(threads(), before + 2);
    }
    qzm::WorkerPool single(1);
    int nested = 0;
    single.Run(2, [&](int) { single.Run(3, [&](int) { ++nested; }); });
    EXPECT_EQ(nested, 6);

    qzm::ScratchPool& memory = pool.Memory();
    double* small = memory.Take(10);
    double* large = memory.Take(100);
    memory.Give(small);
    memory.Give(large);
    EXPECT_EQ(memory.Take(50), large);

    const int64_t bands[][4] = {{0, 1, 4, 0},     {-5, 1, 4, 0},   {100, 10, 1, 1},
                                {100, 10, 4, 10}, {100, 1, 4, 16}, {5, 10, 4, 1}};
    for (auto [rows, minRows, threadCount, count] : bands)
        EXPECT_EQ(qzm::BandCount(rows, minRows, int(threadCount)), count) << rows << " rows";
}

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
