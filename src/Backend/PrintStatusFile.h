// The per-job print-status file that the print filter waits for.
//
// The filter of a job polls for "<cache folder>/Print_<job id>.log" at its
// start and reads the "MEDIA_SIZE=" line from it: a loaded media size lets it
// put two pictures on one sheet. The backend of the same job writes the file
// as soon as the printer has told it the media, and removes it when the job
// ends, however it ends.
#pragma once

#include <string>
#include <string_view>

// True for a CUPS job id: 1 to 10 decimal digits. Anything else would let
// the name leave the folder or collide with other files.
bool _IsJobId(std::string_view jobId);

// "Print_<job id>.log".
std::string _PrintStatusFileName(std::string_view jobId);

// The file's text for the printer's media answer ("INFO" "MEDIA"), written as
// the printer-information file writes it: the answer from its 3rd character
// on, empty when the answer is missing or shorter.
std::string _PrintStatusText(std::string_view mediaAnswer);

// Owns one job's file: Write puts it in place, Remove (or the destructor)
// takes it away again.
class PrintStatusFile {
  public:
    explicit PrintStatusFile(std::string jobId) : jobId_(std::move(jobId)) {}
    ~PrintStatusFile() { Remove(); }
    PrintStatusFile(const PrintStatusFile&) = delete;
    PrintStatusFile& operator=(const PrintStatusFile&) = delete;

    // Makes sure the cache folder exists and replaces the file with the text
    // for mediaAnswer. False when the file could not be written.
    bool Write(std::string_view mediaAnswer);
    // Removes the file if this object wrote it.
    void Remove();

  private:
    std::string jobId_;
    bool written_ = false;
};
