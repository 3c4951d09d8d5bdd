#include "AppDelegate.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include "UninstallState.h"

std::atomic<bool> g_process{false};
std::atomic<int32_t> g_Ret{0};

namespace {

// The new state must be on screen before the work starts.
constexpr int kStartDelayMs = 500;
// How often the main thread looks for the worker's outcome.
constexpr int kPollMs = 500;

}  // namespace

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent), m_window(new QWidget), m_command(HelperCommand::Installed()) {
    m_window->setWindowTitle(QStringLiteral("UninstallQZ-M480"));
    m_label = new QLabel(m_window.get());
    m_label->setObjectName(QStringLiteral("label"));
    m_label->setWordWrap(true);
    m_label->setMinimumWidth(360);
    m_progress = new QProgressBar(m_window.get());
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 0);  // busy: no known end
    m_progress->setTextVisible(false);
    m_uninstallButton = new QPushButton(QStringLiteral("Uninstall"), m_window.get());
    m_uninstallButton->setObjectName(QStringLiteral("uninstallButton"));
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), m_window.get());
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_uninstallButton);
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(m_window.get());
    layout->addWidget(m_label);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);

    connect(m_uninstallButton, &QPushButton::clicked, this, &AppDelegate::uninstall);
    connect(m_cancelButton, &QPushButton::clicked, this, &AppDelegate::cancel);
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &AppDelegate::pollRequest);
    m_window->installEventFilter(this);
}

AppDelegate::~AppDelegate() {
    // A removal under way finishes: stopping the helper half-way helps no one.
    if (m_worker != nullptr) {
        m_worker->wait();
        delete m_worker;
    }
}

bool AppDelegate::applicationDidFinishLaunching() {
    if (!m_instance.TryAcquire())
        return false;

    g_Ret.store(0, std::memory_order_relaxed);
    g_process.store(true, std::memory_order_release);

    m_progress->hide();
    m_label->setText(qtTrId("FIRST_MSG"));
    // The cancel button is the one that looks default.
    m_cancelButton->setDefault(true);
    m_cancelButton->setFocus();

    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    return true;
}

void AppDelegate::uninstall() {
    g_Ret.store(0, std::memory_order_relaxed);
    g_process.store(true, std::memory_order_release);
    m_working = true;

    m_uninstallButton->setEnabled(false);
    m_cancelButton->setEnabled(false);
    m_label->setText(qtTrId("EXEC_MSG"));
    m_progress->show();
    m_label->repaint();
    m_progress->repaint();

    QTimer::singleShot(kStartDelayMs, this, &AppDelegate::callUninstall);
}

void AppDelegate::cancel() {
    QCoreApplication::quit();
}

void AppDelegate::callUninstall() {
    const HelperCommand command = m_command;
    // No widget is touched by the worker: it only stores the outcome.
    m_worker = QThread::create([command] {
        g_Ret.store(requestUnInstall(command), std::memory_order_relaxed);
        g_process.store(false, std::memory_order_release);
    });
    m_worker->start();
    m_poll.start();
}

void AppDelegate::pollRequest() {
    if (g_process.load(std::memory_order_acquire))
        return;
    m_poll.stop();
    m_worker->wait();
    delete m_worker;
    m_worker = nullptr;
    finishUninstall(g_Ret.load(std::memory_order_relaxed));
}

void AppDelegate::finishUninstall(int32_t result) {
    m_working = false;
    m_progress->hide();
    switch (result) {
        case -1:
            m_label->setText(qtTrId("FAIL_MSG"));
            m_uninstallButton->setEnabled(true);
            break;
        case 0:
            m_label->setText(qtTrId("SUCCESS_MSG"));
            m_cancelButton->setText(qtTrId("EXIT"));
            break;
        case 1:
            QCoreApplication::quit();
            return;
        default:
            break;
    }
    m_cancelButton->setDefault(true);
    m_cancelButton->setEnabled(true);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    // While the removal runs the window stays, as its cancel button is off.
    if (watched == m_window.get() && event->type() == QEvent::Close && m_working) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
