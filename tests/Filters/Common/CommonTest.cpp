// Where the filter's settings come from: its own PPD reader (plain and
// gzip) and the job's print-status file in the world-writable cache folder,
// which is untrusted. (Job options over PPD defaults: the golden streams.)
#include "Common.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "../../Support/TempRoot.h"

using qzm::test::TempRoot;

namespace {

// A PPD (gzip-compressed when asked) under a temporary root, opened with the
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
    const char* Find(const std::string& name) { return wrappedPpdFindDefChoice(handle, name.c_str()); }
    ppdfile_s* handle;
};

const char* kPpdText =
    "*DefaultPageSize: 153x102mm\n*DefaultResolution: 300x600dpi\n*DefaultOvpBorder:Enable\n"
    "*DefaultOvpGamma: 20 and more words\n*DefaultOvpEmpty: \n*DefaultOvpICM:   None\r\n"
    "*DefaultOvpGamma: 30\n";

TEST(PpdReaderTest, AnswersDefaultChoicesAndStaysInBounds) {
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
    // A long word is cut with its 255-character piece of line; the rest of a
    // long line is never taken for a line of its own.
    Ppd ppd(root, "*DefaultLong: " + std::string(300, 'x') + "\n" + std::string(255, 'y') +
                      "*DefaultHidden: yes\n*DefaultAfter: ok\n");
    EXPECT_EQ(std::string(ppd.Find("Long")), std::string(255 - 14, 'x'));
    EXPECT_EQ(ppd.Find("Hidden"), nullptr);
    EXPECT_STREQ(ppd.Find("After"), "ok");
    EXPECT_EQ(ppd.Find(std::string(400, 'L')), nullptr);

    EXPECT_EQ(wrappedPpdOpenFile(nullptr), nullptr);
    EXPECT_EQ(wrappedPpdFindDefChoice(nullptr, "PageSize"), nullptr);
    ppdfile_s* missing = wrappedPpdOpenFile("/nonexistent/x.ppd");
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(wrappedPpdFindDefChoice(missing, "PageSize"), nullptr);
    wrappedPpdClose(missing);
}

// The value of MEDIA_SIZE= read into a 128-byte buffer of '#': left alone
// without a value, room for it and its NUL, or a regular file. The 128-byte
// limit applies to the designed path only: a root far longer still reaches
// the file.
TEST(PrintStatusTest, ReadsTheKeysValueOnlyFromARegularFileWithRoom) {
    TempRoot root;
    const std::string deep = root.Path() + "/" + std::string(150, 'r');
    ::setenv("QZM480_ROOT", deep.c_str(), 1);
    const std::string folder = deep + "/Library/Caches/Orvane/QZ-M480", none(127, '#');
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::mkfifo((folder + "/Print_20.log").c_str(), 0666), 0);  // must not block
    std::ofstream(folder + "/Print_21.log") << "MEDIA_SIZE=\"1\"\n";
    ASSERT_EQ(::symlink((folder + "/Print_21.log").c_str(), (folder + "/Print_22.log").c_str()), 0);
    // The FIFO has a writer and holds the key: still not read.
    const int writer = ::open((folder + "/Print_20.log").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_EQ(::write(writer, "MEDIA_SIZE=\"9\"\n", 15), 15);
    // With standard input closed, the file is opened as descriptor 0.
    const int input = ::dup(0);
    ::close(0);
    const struct {
        const char* job;
        std::string text, value;  // text written to the job's file unless empty
    } cases[] = {
        {"10", "STATUS=\"0\"\nMEDIA_SIZE=\"00210\"\nOTHER=\"1\"\n", "00210"},
        {"11", "MEDIA_SIZE=\"\"\n", ""},
        {"12", "x MEDIA_SIZE=\"6x4 DS\"\n", "6x4 "},
        {"13", "STATUS=\"0\"\n", none},
        {"14", "MEDIA_SIZE=\"" + std::string(127, '1') + "\"\n", std::string(127, '1')},
        {"15", "MEDIA_SIZE=\"" + std::string(128, '1') + "\"\n", none},
        {"missing", "", none}, {"20", "", none}, {"22", "", none},
    };
    for (const auto& c : cases) {
        if (!c.text.empty())
            std::ofstream(folder + "/Print_" + c.job + ".log") << c.text;
        char out[128];
        std::memset(out, '#', sizeof out);
        out[127] = '\0';
        EXPECT_EQ(_GetValuePrInfoFile("MEDIA_SIZE=", c.job, out, sizeof out), 0);
        EXPECT_EQ(out, c.value) << "job " << c.job;
    }
    ::dup2(input, 0);
    ::close(input);
    ::close(writer);
    // No key or an empty one reads nothing, a one-character key does; an empty
    // value fits in one byte.
    const struct {
        const char *key, *job;
        int size;
        std::string value;
    } more[] = {{nullptr, "10", 2, "#"},
                {"", "10", 2, "#"},
                {"=", "10", 2, "0"},
                {"MEDIA_SIZE=", "11", 1, ""}};
    for (const auto& c : more) {
        char out[2] = "#";
        EXPECT_EQ(_GetValuePrInfoFile(c.key, c.job, out, c.size), 0);
        EXPECT_EQ(out, c.value) << (c.key ? c.key : "null");
    }
    char path[128];
    _MakePrintStatusPath("42", path);
    EXPECT_STREQ(path, "/Library/Caches/Orvane/QZ-M480/Print_42.log");
    _MakePrintStatusPath(std::string(200, '9').c_str(), path);
    EXPECT_EQ(std::strlen(path), 127u);
}

// Option values as whole numbers: what atoi reads, saturated at the limits.
TEST(TextToIntTest, OptionValuesSaturateAtTheInt32Limits) {
    const std::pair<const char*, int32_t> cases[] = {
        {nullptr, 0}, {" -12px", -12}, {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}};
    for (auto [text, value] : cases)
        EXPECT_EQ(_OptionToInt(text), value) << (text ? text : "null");
}

}  // namespace
