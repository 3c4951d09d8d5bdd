// The poll's presence check against a private print server.
#include <QtTest>

#include <sys/stat.h>

#include "DelegateHarness.h"
#include "PrivateCupsd.h"

using qzm::test::DelegateHarness;
using qzm::test::PrivateCupsd;

namespace {

constexpr char kUri[] = "ovbackend://Orvane%20QZ-M480?serial=AB%2012";

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

#define START_CUPSD(cupsd)                                                               \
    PrivateCupsd cupsd;                                                                  \
    if (!cupsd.Start()) {                                                                \
        QSKIP(qPrintable("no private cupsd: " + QString::fromStdString(cupsd.Error()))); \
    }

class PresenceTest : public QObject {
    Q_OBJECT

  private slots:
    void printerPresentKeepsTheWindow() {
        START_CUPSD(cupsd);
        QVERIFY(cupsd.AddQueue("Other", "ovbackend://Orvane%20QZ-M480?serial=ZZ", "Other one"));
        QVERIFY(cupsd.AddQueue("QZ_M480", kUri, "Orvane QZ-M480 desk"));
        DelegateHarness h(QStringLiteral("AB%2012"), QStringLiteral("Orvane QZ-M480 desk"));
        h.delegate->repeateMethod();
        QCOMPARE(h.terminations, 0);
        QCOMPARE(h.delegate->statusLabel->text(), h.Text("st_99999"));
    }

    void nameIsComparedCaseSensitively() {
        START_CUPSD(cupsd);
        QVERIFY(cupsd.AddQueue("QZ_M480", kUri, "Orvane QZ-M480 desk"));
        DelegateHarness h(QStringLiteral("AB%2012"), QStringLiteral("orvane qz-m480 desk"));
        h.delegate->repeateMethod();
        QCOMPARE(h.terminations, 1);
    }

    void renamedPrinterQuits() {
        START_CUPSD(cupsd);
        QVERIFY(cupsd.AddQueue("QZ_M480", kUri, "Orvane QZ-M480 desk"));
        DelegateHarness h(QStringLiteral("AB%2012"), QStringLiteral("Orvane QZ-M480 desk"));
        h.delegate->repeateMethod();
        QCOMPARE(h.terminations, 0);
        QVERIFY(cupsd.SetInfo("QZ_M480", "Orvane QZ-M480 shop"));
        h.delegate->repeateMethod();
        QCOMPARE(h.terminations, 1);
        QVERIFY(!h.delegate->m_timer->isActive());
    }

    void emptyListQuits() {
        START_CUPSD(cupsd);
        DelegateHarness h(QStringLiteral("AB%2012"), QStringLiteral("Orvane QZ-M480 desk"));
        h.delegate->repeateMethod();
        QCOMPARE(h.terminations, 1);
    }

    void noPrintServerSkipsTheCheck() {
        qzm::test::UnreachableCupsServer none;
        DelegateHarness h(QStringLiteral("AB%2012"), QStringLiteral("Orvane QZ-M480 desk"));
        h.delegate->repeateMethod();
        QCOMPARE(h.terminations, 0);
        QCOMPARE(h.delegate->statusLabel->text(), h.Text("st_99999"));
    }

    void serialAloneSkipsTheCheck() {
        START_CUPSD(cupsd);
        DelegateHarness h(QStringLiteral("AB%2012"));
        h.delegate->repeateMethod();
        QCOMPARE(h.terminations, 0);
    }

    // The whole program: deleting its queue closes the window within a
    // second or two and removes the open marker.
    void deletedQueueEndsTheProgram() {
        START_CUPSD(cupsd);
        QVERIFY(cupsd.AddQueue("QZ_M480", kUri, "Orvane QZ-M480 desk"));
        qzm::test::TempRoot root;
        const std::string marker = root / "/Library/Caches/Orvane/QZ-M480/QZ-M480_AB%2012_UTIL";
        QProcess window;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        window.setProcessEnvironment(env);
        window.start(QStringLiteral(QZM480_STATUSINFO_PROGRAM),
                     {QStringLiteral("AB%2012"), QStringLiteral("Orvane QZ-M480 desk")});
        QVERIFY(window.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(Exists(marker), 10000);
        QTest::qWait(1500);
        QCOMPARE(window.state(), QProcess::Running);
        QVERIFY(cupsd.DeleteQueue("QZ_M480"));
        QVERIFY(window.waitForFinished(10000));
        QCOMPARE(window.exitCode(), 0);
        QVERIFY(!Exists(marker));
    }
};

QTEST_MAIN(PresenceTest)
#include "PresenceTest.moc"
