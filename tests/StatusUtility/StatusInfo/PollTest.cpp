// The one-second poll: reading and parsing the information file.
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "DelegateHarness.h"
#include "InfoFileReader.h"

using qzm::test::DaemonFile;
using qzm::test::DelegateHarness;

class PollTest : public QObject {
    Q_OBJECT

  private slots:
    void daemonFileIsShown() {
        DelegateHarness h;
        h.WriteInfo(DaemonFile());
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->m_modelStr_Log, QStringLiteral("QZ-M480"));
        QCOMPARE(h.delegate->window->windowTitle(), QStringLiteral("Orvane QZ-M480"));
        QCOMPARE(h.delegate->statusLabel->text(), h.Text("st_00000"));
        QVERIFY(h.delegate->statusLabel->text() != QStringLiteral("st_00000"));
        QCOMPARE(h.delegate->statusMessageLabel->text(), h.Text("ms_00001"));
        QCOMPARE(h.delegate->mediaSizeLabel->text(), h.Text("size_00301"));
        QCOMPARE(h.delegate->mediaCountLabel->text(),
                 QStringLiteral("150 / 300  ") + h.Text("sheets"));
        QCOMPARE(h.delegate->progressIndicator->value(), 50);
        QCOMPARE(h.delegate->totalCountLabel->text(), QStringLiteral("1234"));
        QCOMPARE(h.delegate->serialNumberLabel->text(), QStringLiteral("AB 12"));
        QCOMPARE(h.delegate->firmVersionLabel->text(), QStringLiteral("1.05"));
        QVERIFY(h.ShowsIcon(h.delegate->m_prtStsIdleImg));
        QVERIFY(!h.delegate->m_prtStsIdleImg.isNull());
    }

    void missingFileShowsOfflineValues() {
        DelegateHarness h;
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->m_statusStr_Log, QStringLiteral("99999"));
        QCOMPARE(h.delegate->m_messageStr_Log, QStringLiteral("00006"));
        QCOMPARE(h.delegate->statusLabel->text(), h.Text("st_99999"));
        QCOMPARE(h.delegate->statusMessageLabel->text(), h.Text("ms_00006"));
        QVERIFY(h.ShowsIcon(h.delegate->m_prtStsOfflineImg));
        for (QLabel* label :
             {h.delegate->mediaSizeLabel.data(), h.delegate->serialNumberLabel.data(),
              h.delegate->firmVersionLabel.data(), h.delegate->totalCountLabel.data()}) {
            QCOMPARE(label->text(), QStringLiteral("---"));
        }
        QCOMPARE(h.delegate->mediaCountLabel->text(),
                 QStringLiteral("--- / ---  ") + h.Text("sheets"));
        QCOMPARE(h.delegate->progressIndicator->value(), 0);
    }

    void valuesAreTakenLiterally_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("firmware");
        QTest::newRow("quote inside the value")
            << QByteArray("PRINTER_VERSION=\"1.\"05\"") << QString() << QStringLiteral("1.05");
        QTest::newRow("several %20 in the serial") << QByteArray("PRINTER_SERIAL_NO=\"A%20B%20C\"")
                                                   << QStringLiteral("A B C") << QString();
        QTest::newRow("%20 stays outside the serial")
            << QByteArray("PRINTER_VERSION=\"1%2005\"") << QString() << QStringLiteral("1%2005");
        QTest::newRow("carriage return stays")
            << QByteArray("PRINTER_VERSION=\"1.05\"\r") << QString() << QStringLiteral("1.05\r");
        QTest::newRow("lower-case key ignored")
            << QByteArray("printer_version=\"9\"") << QString() << QString();
        QTest::newRow("leading blank ignored")
            << QByteArray(" PRINTER_VERSION=\"9\"") << QString() << QString();
        QTest::newRow("last of two wins")
            << QByteArray("PRINTER_VERSION=\"1\"\nPRINTER_VERSION=\"2\"") << QString()
            << QStringLiteral("2");
        QTest::newRow("unquoted value")
            << QByteArray("PRINTER_VERSION=3.1") << QString() << QStringLiteral("3.1");
    }
    void valuesAreTakenLiterally() {
        QFETCH(QByteArray, line);
        QFETCH(QString, serial);
        QFETCH(QString, firmware);
        DelegateHarness h;
        h.WriteInfo(line + '\n');
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->m_serialStr_Log, serial);
        QCOMPARE(h.delegate->m_firmVersion_Log, firmware);
    }

    void similarKeysDoNotShadowEachOther() {
        DelegateHarness h;
        h.WriteInfo("MEDIA_REMAIN_HALF=\"7\"\nMEDIA_REMAIN=\"00200\"\nMEDIA_CLASS=\"3\"\n");
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->m_remainStr_Log, QStringLiteral("00200"));
        QCOMPARE(h.delegate->m_remainHalfStr_Log, QStringLiteral("7"));
        QCOMPARE(h.delegate->m_mediaClassStr_Log, QStringLiteral("3"));
    }

    void partialAndEmptyFilesKeepEarlierValues() {
        DelegateHarness h;
        h.WriteInfo(DaemonFile());
        h.delegate->repeateMethod();
        h.WriteInfo("PRINTER_STATUS=\"01000\"\n");
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->statusLabel->text(), h.Text("st_01000"));
        QCOMPARE(h.delegate->firmVersionLabel->text(), QStringLiteral("1.05"));
        QCOMPARE(h.delegate->m_remainStr_Log, QStringLiteral("00200"));
        // A file cut in the middle of a line takes the cut value.
        h.WriteInfo("PRINTER_STATUS=\"00000\"\nPRINTER_VERSION=\"1.");
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->m_firmVersion_Log, QStringLiteral("1."));
        h.WriteInfo("");
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->m_statusStr_Log, QStringLiteral("00000"));
        QCOMPARE(h.delegate->m_serialStr_Log, QStringLiteral("AB 12"));
    }

    void fileGoneAfterwardsGivesOfflineValues() {
        DelegateHarness h;
        h.WriteInfo(DaemonFile());
        h.delegate->repeateMethod();
        QVERIFY(QFile::remove(QString::fromStdString(h.InfoPath())));
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->m_statusStr_Log, QStringLiteral("99999"));
        QCOMPARE(h.delegate->m_firmVersion_Log, QString());
        QCOMPARE(h.delegate->m_remainStr_Log, QString());
    }

    void unreadableTextIsReadAgainAfter100ms() {
        DelegateHarness h;
        h.WriteInfo("PRINTER_STATUS=\"\xff\xfe\"\n");
        // The daemon finishes its write while the window waits.
        const std::string path = h.InfoPath();
        const std::string aside = path + ".new";
        std::thread writer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            QFile file(QString::fromStdString(aside));
            file.open(QIODevice::WriteOnly);
            file.write(DaemonFile("01300", "00104"));
            file.close();
            ::rename(aside.c_str(), path.c_str());
        });
        QElapsedTimer timer;
        timer.start();
        h.delegate->repeateMethod();
        const qint64 waited = timer.elapsed();
        writer.join();
        QVERIFY2(waited >= 100, "the poll waits 100 ms before reading again");
        QCOMPARE(h.delegate->m_statusStr_Log, QStringLiteral("01300"));
    }

    void textUnreadableTwiceGivesOfflineValues() {
        DelegateHarness h;
        h.WriteInfo(DaemonFile());
        h.delegate->repeateMethod();
        h.WriteInfo("PRINTER_STATUS=\"00001\"\nPRINTER_VERSION=\"\xc3\"\n");
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->m_statusStr_Log, QStringLiteral("99999"));
        QCOMPARE(h.delegate->m_messageStr_Log, QStringLiteral("00006"));
        QCOMPARE(h.delegate->m_firmVersion_Log, QString());
    }

    // The cache folder is world-writable: whatever lies at the file's name
    // must neither freeze nor exhaust the window.
    void hugeFileIsReadOnlyInPart() {
        DelegateHarness h;
        QByteArray text = DaemonFile();
        h.WriteInfo(text);
        const qint64 twoGiB = qint64(2) * 1024 * 1024 * 1024;
        QCOMPARE(::truncate(h.InfoPath().c_str(), twoGiB), 0);  // sparse: costs no disk
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->m_statusStr_Log, QStringLiteral("00000"));
        QCOMPARE(h.delegate->m_totalCountStr_Log, QStringLiteral("0001234"));
    }

    void lineCutByTheReadLimitIsDropped() {
        DelegateHarness h;
        QByteArray text = "PRINTER_STATUS=\"00001\"\n";
        text +=
            QByteArray("X").repeated(qzm::statusinfo::kInfoFileReadLimit - text.size() - 10) + '\n';
        text += "PRINTER_VERSION=\"0123456789abcdef\"\n";
        h.WriteInfo(text);
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->m_statusStr_Log, QStringLiteral("00001"));
        QCOMPARE(h.delegate->m_firmVersion_Log, QString());
    }

    void pipeAtTheFileNameDoesNotBlock() {
        DelegateHarness h;
        std::filesystem::create_directories(h.CachePath(""));
        QCOMPARE(::mkfifo(h.InfoPath().c_str(), 0666), 0);
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->m_statusStr_Log, QStringLiteral("99999"));
    }

    void markupIsShownAsText() {
        DelegateHarness h;
        h.WriteInfo("PRINTER_VERSION=\"<b>1</b><img src=x>\"\nPRINTER_SERIAL_NO=\"<i>S</i>\"\n");
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->firmVersionLabel->text(), QStringLiteral("<b>1</b><img src=x>"));
        for (QLabel* label : h.delegate->window->findChildren<QLabel*>()) {
            if (label != h.delegate->statusIconView) {
                QCOMPARE(label->textFormat(), Qt::PlainText);
            }
        }
    }

    void longValuesDoNotWidenTheWindow() {
        DelegateHarness h;
        h.delegate->window->show();
        const int width = h.delegate->window->width();
        h.WriteInfo("PRINTER_VERSION=\"" + QByteArray("W").repeated(5000) + "\"\n");
        h.delegate->repeateMethod();
        QCoreApplication::processEvents();
        QCOMPARE(h.delegate->window->width(), width);
    }
};

QTEST_MAIN(PollTest)
#include "PollTest.moc"
