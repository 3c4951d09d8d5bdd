// The presentation tables: status, icon, message, media size, remaining
// prints and bar, total count and the "---" values.
#include <QtTest>

#include "CodeValue.h"
#include "DelegateHarness.h"

using qzm::statusinfo::AppDelegate;
using qzm::test::DaemonFile;
using qzm::test::DelegateHarness;

using IconField = QPixmap AppDelegate::*;
Q_DECLARE_METATYPE(IconField)

class PresentationTest : public QObject {
    Q_OBJECT

    // Sets the raw values directly and runs the presentation step.
    static void Show(DelegateHarness& h, const QString& status, const QString& message,
                     const QString& size = QStringLiteral("301"),
                     const QString& initial = QStringLiteral("00350"),
                     const QString& remain = QStringLiteral("00200")) {
        h.delegate->m_statusStr_Log = status;
        h.delegate->m_messageStr_Log = message;
        h.delegate->m_sizeStr_Log = size;
        h.delegate->m_initialStr_Log = initial;
        h.delegate->m_remainStr_Log = remain;
        h.delegate->updateStatus();
    }

  private slots:
    void statusTable_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("key");
        QTest::addColumn<IconField>("icon");
        const struct {
            const char* raw;
            const char* key;
            IconField icon;
        } rows[] = {
            {"00000", "st_00000", &AppDelegate::m_prtStsIdleImg},
            {"00001", "st_00001", &AppDelegate::m_prtStsPrintingImg},
            {"00500", "st_00500", &AppDelegate::m_prtStsCoolingImg},
            {"00900", "st_00900", &AppDelegate::m_prtStsIdleImg},
            {"01000", "st_01000", &AppDelegate::m_prtStsCoverOpenImg},
            {"01010", "st_01010", &AppDelegate::m_prtStsNoScrapBoxImg},
            {"01100", "st_01100", &AppDelegate::m_prtStsPaperEndImg},
            {"01200", "st_01200", &AppDelegate::m_prtStsRibbonEndImg},
            {"01300", "st_01300", &AppDelegate::m_prtStsPaperJamImg},
            {"01400", "st_01400", &AppDelegate::m_prtStsRibbonErrImg},
            {"01500", "st_01500", &AppDelegate::m_prtStsPaperErrImg},
            {"01600", "st_01600", &AppDelegate::m_prtStsSystemErr01Img},
            {"02000", "st_02000", &AppDelegate::m_prtStsSystemErr01Img},
            {"02610", "st_02610", &AppDelegate::m_prtStsSystemErr01Img},
            {"03000", "st_03000", &AppDelegate::m_prtStsSystemErr01Img},
            {"99999", "st_99999", &AppDelegate::m_prtStsOfflineImg},
            {"", "st_99999", &AppDelegate::m_prtStsOfflineImg},
            {"abc", "st_00000", &AppDelegate::m_prtStsIdleImg},
            {" +1000x", "st_01000", &AppDelegate::m_prtStsCoverOpenImg},
        };
        for (const auto& row : rows) {
            QTest::newRow(row.raw[0] ? row.raw : "empty")
                << QString::fromLatin1(row.raw) << QString::fromLatin1(row.key) << row.icon;
        }
    }
    void statusTable() {
        QFETCH(QString, raw);
        QFETCH(QString, key);
        QFETCH(IconField, icon);
        DelegateHarness h;
        Show(h, raw, QString());
        QCOMPARE(h.delegate->statusLabel->text(), h.Text(key.toLatin1().constData()));
        QVERIFY(!(h.delegate.get()->*icon).isNull());
        QVERIFY(h.ShowsIcon(h.delegate.get()->*icon));
    }

    void twelveDistinctIconsAreLoaded() {
        DelegateHarness h;
        QList<QImage> images;
        for (IconField f :
             {&AppDelegate::m_prtStsCoolingImg, &AppDelegate::m_prtStsCoverOpenImg,
              &AppDelegate::m_prtStsIdleImg, &AppDelegate::m_prtStsNoScrapBoxImg,
              &AppDelegate::m_prtStsOfflineImg, &AppDelegate::m_prtStsPaperEndImg,
              &AppDelegate::m_prtStsPaperErrImg, &AppDelegate::m_prtStsPaperJamImg,
              &AppDelegate::m_prtStsPrintingImg, &AppDelegate::m_prtStsRibbonEndImg,
              &AppDelegate::m_prtStsRibbonErrImg, &AppDelegate::m_prtStsSystemErr01Img}) {
            const QImage image = (h.delegate.get()->*f).toImage();
            QCOMPARE(image.size(), QSize(64, 64));
            QVERIFY(!images.contains(image));
            images << image;
        }
    }

    void unknownStatusKeepsTextAndIcon() {
        DelegateHarness h;
        Show(h, QStringLiteral("01000"), QStringLiteral("00100"));
        Show(h, QStringLiteral("00510"), QStringLiteral("00004"));
        QCOMPARE(h.delegate->statusLabel->text(), h.Text("st_01000"));
        QVERIFY(h.ShowsIcon(h.delegate->m_prtStsCoverOpenImg));
        QCOMPARE(h.delegate->statusMessageLabel->text(), h.Text("ms_00004"));
    }

    void unknownStatusOnTheFirstPollShowsNoText() {
        DelegateHarness h;
        Show(h, QStringLiteral("00002"), QString());
        QCOMPARE(h.delegate->statusLabel->text(), QString());
        QVERIFY(h.ShowsIcon(h.delegate->m_prtStsOfflineImg));
    }

    void messageTable_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("key");
        for (int code = 0; code <= 220; ++code) {
            const bool known = (code >= 1 && code <= 6) || (code >= 100 && code <= 108) ||
                               (code >= 200 && code <= 210);
            const QString raw = QStringLiteral("%1").arg(code, 5, 10, QLatin1Char('0'));
            QTest::newRow(qPrintable(raw))
                << raw << (known ? QStringLiteral("ms_") + raw : QString());
        }
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("-1") << QStringLiteral("-1") << QString();
        QTest::newRow("99999") << QStringLiteral("99999") << QString();
    }
    void messageTable() {
        QFETCH(QString, raw);
        QFETCH(QString, key);
        DelegateHarness h;
        Show(h, QStringLiteral("00000"), raw);
        const QString text = key.isEmpty() ? QString() : h.Text(key.toLatin1().constData());
        QVERIFY(key.isEmpty() || text != key);  // every message key has a text
        QCOMPARE(h.delegate->statusMessageLabel->text(), text);
    }

    void mediaSizeTable_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("code");
        QTest::newRow("200") << QStringLiteral("200") << 200;
        QTest::newRow("210") << QStringLiteral("210") << 210;
        QTest::newRow("301") << QStringLiteral("301") << 301;
        QTest::newRow("310") << QStringLiteral("310") << 310;
        QTest::newRow("0310") << QStringLiteral("0310") << 310;
        QTest::newRow("300") << QStringLiteral("300") << 0;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("text") << QStringLiteral("A4") << 0;
    }
    void mediaSizeTable() {
        QFETCH(QString, raw);
        QFETCH(int, code);
        DelegateHarness h;
        h.delegate->m_sizeStr_Log = raw;
        QCOMPARE(h.delegate->getMediaSizeString(), code);
        const QString expected =
            code ? h.Text(QStringLiteral("size_%1").arg(code, 5, 10, QLatin1Char('0')).toLatin1())
                 : QStringLiteral("---");
        QCOMPARE(h.delegate->m_sizeStr, expected);
        QVERIFY(!expected.startsWith(QStringLiteral("size_")));
    }

    void unknownMediaAddsTheMediaMessage() {
        DelegateHarness h;
        Show(h, QStringLiteral("00000"), QString(), QStringLiteral("999"));
        QCOMPARE(h.delegate->statusMessageLabel->text(), u'\n' + h.Text("ms_00108"));
        QCOMPARE(h.delegate->mediaCountLabel->text(),
                 QStringLiteral("0 / 300  ") + h.Text("sheets"));
        QCOMPARE(h.delegate->progressIndicator->value(), 0);
        Show(h, QStringLiteral("00001"), QStringLiteral("00002"), QString());
        QCOMPARE(h.delegate->statusMessageLabel->text(),
                 h.Text("ms_00002") + u'\n' + h.Text("ms_00108"));
        // Offline and ribbon end do not add it.
        Show(h, QStringLiteral("01200"), QStringLiteral("00103"), QString());
        QCOMPARE(h.delegate->statusMessageLabel->text(), h.Text("ms_00103"));
        Show(h, QStringLiteral("99999"), QStringLiteral("00006"), QString());
        QCOMPARE(h.delegate->statusMessageLabel->text(), h.Text("ms_00006"));
    }

    void remainingPrints_data() {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("initial");
        QTest::addColumn<QString>("remain");
        QTest::addColumn<QString>("counts");
        QTest::addColumn<int>("bar");
        QTest::newRow("reserve of 50 taken off") << "00000"
                                                 << "00350"
                                                 << "00200"
                                                 << "150 / 300" << 50;
        QTest::newRow("full") << "00000"
                              << "00051"
                              << "00051"
                              << "1 / 1" << 100;
        QTest::newRow("truncated toward zero") << "00000"
                                               << "00350"
                                               << "00249"
                                               << "199 / 300" << 66;
        QTest::newRow("ribbon end shows none left") << "01200"
                                                    << "00350"
                                                    << "00200"
                                                    << "0 / 300" << 0;
        QTest::newRow("offline shows none left") << "99999"
                                                 << "00350"
                                                 << "00200"
                                                 << "0 / 300" << 0;
        QTest::newRow("below the reserve") << "00000"
                                           << "00350"
                                           << "00020"
                                           << "-30 / 300" << 0;
        QTest::newRow("initial 50") << "00000"
                                    << "00050"
                                    << "00040"
                                    << "--- / ---" << 0;
        QTest::newRow("initial empty") << "00000"
                                       << ""
                                       << "00040"
                                       << "--- / ---" << 0;
        QTest::newRow("remain empty") << "00000"
                                      << "00350"
                                      << ""
                                      << "--- / ---" << 0;
        QTest::newRow("huge counts") << "00000"
                                     << "00051"
                                     << "99999999999"
                                     << "2147483597 / 1" << 100;
        QTest::newRow("huge negative") << "00000"
                                       << "00051"
                                       << "-99999999999"
                                       << "-2147483698 / 1" << 0;
    }
    void remainingPrints() {
        QFETCH(QString, status);
        QFETCH(QString, initial);
        QFETCH(QString, remain);
        QFETCH(QString, counts);
        QFETCH(int, bar);
        DelegateHarness h;
        Show(h, status, QString(), QStringLiteral("301"), initial, remain);
        QCOMPARE(h.delegate->mediaCountLabel->text(),
                 counts + QStringLiteral("  ") + h.Text("sheets"));
        QCOMPARE(h.delegate->progressIndicator->value(), bar);
    }

    void totalCountRules() {
        DelegateHarness h;
        h.WriteInfo(DaemonFile("00000", "00001", "301", "00350", "00200", "0001234"));
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->totalCountLabel->text(), QStringLiteral("1234"));
        // Passes without a count keep showing the last one while online.
        h.WriteInfo(DaemonFile("00001", "00002", "301", "00350", "00200", ""));
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->totalCountLabel->text(), QStringLiteral("1234"));
        // Offline hides it, online brings it back.
        QFile::remove(QString::fromStdString(h.InfoPath()));
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->totalCountLabel->text(), QStringLiteral("---"));
        h.WriteInfo(DaemonFile("00000", "00001", "301", "00350", "00200", ""));
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->totalCountLabel->text(), QStringLiteral("1234"));
        h.WriteInfo(DaemonFile("00000", "00001", "301", "00350", "00200", "12345678901"));
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->totalCountLabel->text(), QStringLiteral("12345678901"));
    }

    void noCountEverShowsDashes() {
        DelegateHarness h;
        h.WriteInfo(DaemonFile("00000", "00001", "301", "00350", "00200", ""));
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->totalCountLabel->text(), QStringLiteral("---"));
    }

    void keyWithoutTextShowsTheKey() {
        QTemporaryDir empty;
        DelegateHarness h(QStringLiteral("S"), QString(), empty.path());
        QCOMPARE(h.delegate->updateButton->text(), QStringLiteral("update"));
        QCOMPARE(h.delegate->percent50Label->text(), QStringLiteral("percent50"));
        Show(h, QStringLiteral("00000"), QStringLiteral("00001"));
        QCOMPARE(h.delegate->statusLabel->text(), QStringLiteral("st_00000"));
        QCOMPARE(h.delegate->statusMessageLabel->text(), QStringLiteral("ms_00001"));
        QVERIFY(h.delegate->statusIconView->pixmap().isNull());
    }

    void codesAreReadAsLeadingIntegers() {
        using qzm::statusinfo::_IntegerValue;
        using qzm::statusinfo::_IntValue;
        QCOMPARE(_IntValue(QStringLiteral("01000")), 1000);
        QCOMPARE(_IntValue(QStringLiteral("  -12ab")), -12);
        QCOMPARE(_IntValue(QStringLiteral("x1")), 0);
        QCOMPARE(_IntValue(QStringLiteral("99999999999")), 2147483647);
        QCOMPARE(_IntValue(QStringLiteral("-99999999999")), -2147483647 - 1);
        QCOMPARE(_IntegerValue(QStringLiteral("9223372036854775807")),
                 Q_INT64_C(9223372036854775807));
        QCOMPARE(_IntegerValue(QStringLiteral("99999999999999999999")),
                 Q_INT64_C(9223372036854775807));
        QCOMPARE(_IntegerValue(QStringLiteral("-9223372036854775808")),
                 std::numeric_limits<int64_t>::min());
    }
};

QTEST_MAIN(PresentationTest)
#include "PresentationTest.moc"
