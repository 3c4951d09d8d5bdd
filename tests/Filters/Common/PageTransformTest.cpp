// The page transform (one per profile file, its pixels computed by the
// filter's LittleCMS plug-in) against LittleCMS's own transform, and the
// cache that keeps it from page to page.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ColorTransform.h"

namespace {

const std::string kM480 = QZM480_PROFILE_DIR "/M480_0100.icc";
const std::string kOV480 = QZM480_PROFILE_DIR "/ov-480-mac-251126-5.icc";

class EveryColour : public testing::TestWithParam<std::string> {};

// All 16.7 million 8-bit colours, and the same in place on rows with
// padding, as the image side converts its pages.
TEST_P(EveryColour, GivesLittleCmsBytes) {
    ColorTransformHolder reference(get_colord_transform_func(GetParam().c_str()));
    std::unique_ptr<PageTransform> page = PageTransform::Make(GetParam().c_str());
    ASSERT_TRUE(reference);
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->Fast()) << "the plug-in declined: LittleCMS computes the pixels";

    std::vector<uint8_t> cube(3u << 24);
    for (uint32_t i = 0; i < (1u << 24); ++i) {
        cube[3 * i] = uint8_t(i >> 16), cube[3 * i + 1] = uint8_t(i >> 8), cube[3 * i + 2] = uint8_t(i);
    }
    std::vector<uint8_t> want(cube.size());
    std::vector<uint8_t> got(cube.size());
    cmsDoTransform(reference.Get(), cube.data(), want.data(), 1u << 24);
    cmsDoTransform(page->Get(), cube.data(), got.data(), 1u << 24);
    ASSERT_TRUE(want == got);

    // 4096 rows of 4096 pixels, each row padded to 12292 bytes.
    constexpr int kWidth = 4096, kStride = 3 * kWidth + 4;
    std::vector<uint8_t> rows(size_t(kStride) * 4096, 0xAB);
    for (int y = 0; y < 4096; ++y) {
        std::copy_n(cube.begin() + size_t(y) * 3 * kWidth, 3 * kWidth, rows.begin() + size_t(y) * kStride);
    }
    std::vector<uint8_t> mapped = rows;
    TransformRows(page->Get(), rows.data(), kWidth, 0, 2048, kStride);
    TransformRows(page->Get(), rows.data(), kWidth, 2048, 4096, kStride);
    // With byte tables after the transform, in the same pass.
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

INSTANTIATE_TEST_SUITE_P(PackageProfiles, EveryColour, testing::Values(kM480, kOV480));

TEST(PageTransform, NoneWhereLittleCmsMakesNone) {
    EXPECT_EQ(PageTransform::Make(nullptr), nullptr);
    EXPECT_EQ(PageTransform::Make(""), nullptr);
    EXPECT_EQ(PageTransform::Make("/nonexistent/profile.icc"), nullptr);
}

// One transform per profile file for every page; a new one only for another
// file or a file that changed.
TEST(ColorTransformCache, MakesOneTransformPerProfileFile) {
    const std::filesystem::path dir = testing::TempDir() + "cache-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::string copy = (dir / "copy.icc").string();
    std::filesystem::copy_file(kM480, copy, std::filesystem::copy_options::overwrite_existing);

    struct Step {
        const char* what;
        bool prepare;
        std::string path;
        int made;  // transforms made so far
    };
    const Step steps[] = {
        {"prepared ahead", true, copy, 1},  {"first page", false, copy, 1},
        {"second page", false, copy, 1},    {"prepared again", true, copy, 1},
        {"other profile", false, kOV480, 2}, {"back again", false, copy, 3},
        {"missing file", false, (dir / "none.icc").string(), 4},
    };
    ColorTransformCache cache;
    cmsHTRANSFORM first = nullptr;
    for (const Step& s : steps) {
        cmsHTRANSFORM t = s.prepare ? nullptr : cache.Get(s.path);
        if (s.prepare) {
            cache.Prepare(s.path);
        }
        EXPECT_EQ(cache.Made(), s.made) << s.what;
        EXPECT_EQ(t == nullptr, s.prepare || s.path.find("none") != std::string::npos) << s.what;
        if (std::string(s.what) == "first page") {
            first = t;
        } else if (std::string(s.what) == "second page") {
            EXPECT_EQ(t, first);
        }
    }
    // A profile file replaced since: made anew.
    std::filesystem::remove(copy);
    std::filesystem::copy_file(kOV480, copy);
    EXPECT_NE(cache.Get(copy), nullptr);
    EXPECT_EQ(cache.Made(), 5);
    std::filesystem::remove_all(dir);
}

}  // namespace
