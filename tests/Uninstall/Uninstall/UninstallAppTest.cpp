// The uninstaller's window against stand-in scripts for pkexec and the helper.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>

#include <memory>

#include "AppDelegate.h"
#include "Paths.h"
#include "RequestUninstall.h"
#include "Translations.h"

namespace {

constexpr int kOutcomeTimeoutMs = 15000;

void WriteScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                        QFile::ExeOther);
}

// Runs the application's loop until it quits; 2 when it did not in time.
int RunUntilQuit() {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    guard.start(kOutcomeTimeoutMs);
    return QCoreApplication::exec();
}

QStringList ReadLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    text.chop(text.endsWith(u'\n') ? 1 : 0);
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

}  // namespace

class UninstallAppTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void successLeavesOnlyExit();
    void failureAllowsRetry_data();
    void failureAllowsRetry();
    void authorizationNotObtainedQuits_data();
    void authorizationNotObtainedQuits();
    void secondInstanceQuitsAtLaunch();
    void policyNamesTheInstalledHelper();

  private:
    // Stand-ins: pkexec records its arguments and runs the helper, the
    // helper records the request line and answers `reply`.
    void StandIns(const QByteArray& reply, const QByteArray& pkexecEnd = "exec \"$@\"\n");
    AppDelegate* Launch();
    QString Path(const char* name) const { return m_dir->filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_runtime;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppDelegate> m_delegate;
};

void UninstallAppTest::initTestCase() {
    QVERIFY(m_runtime.isValid());
    // The single-instance lock lives here, away from the user's own.
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
    LoadTranslations(QCoreApplication::instance());
}

void UninstallAppTest::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("QZM480_TEST_PKEXEC", Path("pkexec").toLocal8Bit());
    qputenv("QZM480_TEST_HELPER", Path("helper").toLocal8Bit());
}

void UninstallAppTest::cleanup() {
    m_delegate.reset();
    m_dir.reset();
}

void UninstallAppTest::StandIns(const QByteArray& reply, const QByteArray& pkexecEnd) {
    WriteScript(Path("pkexec"), "printf '%s\\n' \"$*\" >> '" + Path("pkexec.calls").toLocal8Bit() +
                                    "'\n" + pkexecEnd);
    WriteScript(Path("helper"), "IFS= read -r line\nprintf '%s\\n' \"$line\" >> '" +
                                    Path("requests").toLocal8Bit() + "'\nprintf '%s\\n' '" + reply +
                                    "'\n");
}

AppDelegate* UninstallAppTest::Launch() {
    m_delegate = std::make_unique<AppDelegate>();
    if (!m_delegate->applicationDidFinishLaunching())
        return nullptr;
    return m_delegate.get();
}

void UninstallAppTest::successLeavesOnlyExit() {
    StandIns("{\"reply\":true}");
    AppDelegate* app = Launch();
    QVERIFY(app != nullptr);
    // Ready, with the English texts compiled in.
    QVERIFY(app->window()->isVisible());
    QCOMPARE(app->label()->text(), qtTrId("FIRST_MSG"));
    for (const char* key : {"FIRST_MSG", "EXEC_MSG", "SUCCESS_MSG", "FAIL_MSG", "EXIT"}) {
        QVERIFY2(qtTrId(key) != QLatin1String(key), key);
    }
    QVERIFY(app->progress()->isHidden());
    QVERIFY(app->cancelButton()->isDefault());
    app->uninstallButton()->click();

    // Working: everything off, the indicator turning, nothing asked yet.
    QCOMPARE(app->label()->text(), qtTrId("EXEC_MSG"));
    QVERIFY(!app->uninstallButton()->isEnabled());
    QVERIFY(!app->cancelButton()->isEnabled());
    QVERIFY(app->progress()->isVisible());
    QCOMPARE(app->progress()->maximum(), 0);
    QVERIFY(!QFile::exists(Path("pkexec.calls")));

    QTRY_COMPARE_WITH_TIMEOUT(app->label()->text(), qtTrId("SUCCESS_MSG"), kOutcomeTimeoutMs);
    QCOMPARE(app->cancelButton()->text(), qtTrId("EXIT"));
    QVERIFY(app->cancelButton()->isEnabled());
    QVERIFY(!app->uninstallButton()->isEnabled());
    QVERIFY(app->progress()->isHidden());
    // pkexec is asked to run exactly the helper; the helper gets one request.
    QCOMPARE(ReadLines(Path("pkexec.calls")), QStringList{Path("helper")});
    QCOMPARE(ReadLines(Path("requests")), QStringList{"{\"Uninstall\":\"Uninstall\"}"});

    // The cancel button, now "EXIT", quits.
    QTimer::singleShot(0, app->cancelButton(), &QPushButton::click);
    QCOMPARE(RunUntilQuit(), 0);
}

void UninstallAppTest::failureAllowsRetry_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("false") << QByteArray("{\"reply\":false}");
    QTest::newRow("no reply") << QByteArray("");
    QTest::newRow("not json") << QByteArray("reply true");
    QTest::newRow("reply not boolean") << QByteArray("{\"reply\":\"true\"}");
}

void UninstallAppTest::failureAllowsRetry() {
    QFETCH(QByteArray, reply);
    StandIns(reply);
    AppDelegate* app = Launch();
    QVERIFY(app != nullptr);
    const QString cancelText = app->cancelButton()->text();
    app->uninstallButton()->click();

    QTRY_COMPARE_WITH_TIMEOUT(app->label()->text(), qtTrId("FAIL_MSG"), kOutcomeTimeoutMs);
    QVERIFY(app->uninstallButton()->isEnabled());
    QVERIFY(app->cancelButton()->isEnabled());
    QCOMPARE(app->cancelButton()->text(), cancelText);
    QVERIFY(app->progress()->isHidden());

    // A second attempt repeats pkexec, the helper and the request.
    StandIns("{\"reply\":true}");
    app->uninstallButton()->click();
    QCOMPARE(app->label()->text(), qtTrId("EXEC_MSG"));
    QTRY_COMPARE_WITH_TIMEOUT(app->label()->text(), qtTrId("SUCCESS_MSG"), kOutcomeTimeoutMs);
    QCOMPARE(ReadLines(Path("pkexec.calls")).size(), 2);
    QCOMPARE(ReadLines(Path("requests")).size(), 2);
}

void UninstallAppTest::authorizationNotObtainedQuits_data() {
    QTest::addColumn<QByteArray>("pkexecEnd");
    QTest::addColumn<bool>("pkexecExists");
    QTest::newRow("dismissed (126)") << QByteArray("exit 126\n") << true;
    QTest::newRow("refused (127)") << QByteArray("exit 127\n") << true;
    QTest::newRow("no pkexec") << QByteArray() << false;
}

void UninstallAppTest::authorizationNotObtainedQuits() {
    QFETCH(QByteArray, pkexecEnd);
    QFETCH(bool, pkexecExists);
    StandIns("{\"reply\":true}", pkexecEnd);
    if (!pkexecExists)
        QFile::remove(Path("pkexec"));
    AppDelegate* app = Launch();
    QVERIFY(app != nullptr);

    QTimer::singleShot(0, app->uninstallButton(), &QPushButton::click);
    QCOMPARE(RunUntilQuit(), 0);
    QVERIFY(!QFile::exists(Path("requests")));
    // Ended without a message.
    QCOMPARE(app->label()->text(), qtTrId("EXEC_MSG"));
}

void UninstallAppTest::secondInstanceQuitsAtLaunch() {
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(QZM480_APP_BINARY), {});
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(
        QFile::exists(runtime.filePath(QStringLiteral("com.orvane.UninstallQZ-M480.lock"))),
        kOutcomeTimeoutMs);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(QZM480_APP_BINARY), {});
    QVERIFY(second.waitForFinished(kOutcomeTimeoutMs));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    first.kill();
    QVERIFY(first.waitForFinished());
}

void UninstallAppTest::policyNamesTheInstalledHelper() {
    QFile file(QStringLiteral(QZM480_POLICY_FILE));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString actionId, execPath, message, allowActive;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("action")) {
            actionId = xml.attributes().value(QLatin1String("id")).toString();
        } else if (xml.name() == QLatin1String("annotate") &&
                   xml.attributes().value(QLatin1String("key")) ==
                       QLatin1String("org.freedesktop.policykit.exec.path")) {
            execPath = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            message = xml.readElementText();
        } else if (xml.name() == QLatin1String("allow_active")) {
            allowActive = xml.readElementText();
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(actionId, QStringLiteral("com.orvane.UninstallHelperQZM480"));
    QCOMPARE(execPath, QString::fromLatin1(qzm::paths::kHelper));
    // Without the test seam the application asks pkexec for exactly that program.
    qunsetenv("QZM480_TEST_PKEXEC");
    qunsetenv("QZM480_TEST_HELPER");
    QCOMPARE(HelperCommand::Installed().helper, execPath);
    QCOMPARE(HelperCommand::Installed().pkexec, QStringLiteral("/usr/bin/pkexec"));
    QCOMPARE(allowActive, QStringLiteral("auth_admin"));
    QVERIFY(message.contains(QStringLiteral("QZ-M480")));
}

QTEST_MAIN(UninstallAppTest)
#include "UninstallAppTest.moc"
