// The page sizes of the printer application: the twelve sizes of the
// printer's PPD under PWG self-describing names, and which of them fit the
// roll the printer has loaded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qzm::app {

struct AppMedia {
    const char* ppdName;  // the filter's "PageSize" choice
    int width;            // hundredths of millimetres, as IPP counts them
    int length;
    int rollInches;       // 5 or 6: the roll width the size is printed on
    std::string pwgName;  // "om_<ppdName>_<width>x<length>mm"
};

// All twelve sizes in the PPD's order.
const std::vector<AppMedia>& _AppMediaList();

// The size with this PWG name, or null.
const AppMedia* _FindMediaByPwg(std::string_view pwgName);

// The size of these dimensions (hundredths of mm, within 1 mm either way, either
// orientation not swapped), preferring the single-sheet size; null when none.
const AppMedia* _FindMediaBySize(int width, int length);

// The size a client is offered first for the roll the printer reports (its
// media answer as the information file keeps it, "200", "301", ...): rolls of
// the 2xx codes are 5 in wide, of the 3xx codes 6 in. 6 x 4 in on a 6 in roll,
// 5 x 3.5 in on a 5 in roll; null when the roll is not known.
const AppMedia* _ReadyMediaForRoll(std::string_view mediaCode);

}  // namespace qzm::app
