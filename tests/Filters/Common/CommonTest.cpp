#include "Common.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <string>

#include "../../Support/CupsOptions.h"
#include "../../Support/TempRoot.h"

using qzm::test::CupsOptions;
using qzm::test::TempRoot;

namespace {

// Writes a PPD (gzip-compressed when asked) into the temporary root.
std::string WritePpd(const TempRoot& root, const std::string& text, bool gzip = false) {
    const std::string path = root.Path() + (gzip ? "/test.ppd.gz" : "/test.ppd");
    cups_file_t* file = cupsFileOpen(path.c_str(), gzip ? "w9" : "w");
    cupsFileWrite(file, text.data(), text.size());
    cupsFileClose(file);
    return path;
}

// RAII holder for the filter's PPD handle.
struct Ppd {
    explicit Ppd(const std::string& path) : handle(wrappedPpdOpenFile(path.c_str())) {}
    ~Ppd() { wrappedPpdClose(handle); }
    ppdfile_s* handle;
};

const char* kPpdText =
    "*PPD-Adobe: \"4.3\"\n"
    "*DefaultPageSize: 153x102mm\n"
    "*DefaultResolution: 300x600dpi\n"
    "*DefaultOvpBorder:Enable\n"
    "*DefaultOvpGamma: 20 and more words\n"
    "*DefaultOvpEmpty: \n"
    "*DefaultOvpICM:   None\r\n"
    "*DefaultOvpGamma: 30\n";

TEST(PpdReaderTest, AnswersDefaultChoicesAsWritten) {
    TempRoot root;
    for (bool gzip : {false, true}) {
        SCOPED_TRACE(gzip ? "gzip" : "plain");
        Ppd ppd(WritePpd(root, kPpdText, gzip));
        ASSERT_NE(ppd.handle, nullptr);
        EXPECT_STREQ(wrappedPpdFindDefChoice(ppd.handle, "Resolution"), "300x600dpi");
        // The first word after the prefix only; the first matching line wins.
        EXPECT_STREQ(wrappedPpdFindDefChoice(ppd.handle, "OvpGamma"), "20");
        // Extra blanks before the word are skipped; a carriage return ends it.
        EXPECT_STREQ(wrappedPpdFindDefChoice(ppd.handle, "OvpICM"), "None");
        // Nothing after the prefix: an empty answer, which still is a value.
        EXPECT_STREQ(wrappedPpdFindDefChoice(ppd.handle, "OvpEmpty"), "");
        // Without the space after the colon the line is not recognised.
        EXPECT_EQ(wrappedPpdFindDefChoice(ppd.handle, "OvpBorder"), nullptr);
        EXPECT_EQ(wrappedPpdFindDefChoice(ppd.handle, "Page"), nullptr);
        EXPECT_EQ(wrappedPpdFindDefChoice(ppd.handle, "Missing"), nullptr);
        EXPECT_EQ(wrappedPpdFindDefChoice(ppd.handle, nullptr), nullptr);
    }
}

TEST(PpdReaderTest, SecondLookupReplacesTheFirstAnswer) {
    TempRoot root;
    Ppd ppd(WritePpd(root, kPpdText));
    const char* first = wrappedPpdFindDefChoice(ppd.handle, "PageSize");
    ASSERT_STREQ(first, "153x102mm");
    const char* second = wrappedPpdFindDefChoice(ppd.handle, "Resolution");
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "300x600dpi");
}

TEST(PpdReaderTest, MissingFileGivesAHandleWithoutAnswers) {
    EXPECT_EQ(wrappedPpdOpenFile(nullptr), nullptr);
    Ppd ppd("/nonexistent/folder/x.ppd");
    ASSERT_NE(ppd.handle, nullptr);
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd.handle, "PageSize"), nullptr);
    EXPECT_EQ(wrappedPpdFindDefChoice(nullptr, "PageSize"), nullptr);
    wrappedPpdClose(nullptr);
}

TEST(PpdReaderTest, LongLinesAndLongNamesStayInBounds) {
    TempRoot root;
    // A 300-character word is cut at the piece boundary (255 characters of
    // line), and the rest of that line is never taken for a line of its own.
    const std::string longWord(300, 'x');
    const std::string text = "*DefaultLong: " + longWord + "\n" + std::string(255, 'y') +
                             "*DefaultHidden: yes\n*DefaultAfter: ok\n";
    Ppd ppd(WritePpd(root, text));
    const char* answer = wrappedPpdFindDefChoice(ppd.handle, "Long");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(std::string(answer), std::string(255 - 14, 'x'));
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd.handle, "Hidden"), nullptr);
    EXPECT_STREQ(wrappedPpdFindDefChoice(ppd.handle, "After"), "ok");
    // An option name longer than any line is simply not found.
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd.handle, std::string(400, 'L').c_str()), nullptr);
}

TEST(GetCupsValueTest, JobOptionThenMediaThenPpdDefault) {
    TempRoot root;
    Ppd ppd(WritePpd(root, kPpdText));
    {
        CupsOptions job{{"media", "127x127mm"}};
        EXPECT_STREQ(_GetCupsValue("PageSize", job.Count(), job.Options(), ppd.handle),
                     "127x127mm");
        // "media" stands in for "PageSize" only.
        EXPECT_STREQ(_GetCupsValue("Resolution", job.Count(), job.Options(), ppd.handle),
                     "300x600dpi");
    }
    {
        CupsOptions job{{"media", "127x127mm"}, {"PageSize", "89x127mm"}};
        EXPECT_STREQ(_GetCupsValue("PageSize", job.Count(), job.Options(), ppd.handle),
                     "89x127mm");
    }
    EXPECT_STREQ(_GetCupsValue("PageSize", 0, nullptr, ppd.handle), "153x102mm");
    EXPECT_EQ(_GetCupsValue("OvpColorAdjustment", 0, nullptr, ppd.handle), nullptr);
    EXPECT_EQ(_GetCupsValue("PageSize", 0, nullptr, nullptr), nullptr);
}

TEST(OptionToIntTest, ReadsLikeAtoiButSaturates) {
    EXPECT_EQ(_OptionToInt("  -20xyz"), -20);
    EXPECT_EQ(_OptionToInt("+7"), 7);
    EXPECT_EQ(_OptionToInt("abc"), 0);
    EXPECT_EQ(_OptionToInt(""), 0);
    EXPECT_EQ(_OptionToInt(nullptr), 0);
    EXPECT_EQ(_OptionToInt("2147483647"), INT32_MAX);
    EXPECT_EQ(_OptionToInt("2147483648"), INT32_MAX);
    EXPECT_EQ(_OptionToInt("99999999999999999999999999"), INT32_MAX);
    EXPECT_EQ(_OptionToInt("-99999999999999999999999999"), INT32_MIN);
}

TEST(FirmwareTest, AlwaysOnePointFiftyThree) {
    double version = 0.0;
    EXPECT_EQ(_GetFirmwVersion(nullptr, &version), 0);
    EXPECT_EQ(version, 1.53);
    EXPECT_EQ(_GetFirmwVersion(nullptr, nullptr), 3);
}

// Print-status files live in the cache folder under a temporary root.
class PrintStatusTest : public testing::Test {
protected:
    void SetUp() override {
        folder_ = root_ / "/Library/Caches/Orvane/QZ-M480";
        std::filesystem::create_directories(folder_);
    }
    void Write(const std::string& job, const std::string& text) {
        std::ofstream(folder_ + "/Print_" + job + ".log") << text;
    }
    std::string Read(const std::string& job, int size = 128) {
        char out[512];
        std::memset(out, '#', sizeof out);
        out[size - 1] = '\0';
        EXPECT_EQ(_GetValuePrInfoFile("MEDIA_SIZE=", job.c_str(), out, size), 0);
        return out;
    }
    TempRoot root_;
    std::string folder_;
};

TEST_F(PrintStatusTest, ReadsTheValueOfTheKey) {
    Write("12", "STATUS=\"0\"\nMEDIA_SIZE=\"00210\"\nOTHER=\"1\"\n");
    EXPECT_EQ(Read("12"), "00210");
    Write("13", "MEDIA_SIZE=\"\"\n");
    EXPECT_EQ(Read("13"), "");
    // The key is found in the middle of a line too; every character of the
    // key is taken out of the rest of the line, as the printer's tools expect.
    Write("14", "x MEDIA_SIZE=\"6x4 DS\"\n");
    EXPECT_EQ(Read("14"), "6x4 ");
}

TEST_F(PrintStatusTest, LeavesTheBufferAloneWhenThereIsNoValue) {
    const std::string untouched(127, '#');
    EXPECT_EQ(Read("missing"), untouched);
    Write("15", "STATUS=\"0\"\n");
    EXPECT_EQ(Read("15"), untouched);
    // A value of 128 characters does not fit a 128-byte buffer; 127 does.
    Write("16", "MEDIA_SIZE=\"" + std::string(128, '1') + "\"\n");
    EXPECT_EQ(Read("16"), untouched);
    Write("17", "MEDIA_SIZE=\"" + std::string(127, '1') + "\"\n");
    EXPECT_EQ(Read("17"), std::string(127, '1'));
}

TEST_F(PrintStatusTest, RefusesAFifoOrALinkInTheCacheFolder) {
    // A FIFO must not block the filter; a link is not followed.
    const std::string fifo = folder_ + "/Print_20.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    EXPECT_EQ(Read("20"), std::string(127, '#'));
    Write("21", "MEDIA_SIZE=\"1\"\n");
    ASSERT_EQ(::symlink((folder_ + "/Print_21.log").c_str(), (folder_ + "/Print_22.log").c_str()),
              0);
    EXPECT_EQ(Read("22"), std::string(127, '#'));
}

TEST(PrintStatusPathTest, DesignedPathIsCutAt127Characters) {
    char path[128];
    _MakePrintStatusPath("42", path);
    EXPECT_STREQ(path, "/Library/Caches/Orvane/QZ-M480/Print_42.log");
    const std::string job(200, '9');
    _MakePrintStatusPath(job.c_str(), path);
    EXPECT_EQ(std::strlen(path), 127u);
}

TEST(PrintStatusPathTest, LongRootIsAddedOutsideTheLimit) {
    TempRoot root;
    // A root far longer than 128 bytes still reaches the file.
    std::string deep = root.Path() + "/" + std::string(150, 'r');
    ::setenv("QZM480_ROOT", deep.c_str(), 1);
    std::filesystem::create_directories(deep + "/Library/Caches/Orvane/QZ-M480");
    std::ofstream(deep + "/Library/Caches/Orvane/QZ-M480/Print_7.log") << "MEDIA_SIZE=\"9\"\n";
    char out[128] = {};
    _GetValuePrInfoFile("MEDIA_SIZE=", "7", out, sizeof out);
    EXPECT_STREQ(out, "9");
}

}  // namespace
