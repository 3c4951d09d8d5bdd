// A private CUPS scheduler for one test: its own ServerRoot in a temporary
// folder, listening on a Unix socket only, reached by this process and its
// children through CUPS_SERVER. Queues use stand-in backends in its private
// ServerBin, so a device URI such as "ovbackend://..." is accepted; its
// DataDir holds the system's data files and a model folder of its own.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qzm::test {

// Points CUPS_SERVER, for this process's CUPS client and its children, at a
// server for as long as it lives.
class CupsServerOverride {
  public:
    explicit CupsServerOverride(const std::string& server);
    ~CupsServerOverride();
    CupsServerOverride(const CupsServerOverride&) = delete;
    CupsServerOverride& operator=(const CupsServerOverride&) = delete;

  private:
    std::optional<std::string> old_;
};

// A socket where no scheduler listens: the printer list is not available.
class UnreachableCupsServer : public CupsServerOverride {
  public:
    UnreachableCupsServer() : CupsServerOverride("/nonexistent/qzm480-no-cupsd.sock") {}
};

class PrivateCupsd {
  public:
    PrivateCupsd();
    // Stops the scheduler, restores CUPS_SERVER and removes the folder.
    ~PrivateCupsd();
    PrivateCupsd(const PrivateCupsd&) = delete;
    PrivateCupsd& operator=(const PrivateCupsd&) = delete;

    // Starts cupsd and points CUPS_SERVER at it. False, with the reason in
    // Error(), when cupsd cannot run here (the caller skips its test).
    bool Start();

    // Adds an enabled raw queue; info becomes "printer-info" when not empty.
    bool AddQueue(const std::string& name, const std::string& deviceUri,
                  const std::string& info = "");
    bool SetInfo(const std::string& name, const std::string& info);
    bool DeleteQueue(const std::string& name);

    // Adds another stand-in backend (scheme) next to "ovbackend".
    bool AddBackend(const std::string& scheme);

    // Puts a copy of file in the scheduler's model folder as name (a path
    // inside it, such as "Library/Printers/PPDs/Contents/Resources/x.gz"),
    // where "lpadmin -m name" finds it.
    bool AddModel(const std::string& name, const std::string& file);

    // Puts a real program in place as the backend of scheme, with mode 0700
    // so that cupsd runs it as root, as the package installs its backend.
    bool InstallBackend(const std::string& scheme, const std::string& program);

    // Before Start: an environment variable that cupsd passes to every
    // filter and backend it runs (cupsd clears their environment otherwise).
    void SetEnv(const std::string& name, const std::string& value) {
        environment_.emplace_back(name, value);
    }
    // Before Start: the scheduler's log level ("warn" unless set).
    void SetLogLevel(const std::string& level) { logLevel_ = level; }
    // The scheduler's error log as it stands.
    std::string ErrorLog() const;

    const std::string& Error() const { return error_; }
    const std::string& Folder() const { return folder_; }

  private:
    bool RunLpadmin(const std::vector<std::string>& arguments);

    std::vector<std::pair<std::string, std::string>> environment_;
    std::string logLevel_ = "warn";
    std::string folder_;
    std::string error_;
    std::unique_ptr<CupsServerOverride> server_;
    int pid_ = -1;
};

}  // namespace qzm::test
