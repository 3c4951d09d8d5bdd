// The request files the window leaves for the daemon, and the program's
// command line.
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DelegateHarness.h"
#include "RequestFile.h"

using namespace qzm::statusinfo;
using qzm::test::DelegateHarness;
using qzm::test::TempRoot;

namespace {

std::string Cache(const TempRoot& root, const std::string& name) {
    return root / ("/Library/Caches/Orvane/QZ-M480/" + name);
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

bool Exists(const std::string& path) {
    return ModeOf(path) != 0;
}

QByteArray Contents(const std::string& path) {
    QFile file(QString::fromStdString(path));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void Write(const std::string& path, const QByteArray& bytes) {
    QFile file(QString::fromStdString(path));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
}

}  // namespace

class RequestFileTest : public QObject {
    Q_OBJECT

  private slots:
    void makesEmptyWorldWritableFile() {
        TempRoot root;
        const mode_t old = ::umask(022);
        QVERIFY(_MakeRequestFile(kOpenMarkerFormat, "AB%2012"));
        ::umask(old);
        const std::string path = Cache(root, "QZ-M480_AB%2012_UTIL");
        QVERIFY(S_ISREG(ModeOf(path)));
        QCOMPARE(ModeOf(path) & 07777, mode_t(0666));
        QCOMPARE(ModeOf(Cache(root, "")) & 07777, mode_t(0777));
        // Pressing update again empties the same file.
        Write(path, "left over");
        QVERIFY(_MakeRequestFile(kOpenMarkerFormat, "AB%2012"));
        QCOMPARE(Contents(path), QByteArray());
    }

    void plantedLinksAndPipesAreNotFollowed() {
        TempRoot root;
        QVERIFY(_MakeRequestFile(kStartRequestFormat, "X"));  // makes the folders
        const std::string victim = root / "/victim";
        Write(victim, "precious");
        ::chmod(victim.c_str(), 0600);

        const std::string link = Cache(root, "QZ-M480_S_TC_UTIL");
        QCOMPARE(::symlink(victim.c_str(), link.c_str()), 0);
        QVERIFY(!_MakeRequestFile(kUpdateRequestFormat, "S"));
        const std::string dangling = Cache(root, "QZ-M480_D_TC_UTIL");
        QCOMPARE(::symlink((root / "/made-by-link").c_str(), dangling.c_str()), 0);
        QVERIFY(!_MakeRequestFile(kUpdateRequestFormat, "D"));
        QVERIFY(!Exists(root / "/made-by-link"));

        const std::string hard = Cache(root, "QZ-M480_H_TC_UTIL");
        QCOMPARE(::link(victim.c_str(), hard.c_str()), 0);
        QVERIFY(!_MakeRequestFile(kUpdateRequestFormat, "H"));

        QCOMPARE(Contents(victim), QByteArray("precious"));
        QCOMPARE(ModeOf(victim) & 07777, mode_t(0600));

        const std::string pipe = Cache(root, "QZ-M480_P_TC_UTIL");
        QCOMPARE(::mkfifo(pipe.c_str(), 0600), 0);
        QVERIFY(!_MakeRequestFile(kUpdateRequestFormat, "P"));
        QCOMPARE(ModeOf(pipe) & 07777, mode_t(0600));
    }

    void pathMustFitTheBuffer() {
        TempRoot root;
        // "/Library/Caches/Orvane/QZ-M480/QZ-M480_" + serial + "_START_UTIL"
        // is 50 bytes around the serial; 127 bytes of text fit.
        const std::string fits(77, 's');
        const std::string tooLong(78, 's');
        std::string path;
        QVERIFY(_FormatRequestPath(kStartRequestFormat, fits, path));
        QCOMPARE(path.size(), size_t(127));
        QVERIFY(!_FormatRequestPath(kStartRequestFormat, tooLong, path));
        QVERIFY(path.empty());
        QVERIFY(!_MakeRequestFile(kStartRequestFormat, tooLong));
        QVERIFY(!Exists(Cache(root, "QZ-M480_" + tooLong + "_START_UTIL")));
        QVERIFY(!Exists(Cache(root, "QZ-M480_" + tooLong.substr(0, 77) + "_START_UTI")));
        QVERIFY(_MakeRequestFile(kOpenMarkerFormat, tooLong));  // 121 bytes
        QVERIFY(!_MakeRequestFile(kOpenMarkerFormat, std::string(1000, 's')));
    }

    void serialWithSlashMakesNoFile() {
        TempRoot root;
        std::filesystem::create_directories(Cache(root, "QZ-M480_x"));
        QVERIFY(!_MakeRequestFile(kOpenMarkerFormat, "x/../../../../escaped"));
        QVERIFY(!Exists(root / "/Library/escaped_UTIL"));
        DelegateHarness h(QStringLiteral("x/../y"));
        QCOMPARE(h.delegate->m_logFilePath, QString());
        h.delegate->repeateMethod();
        QCOMPARE(h.delegate->m_statusStr_Log, QStringLiteral("99999"));
    }

    void delegateWritesTheDesignedRequests() {
        DelegateHarness h(QStringLiteral("AB%2012"));
        const std::string open = h.CachePath("QZ-M480_AB%2012_UTIL");
        const std::string start = h.CachePath("QZ-M480_AB%2012_START_UTIL");
        const std::string update = h.CachePath("QZ-M480_AB%2012_TC_UTIL");
        QVERIFY(!Exists(start));
        h.delegate->applicationDidFinishLaunching();
        QVERIFY(Exists(start));
        QVERIFY(!Exists(update));
        QTest::mouseClick(h.delegate->updateButton, Qt::LeftButton);
        QVERIFY(Exists(update));
        // The window removes only the open marker when it quits.
        QVERIFY(_MakeRequestFile(kOpenMarkerFormat, "AB%2012"));
        h.delegate->applicationWillTerminate();
        QVERIFY(!Exists(open));
        QVERIFY(Exists(start));
        QVERIFY(Exists(update));
        h.delegate->applicationWillTerminate();  // already gone: ignored
    }

    void programMakesTheOpenMarkerFirstAndRemovesItAtQuit() {
        TempRoot root;
        QProcess window;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("CUPS_SERVER"), QStringLiteral("/nonexistent/cups.sock"));
        window.setProcessEnvironment(env);
        window.start(QStringLiteral(QZM480_STATUSINFO_PROGRAM), {QStringLiteral("AB%2012")});
        QVERIFY(window.waitForStarted());
        const std::string open = Cache(root, "QZ-M480_AB%2012_UTIL");
        QTRY_VERIFY_WITH_TIMEOUT(Exists(Cache(root, "QZ-M480_AB%2012_START_UTIL")), 10000);
        QVERIFY(Exists(open));
        QCOMPARE(ModeOf(open) & 07777, mode_t(0666));
        // Ended by the session: it still quits its normal way.
        ::kill(static_cast<pid_t>(window.processId()), SIGTERM);
        QVERIFY(window.waitForFinished(10000));
        QCOMPARE(window.exitStatus(), QProcess::NormalExit);
        QCOMPARE(window.exitCode(), 0);
        QVERIFY(!Exists(open));
    }

    void programWithoutArgumentsSaysHowToUseIt() {
        QProcess window;
        window.start(QStringLiteral(QZM480_STATUSINFO_PROGRAM), {});
        QVERIFY(window.waitForFinished(10000));
        QCOMPARE(window.exitStatus(), QProcess::NormalExit);
        QCOMPARE(window.exitCode(), 2);
        QVERIFY(window.readAllStandardError().contains("usage: StatusInfoQZ-M480"));
    }
};

QTEST_MAIN(RequestFileTest)
#include "RequestFileTest.moc"
