// Keeps a second copy of the uninstaller from running for the same user.
#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

class SingleInstance {
  public:
    // Takes the user's lock for the application; false when another running
    // copy holds it. A lock left by a copy that died is taken over.
    bool TryAcquire();

    // The lock file: in the user's runtime folder, else the temporary folder.
    static QString LockPath();

  private:
    std::unique_ptr<QLockFile> m_lock;
};
