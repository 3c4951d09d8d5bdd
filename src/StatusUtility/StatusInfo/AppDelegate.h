// The status window's application delegate: start-up, the one-second poll of
// the printer-information file, the request files, and the presentation of
// the values on screen.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

#include "Bundle.h"

namespace qzm::statusinfo {

// Holds all state of the status window; there are no globals.
class AppDelegate : public QObject {
    Q_OBJECT

  public:
    // arguments: the process arguments (program path, serial number, printer
    // name); bundle: where the icons and the string table come from.
    AppDelegate(QStringList arguments, std::unique_ptr<Bundle> bundle, QObject* parent = nullptr);
    ~AppDelegate() override;

    // Builds the window and its elements and connects the update button.
    void awakeFromNib();

    // What quitting the program does; the program quits its event loop, tests
    // observe the call.
    void setTerminateHandler(std::function<void()> handler) { m_terminate = std::move(handler); }

    // Closing the window quits the program.
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    // Presentation (one poll's values onto the screen).
    void setIconImage();
    int32_t getMediaSizeString();
    void getStatusMessageString();
    int32_t getStatus();
    void updateUI(int32_t percentage);
    // Titles the media box from the media class; nothing calls it, since the
    // daemon does not report a media class.
    void setMediaGroupTitle();

  public slots:
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    void repeateMethod();
    void updateButtonPushed();
    void updateStatus();

  public:
    // Fields, in their designed order. Raw values ("_Log") hold the text of
    // the information file's keys.
    std::unique_ptr<Bundle> m_bundle;
    QString m_argSerialNo;
    QString m_argDeviceName;
    QString m_logFilePath;
    QPointer<QTimer> m_timer;

    QString m_modelStr_Log;
    QString m_statusStr_Log;
    QString m_messageStr_Log;
    QString m_serialStr_Log;
    QString m_sizeStr_Log;
    QString m_initialStr_Log;
    QString m_remainStr_Log;
    QString m_remainHalfStr_Log;
    QString m_totalCountStr_Log;
    QString m_mediaClassStr_Log;
    QString m_firmVersion_Log;

    QString m_statusStr;
    QString m_messageStr;
    QString m_sizeStr;
    QString m_halfSizeStr;
    QString m_initialStr;
    QString m_remainStr;
    QString m_remainHalfStr;
    QString m_totalCountStr;
    QString m_firmVersionStr;
    QString m_sizeDitailsStr;

    QPixmap m_prtStsCoolingImg;
    QPixmap m_prtStsCoverOpenImg;
    QPixmap m_prtStsIdleImg;
    QPixmap m_prtStsNoScrapBoxImg;
    QPixmap m_prtStsOfflineImg;
    QPixmap m_prtStsPaperEndImg;
    QPixmap m_prtStsPaperErrImg;
    QPixmap m_prtStsPaperJamImg;
    QPixmap m_prtStsPrintingImg;
    QPixmap m_prtStsRibbonEndImg;
    QPixmap m_prtStsRibbonErrImg;
    QPixmap m_prtStsSystemErr01Img;
    QPixmap m_stsImg;

    QPointer<QWidget> window;

    QPointer<QGroupBox> mediaInfoBox;
    QPointer<QLabel> mediaSizeLabel;
    QPointer<QLabel> mediaCountLabel;
    QPointer<QLabel> percent0Label;
    QPointer<QLabel> percent50Label;
    QPointer<QLabel> percent100Label;
    QPointer<QProgressBar> progressIndicator;
    QPointer<QGroupBox> statusBox;
    QPointer<QLabel> statusIconView;
    QPointer<QLabel> statusLabel;
    QPointer<QLabel> statusMessageLabel;
    QPointer<QGroupBox> totalCountBox;
    QPointer<QLabel> totalCountLabel;
    QPointer<QGroupBox> serialNumberbox;
    QPointer<QLabel> serialNumberLabel;
    QPointer<QPushButton> updateButton;
    QPointer<QGroupBox> firmVersionbox;
    QPointer<QLabel> firmVersionLabel;

  private:
    QString Localized(const char* key) const;
    QString Localized(const QString& key) const;
    // Stores the values of the lines of one successful read.
    void ParseInfoText(const QString& text);
    void SetOfflineValues();
    // False when the printer name is no longer in the printer list.
    bool PrinterIsPresent() const;
    void terminate();

    QStringList m_arguments;
    std::unique_ptr<Bundle> m_mainBundle;
    std::function<void()> m_terminate;
};

}  // namespace qzm::statusinfo
