#include "Common.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "../../Support/CupsOptions.h"
#include "../../Support/TempRoot.h"

using qzm::test::CupsOptions;
using qzm::test::TempRoot;

namespace {

// A PPD (gzip-compressed when asked) in a temporary folder, opened with the
// filter's reader.
struct Ppd {
    Ppd(const TempRoot& root, const std::string& text, bool gzip = false) {
        const std::string path = root.Path() + (gzip ? "/t.ppd.gz" : "/t.ppd");
        cups_file_t* file = cupsFileOpen(path.c_str(), gzip ? "w9" : "w");
        cupsFileWrite(file, text.data(), text.size());
        cupsFileClose(file);
        handle = wrappedPpdOpenFile(path.c_str());
    }
    ~Ppd() { wrappedPpdClose(handle); }
    const char* Find(const std::string& name) {
        return wrappedPpdFindDefChoice(handle, name.c_str());
    }
    ppdfile_s* handle;
};

const char* kPpdText =
    "*DefaultPageSize: 153x102mm\n"
    "*DefaultResolution: 300x600dpi\n"
    "*DefaultOvpBorder:Enable\n"
    "*DefaultOvpGamma: 20 and more words\n"
    "*DefaultOvpEmpty: \n"
    "*DefaultOvpICM:   None\r\n"
    "*DefaultOvpGamma: 30\n";

TEST(PpdReaderTest, AnswersDefaultChoicesOfPlainAndGzipPpds) {
    TempRoot root;
    for (bool gzip : {false, true}) {
        Ppd ppd(root, kPpdText, gzip);
        EXPECT_STREQ(ppd.Find("Resolution"), "300x600dpi");
        EXPECT_STREQ(ppd.Find("OvpGamma"), "20");  // first word of the first line
        EXPECT_STREQ(ppd.Find("OvpICM"), "None");
        EXPECT_STREQ(ppd.Find("OvpEmpty"), "");     // empty, but a value
        EXPECT_EQ(ppd.Find("OvpBorder"), nullptr);  // no space after the colon
        EXPECT_EQ(ppd.Find("Page"), nullptr);
        EXPECT_EQ(wrappedPpdFindDefChoice(ppd.handle, nullptr), nullptr);
    }
    // A second lookup replaces the text of the first answer.
    Ppd ppd(root, kPpdText);
    const char* first = ppd.Find("PageSize");
    EXPECT_EQ(first, ppd.Find("Resolution"));
    EXPECT_STREQ(first, "300x600dpi");
}

TEST(PpdReaderTest, MissingFileGivesAHandleWithoutAnswers) {
    EXPECT_EQ(wrappedPpdOpenFile(nullptr), nullptr);
    ppdfile_s* ppd = wrappedPpdOpenFile("/nonexistent/x.ppd");
    ASSERT_NE(ppd, nullptr);
    EXPECT_EQ(wrappedPpdFindDefChoice(ppd, "PageSize"), nullptr);
    wrappedPpdClose(ppd);
    wrappedPpdClose(nullptr);
}

TEST(PpdReaderTest, LongLinesAndNamesStayInBounds) {
    TempRoot root;
    // A long word is cut with its 255-character piece of line; the rest of a
    // long line is never taken for a line of its own.
    Ppd ppd(root, "*DefaultLong: " + std::string(300, 'x') + "\n" + std::string(255, 'y') +
                      "*DefaultHidden: yes\n*DefaultAfter: ok\n");
    EXPECT_EQ(std::string(ppd.Find("Long")), std::string(255 - 14, 'x'));
    EXPECT_EQ(ppd.Find("Hidden"), nullptr);
    EXPECT_STREQ(ppd.Find("After"), "ok");
    EXPECT_EQ(ppd.Find(std::string(400, 'L')), nullptr);
}

TEST(GetCupsValueTest, JobOptionThenMediaThenPpdDefault) {
    TempRoot root;
    Ppd ppd(root, kPpdText);
    CupsOptions media{{"media", "127x127mm"}};
    EXPECT_STREQ(_GetCupsValue("PageSize", media.Count(), media.Options(), ppd.handle),
                 "127x127mm");
    EXPECT_STREQ(_GetCupsValue("Resolution", media.Count(), media.Options(), ppd.handle),
                 "300x600dpi");
    CupsOptions both{{"media", "127x127mm"}, {"PageSize", "89x127mm"}};
    EXPECT_STREQ(_GetCupsValue("PageSize", both.Count(), both.Options(), ppd.handle), "89x127mm");
    EXPECT_STREQ(_GetCupsValue("PageSize", 0, nullptr, ppd.handle), "153x102mm");
    EXPECT_EQ(_GetCupsValue("OvpChroma", 0, nullptr, ppd.handle), nullptr);
    EXPECT_EQ(_GetCupsValue("PageSize", 0, nullptr, nullptr), nullptr);
}

// Print-status files in the cache folder under a temporary root.
class PrintStatusTest : public testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directories(Folder()); }
    std::string Folder() const { return root_ / "/Library/Caches/Orvane/QZ-M480"; }
    void Write(const std::string& job, const std::string& text) {
        std::ofstream(Folder() + "/Print_" + job + ".log") << text;
    }
    // The value read into a 128-byte buffer filled with '#'.
    std::string Read(const std::string& job) {
        char out[128];
        std::memset(out, '#', sizeof out);
        out[127] = '\0';
        EXPECT_EQ(_GetValuePrInfoFile("MEDIA_SIZE=", job.c_str(), out, sizeof out), 0);
        return out;
    }
    const std::string untouched_ = std::string(127, '#');
    TempRoot root_;
};

TEST_F(PrintStatusTest, ReadsTheValueOfTheKey) {
    Write("12", "STATUS=\"0\"\nMEDIA_SIZE=\"00210\"\nOTHER=\"1\"\n");
    EXPECT_EQ(Read("12"), "00210");
    Write("13", "MEDIA_SIZE=\"\"\n");
    EXPECT_EQ(Read("13"), "");
    // Found in the middle of a line; every character of the key leaves the rest.
    Write("14", "x MEDIA_SIZE=\"6x4 DS\"\n");
    EXPECT_EQ(Read("14"), "6x4 ");
    Write("17", "MEDIA_SIZE=\"" + std::string(127, '1') + "\"\n");
    EXPECT_EQ(Read("17"), std::string(127, '1'));
}

TEST_F(PrintStatusTest, LeavesTheBufferAloneWithoutAValue) {
    EXPECT_EQ(Read("missing"), untouched_);
    Write("15", "STATUS=\"0\"\n");
    EXPECT_EQ(Read("15"), untouched_);
    Write("16", "MEDIA_SIZE=\"" + std::string(128, '1') + "\"\n");  // no room
    EXPECT_EQ(Read("16"), untouched_);
    // A FIFO must not block the filter and a link is not followed.
    ASSERT_EQ(::mkfifo((Folder() + "/Print_20.log").c_str(), 0666), 0);
    EXPECT_EQ(Read("20"), untouched_);
    Write("21", "MEDIA_SIZE=\"1\"\n");
    ASSERT_EQ(::symlink((Folder() + "/Print_21.log").c_str(), (Folder() + "/Print_22.log").c_str()),
              0);
    EXPECT_EQ(Read("22"), untouched_);
}

TEST(PrintStatusPathTest, LimitAppliesToTheDesignedPathOnly) {
    char path[128];
    _MakePrintStatusPath("42", path);
    EXPECT_STREQ(path, "/Library/Caches/Orvane/QZ-M480/Print_42.log");
    _MakePrintStatusPath(std::string(200, '9').c_str(), path);
    EXPECT_EQ(std::strlen(path), 127u);

    // A root far longer than 128 bytes still reaches the file.
    TempRoot root;
    const std::string deep = root.Path() + "/" + std::string(150, 'r');
    ::setenv("QZM480_ROOT", deep.c_str(), 1);
    std::filesystem::create_directories(deep + "/Library/Caches/Orvane/QZ-M480");
    std::ofstream(deep + "/Library/Caches/Orvane/QZ-M480/Print_7.log") << "MEDIA_SIZE=\"9\"\n";
    char out[128] = {};
    _GetValuePrInfoFile("MEDIA_SIZE=", "7", out, sizeof out);
    EXPECT_STREQ(out, "9");
}

}  // namespace
