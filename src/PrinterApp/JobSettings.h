// The job settings of the printer application: the vendor attributes that
// carry the PPD's options beyond IPP's own, and the option array that the
// filter's printer object reads for a job.
#pragma once

#include <cups/cups.h>

#include <string>
#include <vector>

namespace qzm::app {

// One vendor attribute and the PPD option behind it.
struct VendorSetting {
    enum class Kind { kKeyword, kBoolean, kInteger };
    const char* name;       // IPP attribute name (the job attribute)
    const char* ppdOption;  // the filter's option name
    Kind kind;
    const char* defaultValue;  // IPP value, as the PPD's default
    // kKeyword: IPP keyword / PPD choice pairs; kBoolean: the PPD choices
    // for true and false; kInteger: every allowed value as text.
    std::vector<std::pair<std::string, std::string>> choices;
};

// Every vendor attribute, in the order the web page shows them.
const std::vector<VendorSetting>& _VendorSettings();

// Adds "<name>-default" and "<name>-supported" of every vendor attribute.
void _AddVendorAttributes(ipp_t* attributes);

// The filter's option array for one job, freed on destruction.
class JobOptions {
  public:
    JobOptions() = default;
    ~JobOptions() { cupsFreeOptions(count_, options_); }
    JobOptions(const JobOptions&) = delete;
    JobOptions& operator=(const JobOptions&) = delete;

    void Add(const char* name, const char* value) {
        count_ = cupsAddOption(name, value, count_, &options_);
    }
    int Count() const { return count_; }
    cups_option_t* Options() const { return options_; }

  private:
    int count_ = 0;
    cups_option_t* options_ = nullptr;
};

// Fills options with every option the filter reads for a job: "PageSize"
// from the media's PWG name, "Resolution" from the resolution in dpi and
// each vendor attribute's PPD option from vendor (as PAPPL hands them over:
// name and IPP value text), the default where vendor has none. False, with
// a message in error, for a media, resolution or value the printer does not
// offer.
bool _MakeJobOptions(const char* mediaPwgName, int xDpi, int yDpi, int numVendor,
                     const cups_option_t* vendor, JobOptions* options, std::string* error);

}  // namespace qzm::app
