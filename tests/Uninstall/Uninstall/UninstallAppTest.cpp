// The uninstaller's window against stand-in scripts for pkexec and the helper.
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include "AppDelegate.h"
#include "Paths.h"
#include "RequestUninstall.h"
#include "Translations.h"

namespace {

constexpr int kTimeoutMs = 15000;
enum Outcome { kDone, kFailed, kQuit };

void WriteScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.setPermissions(QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
}

QStringList ReadLines(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// Runs the application's loop until it quits; 2 when it did not in time.
int RunUntilQuit() {
    QTimer guard;  // gone with the loop, unlike a single-shot call
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    guard.start(kTimeoutMs);
    return QCoreApplication::exec();
}

}  // namespace

class UninstallAppTest : public QObject {
    Q_OBJECT

    QString Path(const char* name) const { return m_dir->filePath(QString::fromLatin1(name)); }
    // pkexec records its arguments and, unless told to end otherwise, runs the
    // helper; the helper records the request line and answers `reply`.
    void StandIns(const QByteArray& reply, const QByteArray& pkexecEnd = "exec \"$@\"\n") {
        WriteScript(Path("pkexec"), "printf '%s\\n' \"$*\" >> '" +
                                        Path("pkexec.calls").toLocal8Bit() + "'\n" + pkexecEnd);
        WriteScript(Path("helper"), "IFS= read -r line\nprintf '%s\\n' \"$line\" >> '" +
                                        Path("requests").toLocal8Bit() + "'\nprintf '%s\\n' '" +
                                        reply + "'\n");
    }

    QTemporaryDir m_runtime;
    std::unique_ptr<QTemporaryDir> m_dir;

  private slots:
    void initTestCase() {
        // The single-instance lock lives here, away from the user's own.
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        LoadTranslations(QCoreApplication::instance());
        for (const char* key : {"FIRST_MSG", "EXEC_MSG", "SUCCESS_MSG", "FAIL_MSG", "EXIT"})
            QVERIFY2(qtTrId(key) != QLatin1String(key), key);
    }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("QZM480_TEST_PKEXEC", Path("pkexec").toLocal8Bit());
        qputenv("QZM480_TEST_HELPER", Path("helper").toLocal8Bit());
    }

    void outcome_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("pkexecEnd");
        QTest::addColumn<int>("outcome");
        const QByteArray run = "exec \"$@\"\n";
        QTest::newRow("true") << QByteArray("{\"reply\":true}") << run << int(kDone);
        QTest::newRow("false") << QByteArray("{\"reply\":false}") << run << int(kFailed);
        QTest::newRow("no reply") << QByteArray() << run << int(kFailed);
        QTest::newRow("not json") << QByteArray("reply true") << run << int(kFailed);
        // Only the first line is the reply.
        QTest::newRow("more lines") << QByteArray("{\"reply\":true}\nmore") << run << int(kDone);
        QTest::newRow("blank first") << QByteArray("\n{\"reply\":true}") << run << int(kFailed);
        QTest::newRow("not boolean") << QByteArray("{\"reply\":\"true\"}") << run << int(kFailed);
        QTest::newRow("failed 1") << QByteArray() << QByteArray("exit 1\n") << int(kFailed);
        QTest::newRow("crashed") << QByteArray() << QByteArray("kill -KILL $$\n") << int(kFailed);
        QTest::newRow("dismissed 126") << QByteArray() << QByteArray("exit 126\n") << int(kQuit);
        QTest::newRow("refused 127") << QByteArray() << QByteArray("exit 127\n") << int(kQuit);
        QTest::newRow("no pkexec") << QByteArray() << QByteArray() << int(kQuit);
    }
    void outcome() {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, pkexecEnd);
        QFETCH(int, outcome);
        StandIns(reply, pkexecEnd);
        if (pkexecEnd.isEmpty())
            QFile::remove(Path("pkexec"));
        AppDelegate app;
        QVERIFY(app.applicationDidFinishLaunching());
        // Ready: the English text, the cancel button the default one.
        QCOMPARE(app.label()->text(), qtTrId("FIRST_MSG"));
        QVERIFY(app.window()->isVisible() && app.progress()->isHidden());
        QVERIFY(app.cancelButton()->isDefault());
        const QString cancelText = app.cancelButton()->text();
        if (outcome == kQuit) {
            // Ends without a message and without asking the helper.
            QTimer::singleShot(0, app.uninstallButton(), &QPushButton::click);
            QCOMPARE(RunUntilQuit(), 0);
            QVERIFY(!QFile::exists(Path("requests")));
            QCOMPARE(app.label()->text(), qtTrId("EXEC_MSG"));
            return;
        }
        app.uninstallButton()->click();
        // Working: everything off, the indicator turning, nothing asked yet.
        QCOMPARE(app.label()->text(), qtTrId("EXEC_MSG"));
        QVERIFY(!app.uninstallButton()->isEnabled() && !app.cancelButton()->isEnabled());
        QVERIFY(app.progress()->isVisible() && app.progress()->maximum() == 0);
        QVERIFY(!QFile::exists(Path("pkexec.calls")));
        QCloseEvent working;  // closing is refused while the removal runs
        QCoreApplication::sendEvent(app.window(), &working);
        QVERIFY(!working.isAccepted());

        const bool done = outcome == kDone;
        QTRY_COMPARE_WITH_TIMEOUT(app.label()->text(), qtTrId(done ? "SUCCESS_MSG" : "FAIL_MSG"),
                                  kTimeoutMs);
        QVERIFY(app.cancelButton()->isEnabled() && app.cancelButton()->isDefault());
        QVERIFY(app.progress()->isHidden());
        QCOMPARE(app.uninstallButton()->isEnabled(), !done);
        QCOMPARE(app.cancelButton()->text(), done ? qtTrId("EXIT") : cancelText);
        QCloseEvent idle;
        QCoreApplication::sendEvent(app.window(), &idle);
        QVERIFY(idle.isAccepted());
        // pkexec is asked to run exactly the helper; the helper gets one request.
        QCOMPARE(ReadLines(Path("pkexec.calls")), QStringList{Path("helper")});
        if (pkexecEnd.startsWith("exec"))
            QCOMPARE(ReadLines(Path("requests")), QStringList{"{\"Uninstall\":\"Uninstall\"}"});
        if (!done) {
            // A second attempt repeats pkexec, the helper and the request.
            StandIns("{\"reply\":true}");
            app.uninstallButton()->click();
            QCOMPARE(app.label()->text(), qtTrId("EXEC_MSG"));
            QTRY_COMPARE_WITH_TIMEOUT(app.label()->text(), qtTrId("SUCCESS_MSG"), kTimeoutMs);
            QCOMPARE(ReadLines(Path("pkexec.calls")).size(), 2);
        }
        // The cancel button, now "EXIT", quits.
        QTimer::singleShot(0, app.cancelButton(), &QPushButton::click);
        QCOMPARE(RunUntilQuit(), 0);
    }

    void secondInstanceQuitsAtLaunch() {
        QTemporaryDir runtime;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        QProcess first, second;
        first.setProcessEnvironment(env);
        second.setProcessEnvironment(env);
        first.start(QStringLiteral(QZM480_APP_BINARY), {});
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile::exists(runtime.filePath(QStringLiteral("com.orvane.UninstallQZ-M480.lock"))),
            kTimeoutMs);
        second.start(QStringLiteral(QZM480_APP_BINARY), {});
        QVERIFY(second.waitForFinished(kTimeoutMs));
        QVERIFY(second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0);
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        QVERIFY(first.waitForFinished());
    }

    // The policy lets an active user's admin run the installed helper, which
    // is what the window asks pkexec for without the test seam.
    void policyNamesTheInstalledHelper() {
        QFile file(QStringLiteral(QZM480_POLICY_FILE));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString policy = QString::fromUtf8(file.readAll()).simplified();
        const QString helper = QString::fromLatin1(qzm::paths::kHelper);
        for (const QString& part :
             {QStringLiteral("<action id=\"com.orvane.UninstallHelperQZM480\">"),
              QStringLiteral("<allow_active>auth_admin</allow_active>"), QStringLiteral("QZ-M480"),
              "<annotate key=\"org.freedesktop.policykit.exec.path\">" + helper + "</annotate>"})
            QVERIFY2(policy.contains(part), qPrintable(part));
        qunsetenv("QZM480_TEST_PKEXEC");
        qunsetenv("QZM480_TEST_HELPER");
        QCOMPARE(HelperCommand::Installed().helper, helper);
        QCOMPARE(HelperCommand::Installed().pkexec, QStringLiteral("/usr/bin/pkexec"));
    }
};

QTEST_MAIN(UninstallAppTest)
#include "UninstallAppTest.moc"
