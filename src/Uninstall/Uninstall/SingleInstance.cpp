#include "SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

QString SingleInstance::LockPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/com.orvane.UninstallQZ-M480.lock");
}

bool SingleInstance::TryAcquire() {
    auto lock = std::make_unique<QLockFile>(LockPath());
    // Held as long as the application runs: never stale by age alone.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return false;
    m_lock = std::move(lock);
    return true;
}
