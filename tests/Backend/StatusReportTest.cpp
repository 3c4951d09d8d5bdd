// Status codes as CUPS state reasons and the remaining prints as a marker
// level.
#include <gtest/gtest.h>

#include "BackendTestSupport.h"
#include "PrintStatusFile.h"
#include "StatusReport.h"

namespace {

TEST(StateReasons, FollowThePrintersStatusCodes) {
    const struct {
        int status;
        std::set<std::string> reasons;
    } rows[] = {
        {0, {}},
        {1, {}},
        {500, {}},
        {900, {}},
        {1000, {"cover-open"}},
        {1100, {"media-empty"}},
        {1200, {"marker-supply-empty"}},
        {1300, {"media-jam"}},
        {1600, {"other-error"}},
        {2000, {"other-error"}},
        {2610, {"other-error"}},
        {3000, {"other-error"}},
        {3001, {}},
        {99999, {"offline-report"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(_StateReasons(row.status), row.reasons) << row.status;
    }
    // A printer that does not answer is not waited for; one with an error is.
    EXPECT_FALSE(_NeedsAttention(99999));
    EXPECT_FALSE(_NeedsAttention(1));
    EXPECT_TRUE(_NeedsAttention(1300));
}

TEST(StateReasons, ReporterWritesOnlyChanges) {
    qzm::test::StatusCapture capture;
    StatusReporter report(capture.File());
    report.ReportStatus(1000);
    report.ReportStatus(1000);
    report.ReportStatus(1300);
    report.ReportStatus(0);
    EXPECT_EQ(capture.Text(),
              "STATE: +cover-open\n"
              "INFO: The printer's cover is open.\n"
              "STATE: -cover-open\n"
              "STATE: +media-jam\n"
              "INFO: Paper is jammed in the printer.\n"
              "STATE: -media-jam\n"
              "INFO: Printer is ready.\n");
}

TEST(MarkerLevel, CountsLessFiftyLikeTheStatusWindow) {
    // 350 and 200 less 50: 150 of 300.
    EXPECT_EQ(_MarkerLevel(0, "200", "0350", "0200"), 50);
    EXPECT_EQ(_MarkerLevel(0, "310", "0051", "0051"), 100);
    // Truncated toward zero: 2 of 3 is 66.
    EXPECT_EQ(_MarkerLevel(0, "210", "0053", "0052"), 66);
    // Below the reserve the level is empty, never negative.
    EXPECT_EQ(_MarkerLevel(0, "200", "0350", "0040"), 0);
    // Ribbon ended, or media the printer does not name: nothing remains.
    EXPECT_EQ(_MarkerLevel(1200, "200", "0350", "0200"), 0);
    EXPECT_EQ(_MarkerLevel(0, "999", "0350", "0200"), 0);
    // Unknown: no counts, an initial count of 50 or less, or offline.
    EXPECT_EQ(_MarkerLevel(0, "200", "", "0200"), -1);
    EXPECT_EQ(_MarkerLevel(0, "200", "0050", "0020"), -1);
    EXPECT_EQ(_MarkerLevel(99999, "200", "0350", "0200"), -1);
}

TEST(MarkerLevel, HoldsCountsOfAnySizeWithinTheScale) {
    // A remaining count far above the initial one, and the smallest count
    // there is: the level stays within 0..100.
    EXPECT_EQ(_MarkerLevel(0, "200", "0051", "99999999999"), 100);
    EXPECT_EQ(_MarkerLevel(0, "200", "0052", "2147483647"), 100);
    EXPECT_EQ(_MarkerLevel(0, "200", "0350", "-99999999999"), 0);
    EXPECT_EQ(_MarkerLevel(0, "200", "99999999999", "-2147483648"), 0);
}

TEST(PrintStatusText, KeepsTheMediaAnswerFromItsThirdCharacter) {
    EXPECT_EQ(_PrintStatusText("01200"), "#MEDIA_INFORMATION\nMEDIA_SIZE=\"200\"\n\n");
    EXPECT_EQ(_PrintStatusText("0"), "#MEDIA_INFORMATION\nMEDIA_SIZE=\"\"\n\n");
    // A line feed from the device cannot split the line the filter reads.
    EXPECT_EQ(_PrintStatusText("01a\nb"), "#MEDIA_INFORMATION\nMEDIA_SIZE=\"ab\"\n\n");
    EXPECT_TRUE(_IsJobId("1234567890"));
    EXPECT_FALSE(_IsJobId("12345678901"));
    EXPECT_FALSE(_IsJobId(""));
    EXPECT_FALSE(_IsJobId("1/2"));
}

}  // namespace
