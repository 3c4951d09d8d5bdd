// The status window: reading the information file, the presentation of its
// values, the request files it leaves for the daemon, the presence check
// against a private print server, and the program itself.
#include <QtTest>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <limits>
#include <thread>

#include "../../Support/TempRoot.h"
#include "AppDelegate.h"
#include "CodeValue.h"
#include "InfoFileReader.h"
#include "PrivateCupsd.h"
#include "RequestFile.h"

using namespace qzm::statusinfo;
using qzm::test::TempRoot;
using Field = QString AppDelegate::*;
Q_DECLARE_METATYPE(Field)

namespace {

// A generous deadline for what other programs do, however busy the machine.
constexpr int kWaitMs = 30000;
constexpr char kUri[] = "ovbackend://Orvane%20QZ-M480?serial=AB%2012";
const QString kSerial = QStringLiteral("AB%2012");
const QString kDesk = QStringLiteral("Orvane QZ-M480 desk");

std::string Cache(const TempRoot& root, const std::string& name) {
    return root / ("/Library/Caches/Orvane/QZ-M480/" + name);
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

void Write(const std::string& path, const QByteArray& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    QFile file(QString::fromStdString(path));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
}

QByteArray Read(const std::string& path) {
    QFile file(QString::fromStdString(path));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// An information file as the daemon writes it while the printer is attached.
QByteArray DaemonFile(const char* status = "00000", const char* message = "00001",
                      const char* total = "0001234") {
    return QByteArray("#PRINTER_INFORMATION\nMODEL=\"QZ-M480\"\nPRINTER_STATUS=\"") + status +
           "\"\nPRINTER_MESSAGE=\"" + message +
           "\"\nPRINTER_VERSION=\"1.05\"\nPRINTER_SERIAL_NO=\"AB%2012\"\n\n#MEDIA_INFORMATION\n"
           "MEDIA_SIZE=\"301\"\nMEDIA_INITIAL=\"00350\"\nMEDIA_REMAIN=\"00200\"\n\n"
           "#COUNTER_INFORMATION\nTOTAL_COUNT=\"" +
           total + "\"\n\n";
}

// A window delegate as the program sets it up, in a temporary root, with the
// built icons and string table; tests run the polls themselves.
struct Window {
    explicit Window(const QString& serial = kSerial, const QString& name = {},
                    const QString& resources = QStringLiteral(QZM480_STATUSINFO_RESOURCES)) {
        QStringList arguments{QStringLiteral("StatusInfoQZ-M480"), serial};
        if (!name.isEmpty())
            arguments << name;
        d = std::make_unique<AppDelegate>(
            arguments, std::make_unique<Bundle>(resources, QStringLiteral("StatusInfoQZ-M480")));
        d->setTerminateHandler([this] { ++terminations; });
        d->awakeFromNib();
        d->applicationWillFinishLaunching();
        d->m_timer->stop();
    }
    std::string InfoPath() const { return Cache(root, "QZ-M480_AB%2012.log"); }
    void Poll(const QByteArray& info) {
        Write(InfoPath(), info);
        d->repeateMethod();
    }
    // Sets the raw values directly and runs the presentation step.
    void Show(const char* status, const char* message, const char* size = "301",
              const char* initial = "00350", const char* remain = "00200") {
        d->m_statusStr_Log = QString::fromLatin1(status);
        d->m_messageStr_Log = QString::fromLatin1(message);
        d->m_sizeStr_Log = QString::fromLatin1(size);
        d->m_initialStr_Log = QString::fromLatin1(initial);
        d->m_remainStr_Log = QString::fromLatin1(remain);
        d->updateStatus();
    }
    QString Text(const QString& key) const { return d->m_bundle->localizedString(key); }
    bool ShowsIcon(QPixmap AppDelegate::*icon) const {
        return d->statusIconView->pixmap().toImage() == (d.get()->*icon).toImage();
    }

    TempRoot root;
    std::unique_ptr<AppDelegate> d;
    int terminations = 0;
};

// Starts the window program on the offscreen platform.
void StartProgram(QProcess& window, const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    window.setProcessEnvironment(env);
    window.start(QStringLiteral(QZM480_STATUSINFO_PROGRAM), arguments);
    QVERIFY(window.waitForStarted());
}

}  // namespace

#define START_CUPSD(cupsd)         \
    qzm::test::PrivateCupsd cupsd; \
    if (!cupsd.Start())            \
        QSKIP(qPrintable(QString::fromStdString("no private cupsd: " + cupsd.Error())));

class StatusInfoTest : public QObject {
    Q_OBJECT

  private slots:
    // Every status with its text and icon file; unknown codes show nothing new.
    void statuses() {
        const char* rows[][3] = {
            {"00000", "st_00000", "Idle"},      {"00001", "st_00001", "Printing"},
            {"00500", "st_00500", "Cooling"},   {"00900", "st_00900", "Idle"},
            {"01000", "st_01000", "CoverOpen"}, {"01010", "st_01010", "NoScrapBox"},
            {"01100", "st_01100", "PaperEnd"},  {"01200", "st_01200", "RibbonEnd"},
            {"01300", "st_01300", "PaperJam"},  {"01400", "st_01400", "RibbonErr"},
            {"01500", "st_01500", "PaperErr"},  {"01600", "st_01600", "SystemErr01"},
            {"99999", "st_99999", "Offline"},   {"", "st_99999", "Offline"},
            {"abc", "st_00000", "Idle"},        {" +1000x", "st_01000", "CoverOpen"}};
        Window w;
        // At first an unknown status shows no text and the offline icon.
        w.Show("00002", "");
        QCOMPARE(w.d->statusLabel->text(), QString());
        const QString icons = QStringLiteral(QZM480_STATUSINFO_RESOURCES "/PrtSts%1.png");
        QCOMPARE(w.d->statusIconView->pixmap().toImage(), QPixmap(icons.arg("Offline")).toImage());
        auto check = [&](const QString& raw, const QString& key, const char* icon) {
            w.Show(qPrintable(raw), "");
            QVERIFY2(w.Text(key) != key, qPrintable(key));
            QCOMPARE(w.d->statusLabel->text(), w.Text(key));
            const QImage expected = QPixmap(icons.arg(icon)).toImage();
            QCOMPARE(expected.size(), QSize(64, 64));
            QVERIFY2(w.d->statusIconView->pixmap().toImage() == expected, qPrintable(raw));
        };
        for (int code : {2000, 2100, 2200, 2300, 2400, 2500, 2600, 2610, 2700, 2800, 3000}) {
            const QString raw = QStringLiteral("%1").arg(code, 5, 10, QLatin1Char('0'));
            check(raw, "st_" + raw, "SystemErr01");
        }
        for (const auto& [raw, key, icon] : rows)  // the last one known stays
            check(QString::fromLatin1(raw), QString::fromLatin1(key), icon);
        w.Show("00510", "00004");
        QCOMPARE(w.d->statusLabel->text(), w.Text("st_01000"));
        QCOMPARE(w.d->statusMessageLabel->text(), w.Text("ms_00004"));
        // Without icons and string table: the keys, and no icon.
        QTemporaryDir empty;
        Window bare(QStringLiteral("S"), {}, empty.path());
        QCOMPARE(bare.d->updateButton->text(), QStringLiteral("update"));
        QCOMPARE(bare.d->percent50Label->text(), QStringLiteral("percent50"));
        bare.Show("00000", "00001");
        QCOMPARE(bare.d->statusLabel->text(), QStringLiteral("st_00000"));
        QCOMPARE(bare.d->statusMessageLabel->text(), QStringLiteral("ms_00001"));
        QVERIFY(bare.d->statusIconView->pixmap().isNull());
    }

    void messagesAndMediaSizes() {
        Window w;
        for (int code = -1; code <= 220; ++code) {
            const bool known = (code >= 1 && code <= 6) || (code >= 100 && code <= 108) ||
                               (code >= 200 && code <= 210);
            const QString raw = QStringLiteral("%1").arg(code, 5, 10, QLatin1Char('0'));
            w.Show("00000", raw.toLatin1().constData());
            const QString expected = known ? w.Text(QStringLiteral("ms_") + raw) : QString();
            QVERIFY2(!expected.startsWith(QStringLiteral("ms_")), qPrintable(raw));
            QCOMPARE(w.d->statusMessageLabel->text(), expected);
        }
        w.Show("00000", "");
        QCOMPARE(w.d->statusMessageLabel->text(), QString());
        for (const char* size : {"200", "210", "301", "310", "0310", "300", "", "A4", "99999"}) {
            w.d->m_sizeStr_Log = QString::fromLatin1(size);
            const int code = w.d->getMediaSizeString();
            const bool known = QList<int>{200, 210, 301, 310}.contains(QByteArray(size).toInt());
            QCOMPARE(code, known ? QByteArray(size).toInt() : 0);
            QCOMPARE(w.d->m_sizeStr,
                     known ? w.Text(QStringLiteral("size_00%1").arg(code)) : QStringLiteral("---"));
            QVERIFY(!w.d->m_sizeStr.startsWith(QStringLiteral("size_")));
        }
        // An unknown medium adds its message and shows no prints left, except
        // when offline or at ribbon end.
        w.Show("00000", "", "999");
        QCOMPARE(w.d->statusMessageLabel->text(), u'\n' + w.Text("ms_00108"));
        QCOMPARE(w.d->mediaCountLabel->text(), "0 / 300  " + w.Text("sheets"));
        w.Show("00001", "00002", "");
        QCOMPARE(w.d->statusMessageLabel->text(), w.Text("ms_00002") + u'\n' + w.Text("ms_00108"));
        w.Show("01200", "00103", "");
        QCOMPARE(w.d->statusMessageLabel->text(), w.Text("ms_00103"));
        w.Show("99999", "00006", "");
        QCOMPARE(w.d->statusMessageLabel->text(), w.Text("ms_00006"));
    }

    void remainingPrints_data() {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("initial");
        QTest::addColumn<QString>("remain");
        QTest::addColumn<QString>("counts");
        QTest::addColumn<int>("bar");
        const char* rows[][6] = {
            {"reserve of 50 taken off", "00000", "00350", "00200", "150 / 300", "50"},
            {"full", "00000", "00051", "00051", "1 / 1", "100"},
            {"truncated toward zero", "00000", "00350", "00249", "199 / 300", "66"},
            {"ribbon end: none left", "01200", "00350", "00200", "0 / 300", "0"},
            {"offline: none left", "99999", "00350", "00200", "0 / 300", "0"},
            {"below the reserve", "00000", "00350", "00020", "-30 / 300", "0"},
            {"initial 50", "00000", "00050", "00040", "--- / ---", "0"},
            {"initial empty", "00000", "", "00040", "--- / ---", "0"},
            {"remain empty", "00000", "00350", "", "--- / ---", "0"},
            {"huge counts", "00000", "00051", "99999999999", "2147483597 / 1", "100"},
            {"huge negative", "00000", "00051", "-99999999999", "-2147483698 / 1", "0"},
        };
        for (const auto& r : rows)
            QTest::newRow(r[0]) << r[1] << r[2] << r[3] << r[4] << QByteArray(r[5]).toInt();
    }
    void remainingPrints() {
        QFETCH(QString, status);
        QFETCH(QString, initial);
        QFETCH(QString, remain);
        QFETCH(QString, counts);
        QFETCH(int, bar);
        Window w;
        w.Show(qPrintable(status), "", "301", qPrintable(initial), qPrintable(remain));
        QCOMPARE(w.d->mediaCountLabel->text(), counts + "  " + w.Text("sheets"));
        QCOMPARE(w.d->progressIndicator->value(), bar);
    }

    void codeValues() {
        const qint64 max = std::numeric_limits<qint64>::max(), min = -max - 1;
        const std::tuple<const char*, int32_t, qint64> rows[] = {
            {"  -12ab", -12, -12},
            {"+7", 7, 7},
            {"x1", 0, 0},
            {"-99999999999", INT32_MIN, -99999999999},
            {"99999999999999999999", INT32_MAX, max},
            {"-9223372036854775808", INT32_MIN, min},
            {"-9223372036854775809", INT32_MIN, min}};
        for (const auto& [text, value, value64] : rows) {
            QCOMPARE(_IntValue(QString::fromLatin1(text)), value);
            QCOMPARE(_IntegerValue(QString::fromLatin1(text)), value64);
        }
    }

    void pollShowsTheDaemonFile() {
        Window w;
        w.Poll(DaemonFile());
        QCOMPARE(w.d->m_modelStr_Log, QStringLiteral("QZ-M480"));
        QCOMPARE(w.d->window->windowTitle(), QStringLiteral("Orvane QZ-M480"));
        QCOMPARE(w.d->statusLabel->text(), w.Text("st_00000"));
        QVERIFY(w.ShowsIcon(&AppDelegate::m_prtStsIdleImg));
        QCOMPARE(w.d->statusMessageLabel->text(), w.Text("ms_00001"));
        QCOMPARE(w.d->mediaSizeLabel->text(), w.Text("size_00301"));
        QCOMPARE(w.d->mediaCountLabel->text(), "150 / 300  " + w.Text("sheets"));
        QCOMPARE(w.d->progressIndicator->value(), 50);
        QVERIFY(w.d->progressIndicator->minimum() == 0 && w.d->progressIndicator->maximum() == 100);
        QCOMPARE(w.d->m_timer->interval(), 1000);
        QCOMPARE(w.d->totalCountLabel->text(), QStringLiteral("1234"));
        QCOMPARE(w.d->serialNumberLabel->text(), QStringLiteral("AB 12"));
        QCOMPARE(w.d->firmVersionLabel->text(), QStringLiteral("1.05"));
        // A pass without a count keeps the last one while online.
        w.Poll(DaemonFile("00001", "00002", ""));
        QCOMPARE(w.d->totalCountLabel->text(), QStringLiteral("1234"));
        // Partial and empty files keep the values they do not name.
        w.Poll("PRINTER_STATUS=\"01000\"\n");
        QCOMPARE(w.d->statusLabel->text(), w.Text("st_01000"));
        QCOMPARE(w.d->firmVersionLabel->text(), QStringLiteral("1.05"));
        w.Poll("PRINTER_STATUS=\"00000\"\nPRINTER_VERSION=\"1.");
        QCOMPARE(w.d->m_firmVersion_Log, QStringLiteral("1."));
        w.Poll("");
        QCOMPARE(w.d->m_statusStr_Log, QStringLiteral("00000"));
        QCOMPARE(w.d->m_serialStr_Log, QStringLiteral("AB 12"));

        // The file gone: offline values, the count hidden...
        QVERIFY(QFile::remove(QString::fromStdString(w.InfoPath())));
        w.d->repeateMethod();
        QCOMPARE(w.d->m_statusStr_Log, QStringLiteral("99999"));
        QCOMPARE(w.d->m_messageStr_Log, QStringLiteral("00006"));
        QCOMPARE(w.d->statusMessageLabel->text(), w.Text("ms_00006"));
        QVERIFY(w.ShowsIcon(&AppDelegate::m_prtStsOfflineImg));
        for (QLabel* label : {w.d->mediaSizeLabel.data(), w.d->serialNumberLabel.data(),
                              w.d->firmVersionLabel.data(), w.d->totalCountLabel.data()})
            QCOMPARE(label->text(), QStringLiteral("---"));
        QCOMPARE(w.d->mediaCountLabel->text(), "--- / ---  " + w.Text("sheets"));
        QCOMPARE(w.d->progressIndicator->value(), 0);
        // ...and back when online again, until a new count comes.
        w.Poll(DaemonFile("00000", "00001", ""));
        QCOMPARE(w.d->totalCountLabel->text(), QStringLiteral("1234"));
        w.Poll(DaemonFile("00000", "00001", "12345678901"));
        QCOMPARE(w.d->totalCountLabel->text(), QStringLiteral("12345678901"));
        Window never;
        never.Poll(DaemonFile("00000", "00001", ""));
        QCOMPARE(never.d->totalCountLabel->text(), QStringLiteral("---"));
    }

    void valuesAreTakenLiterally_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Field>("field");
        QTest::addColumn<QString>("value");
        const Field version = &AppDelegate::m_firmVersion_Log;
        const Field serial = &AppDelegate::m_serialStr_Log;
        const struct {
            const char* name;
            const char* text;
            Field field;
            const char* value;
        } rows[] = {
            {"quote inside", "PRINTER_VERSION=\"1.\"05\"", version, "1.05"},
            {"several %20 in the serial", "PRINTER_SERIAL_NO=\"A%20B%20C\"", serial, "A B C"},
            {"%20 stays elsewhere", "PRINTER_VERSION=\"1%2005\"", version, "1%2005"},
            {"carriage return stays", "PRINTER_VERSION=\"1.05\"\r", version, "1.05\r"},
            {"lower-case key", "printer_version=\"9\"", version, ""},
            {"leading blank", " PRINTER_VERSION=\"9\"", version, ""},
            {"last of two", "PRINTER_VERSION=\"1\"\nPRINTER_VERSION=\"2\"", version, "2"},
            {"unquoted", "PRINTER_VERSION=3.1", version, "3.1"},
            {"remain", "MEDIA_REMAIN_HALF=\"7\"\nMEDIA_REMAIN=\"00200\"",
             &AppDelegate::m_remainStr_Log, "00200"},
            {"remain half", "MEDIA_REMAIN=\"00200\"\nMEDIA_REMAIN_HALF=\"7\"",
             &AppDelegate::m_remainHalfStr_Log, "7"},
            {"media class", "MEDIA_CLASS=\"3\"", &AppDelegate::m_mediaClassStr_Log, "3"},
        };
        for (const auto& r : rows)
            QTest::newRow(r.name) << QByteArray(r.text) << r.field << QString::fromLatin1(r.value);
    }
    void valuesAreTakenLiterally() {
        QFETCH(QByteArray, text);
        QFETCH(Field, field);
        QFETCH(QString, value);
        Window w;
        w.Poll(text + '\n');
        QCOMPARE(w.d.get()->*field, value);
    }

    // The cache folder is world-writable: whatever lies at the file's name
    // must neither freeze nor exhaust the window, nor be shown as markup.
    void untrustedFiles() {
        Window w;
        w.Poll(DaemonFile());
        QCOMPARE(::truncate(w.InfoPath().c_str(), qint64(2) << 30), 0);  // sparse: no disk
        w.d->repeateMethod();
        QCOMPARE(w.d->m_totalCountStr_Log, QStringLiteral("0001234"));
        // A line cut by the read limit is dropped.
        w.Poll("PRINTER_STATUS=\"00001\"\n" + QByteArray(kInfoFileReadLimit - 34, 'X') +
               "\nPRINTER_VERSION=\"0123456789abcdef\"\n");
        QCOMPARE(w.d->m_statusStr_Log, QStringLiteral("00001"));
        QCOMPARE(w.d->m_firmVersion_Log, QStringLiteral("1.05"));
        // Text unreadable twice, and a pipe, give the offline values.
        w.Poll("PRINTER_STATUS=\"00001\"\nPRINTER_VERSION=\"\xc3\"\n");
        QCOMPARE(w.d->m_statusStr_Log, QStringLiteral("99999"));
        QCOMPARE(w.d->m_firmVersion_Log, QString());
        w.Poll(DaemonFile());
        QVERIFY(QFile::remove(QString::fromStdString(w.InfoPath())));
        QCOMPARE(::mkfifo(w.InfoPath().c_str(), 0666), 0);
        w.d->repeateMethod();
        QCOMPARE(w.d->m_statusStr_Log, QStringLiteral("99999"));
        QVERIFY(QFile::remove(QString::fromStdString(w.InfoPath())));

        w.d->window->show();
        const int width = w.d->window->width();
        w.Poll("PRINTER_VERSION=\"<b>1</b><img src=x>\"\nPRINTER_SERIAL_NO=\"" +
               QByteArray(5000, 'W') + "\"\n");
        QCoreApplication::processEvents();
        QCOMPARE(w.d->window->width(), width);
        QCOMPARE(w.d->firmVersionLabel->text(), QStringLiteral("<b>1</b><img src=x>"));
        for (QLabel* label : w.d->window->findChildren<QLabel*>()) {
            if (label != w.d->statusIconView)
                QCOMPARE(label->textFormat(), Qt::PlainText);
        }
    }

    // Text read while the daemon rewrites the file is read once more: the
    // new file goes into place as soon as the window has closed the old one.
    void unreadableTextIsReadAgain() {
        Window w;
        Write(w.InfoPath(), "PRINTER_STATUS=\"\xff\xfe\"\n");
        const std::string aside = w.InfoPath() + ".new";
        Write(aside, DaemonFile("01300", "00104"));
        const int watch = ::inotify_init1(IN_CLOEXEC);
        QVERIFY(::inotify_add_watch(watch, w.InfoPath().c_str(), IN_CLOSE_NOWRITE) >= 0);
        std::thread daemon([&] {
            pollfd ready{watch, POLLIN, 0};
            char event[4096];
            if (::poll(&ready, 1, 20000) > 0 && ::read(watch, event, sizeof event) > 0)
                ::rename(aside.c_str(), w.InfoPath().c_str());
        });
        w.d->repeateMethod();
        daemon.join();
        ::close(watch);
        QCOMPARE(w.d->m_statusStr_Log, QStringLiteral("01300"));
    }

    void requestFiles() {
        TempRoot root;
        const mode_t old = ::umask(022);
        QVERIFY(_MakeRequestFile(kOpenMarkerFormat, "AB%2012"));
        ::umask(old);
        const std::string open = Cache(root, "QZ-M480_AB%2012_UTIL");
        QCOMPARE(ModeOf(open), mode_t(S_IFREG | 0666));
        QCOMPARE(ModeOf(Cache(root, "")) & 07777, mode_t(0777));
        Write(open, "left over");  // made again: emptied
        QVERIFY(_MakeRequestFile(kOpenMarkerFormat, "AB%2012"));
        QCOMPARE(Read(open), QByteArray());

        // Planted links, hard links and pipes are refused and left as they are.
        const std::string victim = root / "/victim";
        Write(victim, "precious");
        ::chmod(victim.c_str(), 0600);
        QCOMPARE(::symlink(victim.c_str(), Cache(root, "QZ-M480_S_TC_UTIL").c_str()), 0);
        QCOMPARE(::symlink((root / "/made").c_str(), Cache(root, "QZ-M480_D_TC_UTIL").c_str()), 0);
        QCOMPARE(::link(victim.c_str(), Cache(root, "QZ-M480_H_TC_UTIL").c_str()), 0);
        QCOMPARE(::mkfifo(Cache(root, "QZ-M480_P_TC_UTIL").c_str(), 0600), 0);
        for (const char* serial : {"S", "D", "H", "P"})
            QVERIFY2(!_MakeRequestFile(kUpdateRequestFormat, serial), serial);
        QCOMPARE(ModeOf(root / "/made"), mode_t(0));
        QCOMPARE(Read(victim), QByteArray("precious"));
        QCOMPARE(ModeOf(victim), mode_t(S_IFREG | 0600));
        QCOMPARE(ModeOf(Cache(root, "QZ-M480_P_TC_UTIL")), mode_t(S_IFIFO | 0600));

        // The path must fit 127 bytes: 50 of them around the serial.
        std::string path;
        QVERIFY(_FormatRequestPath(kStartRequestFormat, std::string(77, 's'), path));
        QCOMPARE(path.size(), size_t(127));
        QVERIFY(!_FormatRequestPath(kStartRequestFormat, std::string(78, 's'), path));
        QVERIFY(path.empty());
        QVERIFY(!_MakeRequestFile(kStartRequestFormat, std::string(78, 's')));
        QCOMPARE(ModeOf(Cache(root, "QZ-M480_" + std::string(77, 's') + "_START_UTI")), mode_t(0));
        QVERIFY(_MakeRequestFile(kOpenMarkerFormat, std::string(78, 's')));  // 121 bytes
        // A serial holding a slash names no file, and no information file.
        std::filesystem::create_directories(Cache(root, "QZ-M480_x"));
        QVERIFY(!_MakeRequestFile(kOpenMarkerFormat, "x/../../../../escaped"));
        QCOMPARE(ModeOf(root / "/Library/escaped_UTIL"), mode_t(0));
        Window slash(QStringLiteral("x/../y"));
        QCOMPARE(slash.d->m_logFilePath, QString());
    }

    void windowLeavesTheDesignedRequests() {
        Window w;
        const std::string start = Cache(w.root, "QZ-M480_AB%2012_START_UTIL");
        const std::string update = Cache(w.root, "QZ-M480_AB%2012_TC_UTIL");
        w.d->applicationDidFinishLaunching();
        QVERIFY(ModeOf(start) != 0);
        QCOMPARE(ModeOf(update), mode_t(0));
        QTest::mouseClick(w.d->updateButton, Qt::LeftButton);
        QVERIFY(ModeOf(update) != 0);
        // Quitting removes the open marker only, and again does no harm.
        QVERIFY(_MakeRequestFile(kOpenMarkerFormat, "AB%2012"));
        w.d->applicationWillTerminate();
        w.d->applicationWillTerminate();
        QCOMPARE(ModeOf(Cache(w.root, "QZ-M480_AB%2012_UTIL")), mode_t(0));
        QVERIFY(ModeOf(start) != 0 && ModeOf(update) != 0);
    }

    // The window quits when its printer's name leaves the printer list, as it
    // stands on the print server; not without a name or a print server.
    void presenceFollowsThePrinterList() {
        {
            START_CUPSD(cupsd);
            QVERIFY(cupsd.AddQueue("Other", "ovbackend://Orvane%20QZ-M480?serial=ZZ", "Other"));
            QVERIFY(cupsd.AddQueue("QZ_M480", kUri, kDesk.toStdString()));
            Window present(kSerial, kDesk), lower(kSerial, kDesk.toLower()), alone(kSerial);
            for (Window* w : {&present, &lower, &alone})
                w->d->repeateMethod();
            QCOMPARE(present.terminations, 0);
            QCOMPARE(present.d->statusLabel->text(), present.Text("st_99999"));
            QCOMPARE(lower.terminations, 1);
            QCOMPARE(alone.terminations, 0);
            QVERIFY(cupsd.SetInfo("QZ_M480", "Orvane QZ-M480 shop"));
            present.d->repeateMethod();
            QCOMPARE(present.terminations, 1);
            QVERIFY(!present.d->m_timer->isActive());
        }
        qzm::test::UnreachableCupsServer none;
        Window w(kSerial, kDesk);
        w.d->repeateMethod();
        QCOMPARE(w.terminations, 0);
    }

    // The program makes the open marker first; it quits its normal way,
    // removing the marker, when the session ends it and when its queue goes.
    void program() {
        QProcess usage;
        usage.start(QStringLiteral(QZM480_STATUSINFO_PROGRAM), {});
        QVERIFY(usage.waitForFinished(kWaitMs));
        QCOMPARE(usage.exitCode(), 2);
        QVERIFY(usage.readAllStandardError().contains("usage: StatusInfoQZ-M480"));

        START_CUPSD(cupsd);
        QVERIFY(cupsd.AddQueue("QZ_M480", kUri, kDesk.toStdString()));
        TempRoot root;
        const std::string open = Cache(root, "QZ-M480_AB%2012_UTIL");
        const std::string other = Cache(root, "QZ-M480_CD_UTIL");
        QProcess named, alone;
        StartProgram(named, {kSerial, kDesk});
        StartProgram(alone, {QStringLiteral("CD")});
        QTRY_VERIFY_WITH_TIMEOUT(ModeOf(Cache(root, "QZ-M480_CD_START_UTIL")) != 0, kWaitMs);
        QCOMPARE(ModeOf(other), mode_t(S_IFREG | 0666));
        ::kill(static_cast<pid_t>(alone.processId()), SIGTERM);
        QVERIFY(alone.waitForFinished(kWaitMs));
        QCOMPARE(alone.exitStatus(), QProcess::NormalExit);
        QCOMPARE(alone.exitCode(), 0);
        QCOMPARE(ModeOf(other), mode_t(0));

        QTRY_VERIFY_WITH_TIMEOUT(ModeOf(Cache(root, "QZ-M480_AB%2012_START_UTIL")) != 0, kWaitMs);
        QCOMPARE(named.state(), QProcess::Running);
        QVERIFY(cupsd.DeleteQueue("QZ_M480"));
        QVERIFY(named.waitForFinished(kWaitMs));
        QCOMPARE(named.exitCode(), 0);
        QCOMPARE(ModeOf(open), mode_t(0));
    }
};

QTEST_MAIN(StatusInfoTest)
#include "StatusInfoTest.moc"
