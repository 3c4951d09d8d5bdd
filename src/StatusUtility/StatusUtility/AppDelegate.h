// The status launcher: finds a print queue's printer and starts the status
// window program for it, unless a window for that printer is already open.
#pragma once

#include <QString>

#include <cups/cups.h>

#include <optional>
#include <string>

namespace qzm::statusutility {

// What one run of the launcher did.
enum class LaunchResult {
    kNoQueue,      // no queue name was given
    kNotFound,     // no destination of that name for this printer model
    kAlreadyOpen,  // a window for the serial is open; nothing started
    kStarted,      // the window program was started
    kStartFailed,  // the window program could not be started
};

// The launcher's work; it keeps no state between runs.
class AppDelegate {
  public:
    // resourcePath: the launcher bundle's resource folder, which holds the
    // window program's bundle.
    explicit AppDelegate(QString resourcePath);

    // Contents/Resources next to the folder of the running executable.
    static QString MainResourcePath();

    // The whole work for the queue named on the command line (none: nothing
    // to do).
    LaunchResult applicationDidFinishLaunching(const std::optional<std::string>& queueName);
    void applicationWillTerminate() {}

    // The window program inside the resource folder.
    QString WindowProgramPath() const;

    // Called by enum_cb for the destination of the wanted name with a device
    // URI of this model: starts the window unless one is open.
    LaunchResult OpenStatusWindow(const std::string& deviceUri, const std::string& serial);

  private:
    QString m_resourcePath;
};

// What the destination callback gets as user data.
struct EnumContext {
    const char* queueName;
    AppDelegate* delegate;
    LaunchResult result;
};

// Destination callback of cupsEnumDests: 1 to go on, 0 to end.
int enum_cb(void* user_data, unsigned flags, cups_dest_t* dest);

// The printer name that the printer list gives the device URI: the last
// printer with an equal URI; nothing when there is none.
std::optional<std::string> _PrinterNameForDeviceUri(const std::string& deviceUri);

}  // namespace qzm::statusutility
