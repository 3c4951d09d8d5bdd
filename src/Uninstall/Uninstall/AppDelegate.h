// The uninstaller's window and its states: Ready, Working, Done, Failed,
// Quit. The removal request runs on a worker thread; the main thread keeps
// the window responsive and polls for the outcome every half second.
#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>

#include "RequestUninstall.h"
#include "SingleInstance.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QThread;
class QWidget;

class AppDelegate : public QObject {
    Q_OBJECT

  public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Shows the window in its Ready state. Returns false, showing nothing,
    // when another copy already runs: the application then ends.
    bool applicationDidFinishLaunching();

    QWidget* window() const { return m_window.get(); }
    QPushButton* uninstallButton() const { return m_uninstallButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }
    QLabel* label() const { return m_label; }
    QProgressBar* progress() const { return m_progress; }

  public slots:
    void uninstall();
    void cancel();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void callUninstall();
    void pollRequest();
    void finishUninstall(int32_t result);

    std::unique_ptr<QWidget> m_window;
    // Children of m_window, which owns them.
    QPushButton* m_uninstallButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QLabel* m_label = nullptr;
    QProgressBar* m_progress = nullptr;

    SingleInstance m_instance;
    const HelperCommand m_command;
    QThread* m_worker = nullptr;
    QTimer m_poll;
    bool m_working = false;
};
