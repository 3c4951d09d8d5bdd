// The status window: reading the information file, the presentation of its
// values, the request files it leaves for the daemon, the presence check
// against a private print server, and the program itself.
#include <QtTest>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
    void Show(const QString& status, const QString& message, const QString& size = "301",
              const QString& initial = "00350", const QString& remain = "00200") {
        d->m_statusStr_Log = status;
        d->m_messageStr_Log = message;
        d->m_sizeStr_Log = size;
        d->m_initialStr_Log = initial;
        d->m_remainStr_Log = remain;
        d->updateStatus();
    }
    QString Text(const QString& key) const { return d->m_bundle->localizedString(key); }
    // The texts on screen, in one line, the status icon by its file name.
    QString Screen(const QString& expectedIcon) const {
        const QImage expected =
            QPixmap(QStringLiteral(QZM480_STATUSINFO_RESOURCES "/PrtSts%1.png").arg(expectedIcon))
                .toImage();
        const bool icon = !expected.isNull() && d->statusIconView->pixmap().toImage() == expected;
        return QStringList{d->statusLabel->text(),
                           d->statusMessageLabel->text(),
                           d->mediaSizeLabel->text(),
                           d->mediaCountLabel->text(),
                           QString::number(d->progressIndicator->value()),
                           d->totalCountLabel->text(),
                           d->serialNumberLabel->text(),
                           d->firmVersionLabel->text(),
                           icon ? expectedIcon : "other icon"}
            .join(u'|');
    }

    TempRoot root;
    std::unique_ptr<AppDelegate> d;
    int terminations = 0;
};

}  // namespace

class StatusInfoTest : public QObject {
    Q_OBJECT

  private slots:
    // Every status with its text and icon file (the last known one stays for
    // an unknown code), every message and media size with its text.
    void presentation() {
        const char* rows[][3] = {
            {"00000", "st_00000", "Idle"},      {"00001", "st_00001", "Printing"},
            {"00500", "st_00500", "Cooling"},   {"00900", "st_00900", "Idle"},
            {"01000", "st_01000", "CoverOpen"}, {"01010", "st_01010", "NoScrapBox"},
            {"01100", "st_01100", "PaperEnd"},  {"01200", "st_01200", "RibbonEnd"},
            {"01300", "st_01300", "PaperJam"},  {"01400", "st_01400", "RibbonErr"},
            {"01500", "st_01500", "PaperErr"},  {"01600", "st_01600", "SystemErr01"},
            {"99999", "st_99999", "Offline"},   {"", "st_99999", "Offline"},
            {"abc", "st_00000", "Idle"},        {" +1000x", "st_01000", "CoverOpen"},
            {"00510", "st_01000", "CoverOpen"}, {"00002", "st_01000", "CoverOpen"}};
        Window w;
        w.Show("00002", "");  // nothing known yet: no text, the offline icon
        QVERIFY(w.d->statusLabel->text().isEmpty() && w.Screen("Offline").endsWith("|Offline"));
        auto check = [&](const QString& raw, const QString& key, const QString& icon) {
            w.Show(raw, "");
            QVERIFY2(w.Text(key) != key, qPrintable(key));
            QCOMPARE(w.d->statusLabel->text(), w.Text(key));
            QVERIFY2(w.Screen(icon).endsWith(u'|' + icon), qPrintable(raw));
        };
        for (const auto& [raw, key, icon] : rows)
            check(raw, key, icon);
        for (int code : {2000, 2100, 2200, 2300, 2400, 2500, 2600, 2610, 2700, 2800, 3000}) {
            const QString raw = QStringLiteral("%1").arg(code, 5, 10, QLatin1Char('0'));
            check(raw, "st_" + raw, "SystemErr01");
        }
        for (int code = -1; code <= 220; ++code) {
            const bool known = (code >= 1 && code <= 6) || (code >= 100 && code <= 108) ||
                               (code >= 200 && code <= 210);
            const QString raw = QStringLiteral("%1").arg(code, 5, 10, QLatin1Char('0'));
            w.Show("00000", raw);
            const QString expected = known ? w.Text(QStringLiteral("ms_") + raw) : QString();
            QVERIFY2(!expected.startsWith(QStringLiteral("ms_")), qPrintable(raw));
            QCOMPARE(w.d->statusMessageLabel->text(), expected);
        }
        for (const char* size : {"200", "210", "301", "310", "0310", "300", "", "A4", "99999"}) {
            w.d->m_sizeStr_Log = QString::fromLatin1(size);
            const int code = w.d->getMediaSizeString();
            const bool known = QList<int>{200, 210, 301, 310}.contains(QByteArray(size).toInt());
            QCOMPARE(code, known ? QByteArray(size).toInt() : 0);
            QCOMPARE(w.d->m_sizeStr,
                     known ? w.Text(QStringLiteral("size_00%1").arg(code)) : QStringLiteral("---"));
            QVERIFY(!w.d->m_sizeStr.startsWith(QStringLiteral("size_")));
        }
        // The media box is titled with the media class, when it is known.
        const char* classes[][2] = {
            {"1", "mediaDigital"}, {"01023", "mediaSilverPearl"}, {"7", ""}, {"", ""}};
        for (const auto& [media, key] : classes) {
            w.d->m_mediaClassStr_Log = QString::fromLatin1(media);
            w.d->setMediaGroupTitle();
            QCOMPARE(w.d->mediaInfoBox->title(),
                     w.Text("mediaGroupTitle") + "[ " + (*key ? w.Text(key) : "---") + " ]");
        }
        // An unknown medium adds its message and leaves no prints, except when
        // offline or at ribbon end.
        const QString unknown = w.Text("ms_00108");
        const std::tuple<const char*, const char*, QString> media[] = {
            {"00000", "", u'\n' + unknown},
            {"00001", "00002", w.Text("ms_00002") + u'\n' + unknown},
            {"01200", "00103", w.Text("ms_00103")},
            {"99999", "00006", w.Text("ms_00006")}};
        for (const auto& [status, message, shown] : media) {
            w.Show(status, message, "999");
            QCOMPARE(w.d->statusMessageLabel->text(), shown);
        }
        w.Show("00000", "", "999");
        QCOMPARE(w.d->mediaCountLabel->text(), "0 / 300  " + w.Text("sheets"));
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
    // Prints left from status, initial and remaining count: counts and bar.
    void remainingPrints() {
        const char* rows[][5] = {
            {"00000", "00051", "00051", "1 / 1", "100"},     // a reserve of 50 taken off
            {"00000", "00350", "00249", "199 / 300", "66"},  // truncated toward zero
            {"01200", "00350", "00200", "0 / 300", "0"},     // none at ribbon end, offline
            {"99999", "00350", "00200", "0 / 300", "0"},
            {"00000", "00350", "00020", "-30 / 300", "0"},
            {"00000", "00050", "00040", "--- / ---", "0"},
            {"00000", "", "00040", "--- / ---", "0"},
            {"00000", "00350", "", "--- / ---", "0"},
            {"00000", "00051", "99999999999", "2147483597 / 1", "100"},
            {"00000", "00051", "-99999999999", "-2147483698 / 1", "0"}};
        Window w;
        for (const auto& [status, initial, remain, counts, bar] : rows) {
            w.Show(status, "", "301", initial, remain);
            QCOMPARE(w.d->mediaCountLabel->text(), counts + QString("  ") + w.Text("sheets"));
            QCOMPARE(w.d->progressIndicator->value(), QByteArray(bar).toInt());
        }
        const qint64 max = std::numeric_limits<qint64>::max(), min = -max - 1;
        const std::tuple<const char*, int32_t, qint64> values[] = {
            {"  -12ab", -12, -12},
            {"+7", 7, 7},
            {"x1", 0, 0},
            {"-99999999999", INT32_MIN, -99999999999},
            {"99999999999999999999", INT32_MAX, max},
            {"9223372036854775800", INT32_MAX, max - 7},
            {"-9223372036854775808", INT32_MIN, min},
            {"-9223372036854775809", INT32_MIN, min},
            {nullptr, 0, 0}};  // a null string, as before the first read
        for (const auto& [text, value, value64] : values) {
            QCOMPARE(_IntValue(QString::fromLatin1(text)), value);
            QCOMPARE(_IntegerValue(QString::fromLatin1(text)), value64);
        }
    }

    void pollShowsTheDaemonFile() {
        Window w;
        w.Poll(DaemonFile());
        const QString sheets = "  " + w.Text("sheets");
        QCOMPARE(w.d->m_modelStr_Log, QStringLiteral("QZ-M480"));
        QCOMPARE(w.Screen("Idle"),
                 QStringList({w.Text("st_00000"), w.Text("ms_00001"), w.Text("size_00301"),
                              "150 / 300" + sheets, "50", "1234", "AB 12", "1.05", "Idle"})
                     .join(u'|'));
        QVERIFY(w.d->progressIndicator->minimum() == 0 && w.d->progressIndicator->maximum() == 100);
        QCOMPARE(w.d->m_timer->interval(), 1000);
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
        QCOMPARE(w.d->m_statusStr_Log + w.d->m_messageStr_Log, QStringLiteral("9999900006"));
        QCOMPARE(w.Screen("Offline"), w.Text("st_99999") + u'|' + w.Text("ms_00006") +
                                          "|---|--- / ---" + sheets + "|0|---|---|---|Offline");
        // ...and back when online again, until a new count comes.
        w.Poll(DaemonFile("00000", "00001", ""));
        QCOMPARE(w.d->totalCountLabel->text(), QStringLiteral("1234"));
        w.Poll(DaemonFile("00000", "00001", "12345678901"));
        QCOMPARE(w.d->totalCountLabel->text(), QStringLiteral("12345678901"));
        Window never;
        never.Poll(DaemonFile("00000", "00001", ""));
        QCOMPARE(never.d->totalCountLabel->text(), QStringLiteral("---"));
    }

    // Values are taken literally: every quote dropped, only the serial's
    // spaces decoded, a carriage return kept; keys match exactly from the
    // start of a line, and the last one counts.
    void valuesAreTakenLiterally() {
        Window w;
        w.Poll(
            "PRINTER_VERSION=\"1\"\nPRINTER_VERSION=\"1.\"05\"\nprinter_version=\"9\"\n"
            " PRINTER_VERSION=\"9\"\nPRINTER_SERIAL_NO=\"A%20B%20C\"\nMODEL=Q%20Z\r\n"
            "MEDIA_CLASS=\"3\"\nMEDIA_REMAIN_HALF=\"7\"\nMEDIA_REMAIN=\"00200\"\n"
            "MEDIA_REMAIN_HALF=\"7\"\n");
        const QStringList values{w.d->m_firmVersion_Log, w.d->m_serialStr_Log,
                                 w.d->m_modelStr_Log,    w.d->m_mediaClassStr_Log,
                                 w.d->m_remainStr_Log,   w.d->m_remainHalfStr_Log};
        QCOMPARE(values, QStringList({"1.05", "A B C", "Q%20Z\r", "3", "00200", "7"}));
    }

    // The cache folder is world-writable: whatever lies at the file's name
    // must neither freeze nor exhaust the window, nor be shown as markup.
    void untrustedFiles() {
        Window w;
        w.Poll(DaemonFile());
        QCOMPARE(::truncate(w.InfoPath().c_str(), qint64(2) << 30), 0);  // sparse: no disk
        w.d->repeateMethod();
        QCOMPARE(w.d->m_totalCountStr_Log, QStringLiteral("0001234"));
        // A line cut by the read limit is dropped, one that ends at the limit
        // is kept, and a first line longer than the limit leaves nothing to
        // read, not half a character.
        w.Poll(QByteArray(kInfoFileReadLimit - 42, 'X') + "\nPRINTER_STATUS=00001\n" +
               "PRINTER_VERSION=\"0123456789abcdef\"\n");
        QCOMPARE(w.d->m_statusStr_Log, QStringLiteral("00001"));
        QCOMPARE(w.d->m_firmVersion_Log, QStringLiteral("1.05"));
        w.Poll(QByteArray(kInfoFileReadLimit - 22, '\n') + "PRINTER_VERSION=\"2.00\"");
        QCOMPARE(w.d->m_firmVersion_Log, QStringLiteral("2.00"));
        w.Poll(QByteArray("\xc3\xa9").repeated(kInfoFileReadLimit));
        QCOMPARE(w.d->m_statusStr_Log, QStringLiteral("00001"));
        // Text unreadable twice, a pipe and a socket give the offline values.
        w.Poll("PRINTER_STATUS=\"00001\"\nPRINTER_VERSION=\"\xc3\"\n");
        QCOMPARE(w.d->m_statusStr_Log, QStringLiteral("99999"));
        QCOMPARE(w.d->m_firmVersion_Log, QString());
        w.Poll(DaemonFile());
        QVERIFY(QFile::remove(QString::fromStdString(w.InfoPath())));
        QCOMPARE(::mkfifo(w.InfoPath().c_str(), 0666), 0);
        w.d->repeateMethod();
        QCOMPARE(w.d->m_statusStr_Log, QStringLiteral("99999"));
        QVERIFY(QFile::remove(QString::fromStdString(w.InfoPath())));
        // A socket cannot even be opened.
        w.Poll(DaemonFile());
        QVERIFY(QFile::remove(QString::fromStdString(w.InfoPath())));
        const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        w.InfoPath().copy(address.sun_path, sizeof(address.sun_path) - 1);
        QCOMPARE(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        w.d->repeateMethod();
        ::close(socket);
        QCOMPARE(w.d->m_statusStr_Log, QStringLiteral("99999"));
        QVERIFY(QFile::remove(QString::fromStdString(w.InfoPath())));
        // A file that fails to read (a link to unmapped memory) as well.
        w.Poll(DaemonFile());
        QVERIFY(QFile::remove(QString::fromStdString(w.InfoPath())));
        QCOMPARE(::symlink("/proc/self/mem", w.InfoPath().c_str()), 0);
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
        QCOMPARE(QFileInfo(QString::fromStdString(open)).size(), 0);

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
        QVERIFY(ModeOf(victim) == (S_IFREG | 0600) && QFileInfo(victim.c_str()).size() == 8);
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
        QVERIFY(!_FormatRequestPath(kStartRequestFormat, "x/y", path));
        std::filesystem::create_directories(Cache(root, "QZ-M480_x"));
        QVERIFY(!_MakeRequestFile(kOpenMarkerFormat, "x/../../../../escaped"));
        QCOMPARE(ModeOf(root / "/Library/escaped_UTIL"), mode_t(0));
        Window slash(QStringLiteral("x/../y"));
        QCOMPARE(slash.d->m_logFilePath, QString());

        // The window leaves the start request, and the update request on the
        // button; quitting removes the open marker only, and again does no harm.
        Window w;
        const std::string start = Cache(w.root, "QZ-M480_AB%2012_START_UTIL");
        const std::string update = Cache(w.root, "QZ-M480_AB%2012_TC_UTIL");
        w.d->applicationDidFinishLaunching();
        QVERIFY(ModeOf(start) != 0 && ModeOf(update) == 0);
        QTest::mouseClick(w.d->updateButton, Qt::LeftButton);
        QVERIFY(ModeOf(update) != 0);
        QVERIFY(_MakeRequestFile(kOpenMarkerFormat, "AB%2012"));
        w.d->applicationWillTerminate();
        w.d->applicationWillTerminate();
        QCOMPARE(ModeOf(Cache(w.root, "QZ-M480_AB%2012_UTIL")), mode_t(0));
        QVERIFY(ModeOf(start) != 0 && ModeOf(update) != 0);
    }

    // The window quits when its printer's name leaves the printer list, as it
    // stands on the print server; not without a name or a print server. The
    // program makes the open marker first; it quits its normal way, removing
    // the marker, when the session ends it and when its queue goes.
    void presenceAndProgram() {
        QProcess usage, named, alone;
        usage.start(QStringLiteral(QZM480_STATUSINFO_PROGRAM), {});
        QVERIFY(usage.waitForFinished(kWaitMs));
        QCOMPARE(usage.exitCode(), 2);
        QVERIFY(usage.readAllStandardError().contains("usage: StatusInfoQZ-M480"));
        {
            qzm::test::UnreachableCupsServer none;
            Window w(kSerial, kDesk);
            w.d->repeateMethod();
            QCOMPARE(w.terminations, 0);
        }
        qzm::test::PrivateCupsd cupsd;
        if (!cupsd.Start())
            QSKIP(qPrintable(QString::fromStdString("no private cupsd: " + cupsd.Error())));
        QVERIFY(cupsd.AddQueue("Other", "ovbackend://Orvane%20QZ-M480?serial=ZZ", "Other"));
        QVERIFY(cupsd.AddQueue("QZ_M480", kUri, kDesk.toStdString()));
        Window present(kSerial, kDesk), lower(kSerial, kDesk.toLower()), unnamed(kSerial);
        for (Window* w : {&present, &lower, &unnamed})
            w->d->repeateMethod();
        QCOMPARE(present.d->statusLabel->text(), present.Text("st_99999"));
        QCOMPARE(QList<int>({present.terminations, lower.terminations, unnamed.terminations}),
                 QList<int>({0, 1, 0}));
        QVERIFY(cupsd.SetInfo("QZ_M480", "Orvane QZ-M480 shop"));
        present.d->repeateMethod();
        QCOMPARE(present.terminations, 1);
        QVERIFY(!present.d->m_timer->isActive());
        QVERIFY(cupsd.SetInfo("QZ_M480", kDesk.toStdString()));

        const std::string open = Cache(unnamed.root, "QZ-M480_AB%2012_UTIL");
        const std::string other = Cache(unnamed.root, "QZ-M480_CD_UTIL");
        named.start(QStringLiteral(QZM480_STATUSINFO_PROGRAM), {kSerial, kDesk});
        alone.start(QStringLiteral(QZM480_STATUSINFO_PROGRAM), {QStringLiteral("CD")});
        QTRY_VERIFY_WITH_TIMEOUT(ModeOf(Cache(unnamed.root, "QZ-M480_CD_START_UTIL")) != 0,
                                 kWaitMs);
        QCOMPARE(ModeOf(other), mode_t(S_IFREG | 0666));
        ::kill(static_cast<pid_t>(alone.processId()), SIGTERM);
        QVERIFY(alone.waitForFinished(kWaitMs));
        QVERIFY(alone.exitStatus() == QProcess::NormalExit && alone.exitCode() == 0);
        QCOMPARE(ModeOf(other), mode_t(0));
        QTRY_VERIFY_WITH_TIMEOUT(ModeOf(Cache(unnamed.root, "QZ-M480_AB%2012_START_UTIL")) != 0,
                                 kWaitMs);
        QCOMPARE(named.state(), QProcess::Running);
        QVERIFY(cupsd.DeleteQueue("QZ_M480"));
        QVERIFY(named.waitForFinished(kWaitMs));
        QCOMPARE(named.exitCode(), 0);
        QCOMPARE(ModeOf(open), mode_t(0));
    }
};

QTEST_MAIN(StatusInfoTest)
#include "StatusInfoTest.moc"
