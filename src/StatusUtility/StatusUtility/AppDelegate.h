// The status launcher: finds a print queue's printer and starts the status
// window program for it, unless a window for that printer is already open.
#pragma once

#include <QString>
#include <QStringList>

#include <cups/cups.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "PrinterList.h"

namespace qzm::statusutility {

// What one run of the launcher did.
enum class LaunchResult {
    kNoQueue,      // no queue name was given
    kNotFound,     // no destination of that name for this printer model
    kAlreadyOpen,  // a window for the serial is open; nothing started
    kStarted,      // the window program was started
    kStartFailed,  // the window program could not be started
};

// What the launcher asks of the system: the print system's printer list and
// the start of a program that runs on by itself. The defaults ask CUPS and
// start the program detached; the fuzz target gives its own.
struct LaunchServices {
    std::function<std::optional<std::vector<platform::PrinterEntry>>()> printerList =
        platform::GetPrinterList;
    std::function<bool(const QString& program, const QStringList& arguments)> startDetached;
};

// The launcher's work; it keeps no state between runs.
class AppDelegate {
  public:
    // resourcePath: the launcher bundle's resource folder, which holds the
    // window program's bundle.
    explicit AppDelegate(QString resourcePath, LaunchServices services = {});

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
    LaunchServices m_services;
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
// printer with an equal URI; nothing when there is none or no list.
std::optional<std::string> _PrinterNameForDeviceUri(
    const std::optional<std::vector<platform::PrinterEntry>>& list, const std::string& deviceUri);

}  // namespace qzm::statusutility
