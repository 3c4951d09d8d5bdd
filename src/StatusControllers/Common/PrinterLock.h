// A lock per printer, shared by every program that talks to it.
//
// The backend holds it for a whole job and the daemon for one query pass, so
// neither takes the printer from the other in the middle of its work. It is
// an advisory lock (flock) on "<serial>.lock" in a folder only root can
// write, "/run/qzm480", never in the world-writable cache folder: nobody else
// can plant a link there or hold the lock to block the printer. The package
// may share the folder with the printer application's group (set-group-ID
// and sticky, group-writable); its locks are then readable by that group. The kernel
// drops the lock when its holder ends, however it ends.
#pragma once

#include <string>
#include <string_view>

inline constexpr char kPrinterLockFolder[] = "/run/qzm480";

class PrinterLock {
  public:
    enum Result {
        kLockTaken = 0,
        kLockBusy = 1,         // another process holds it; try again later
        kLockUnavailable = 2,  // no lock can be had here (bad serial, no rights)
    };

    // A lock for the printer with this escaped serial; not taken yet.
    explicit PrinterLock(std::string_view serial);
    ~PrinterLock();
    PrinterLock(const PrinterLock&) = delete;
    PrinterLock& operator=(const PrinterLock&) = delete;

    // Takes the lock without waiting. Taking a lock already held by this
    // object succeeds.
    Result TryLock();
    // Gives the lock back; nothing happens when it is not held.
    void Unlock();
    bool Held() const { return fd_ >= 0; }

  private:
    std::string serial_;
    int fd_ = -1;
};
