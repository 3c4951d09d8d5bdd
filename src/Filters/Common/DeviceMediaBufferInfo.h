// Geometry of one media: a row of the model's media table followed by the
// output geometry for the job's resolution. A plain record, copied by value.
#pragma once

#include <cstdint>

struct DeviceMediaBufferInfo {
    // One row of the model's media table; dot figures are at baseDpi.
    int32_t mediaId = -1;      // media code; -1 = no media set
    int32_t multicutCode = 0;  // payload of "IMAGE"/"MULTICUT" for this sheet
    double widthInch = 0.0;
    double heightInch = 0.0;
    int32_t baseDpi = 0;
    int32_t widthDots = 0;
    int32_t heightDots = 0;   // all panels and the gaps between them
    int32_t marginXDots = 0;  // white border across the sheet
    int32_t marginYDots = 0;  // white border along the sheet
    int32_t panelGapDots = 0;
    int32_t panelWidthDots = 0;
    int32_t panelHeightDots = 0;
    int32_t panelCount = 0;    // images on the sheet: 1 or 2
    bool twoInchCut = false;   // the media allows the 2-inch cut
    double minFirmware = 0.0;  // the row applies from this firmware version on

    // Output geometry, computed by DeviceEntry::UpdateMediaInfo.
    int32_t headWidth = 0;  // dots in one print-head line
    int64_t hDpi = 0;       // across the paper: always 300
    int64_t vDpi = 0;       // along the paper: the job's resolution
    int32_t outWidth = 0;
    int32_t outHeight = 0;
    int32_t outPanelWidth = 0;
    int32_t outPanelHeight = 0;
    int32_t outPanelGap = 0;
    int32_t outPanelCount = 0;
};
