// The QZ-M480 printer object: DeviceEntry with the model's media and
// overcoat tables and its answers to every model operation.
#pragma once

#include "DeviceEntry.h"

// Media table: the first fields (mediaId to minFirmware) of each media.
extern const DeviceMediaBufferInfo gMediaInfo_QZM480[8];
// Overcoat finishes; a last row with key -1 closes the table.
extern const DeviceOvercoatInfo gOverCoatInfo_QZM480[10];

// The printer object the filter creates for a QZ-M480 queue.
class DeviceEntry_QZM480 : private DeviceEntry {
  public:
    DeviceEntry_QZM480() = default;
    ~DeviceEntry_QZM480() override = default;

    int GetHeadWidth() override;
    int SetMediaSize(int numOptions, cups_option_t* options, ppdfile_s* ppd) override;
    int SetMediaInfo(DeviceMediaBufferInfo* info, int mediaId, double firmware) override;
    DeviceMediaBufferInfo GetMultiMediaInfo(const DeviceMediaBufferInfo& info,
                                            int imageCount) override;
    int GetMultiLayoutNum(const char* jobId) override;
    // The layout count for a job whose loaded media the printer answered
    // directly (its "INFO" "MEDIA" text, empty when not known): what
    // GetMultiLayoutNum decides from the print-status file.
    int GetMultiLayoutNumForMedia(const char* mediaSize);
    int SetOvercoatFinish(int key, double firmware) override;
    void SetPaperRotate(int numOptions, cups_option_t* options, ppdfile_s* ppd) override;
    const char* GetPrinterICCProfile(const char* choice) override;
    int GetRemainHalf(const char* jobId) override;
    bool isSupportDecurl() override;
    bool isSupportSysTime() override;

    // The shared printer object stays a non-public base; the driver reaches
    // its operations and fields through these names.
    using DeviceEntry::DeviceIO;
    using DeviceEntry::FreeMediaBuffer;
    using DeviceEntry::GetICCProfile;
    using DeviceEntry::m_border;
    using DeviceEntry::m_brightness;
    using DeviceEntry::m_chroma;
    using DeviceEntry::m_colorAdjustment;
    using DeviceEntry::m_contrast;
    using DeviceEntry::m_gamma;
    using DeviceEntry::m_iccProfilePath;
    using DeviceEntry::m_icm;
    using DeviceEntry::m_imageBuffer;
    using DeviceEntry::m_mediaInfo;
    using DeviceEntry::m_multiLayout;
    using DeviceEntry::m_output;
    using DeviceEntry::m_overcoatInfo;
    using DeviceEntry::m_paperRotate;
    using DeviceEntry::m_resolution;
    using DeviceEntry::m_resolutionMode;
    using DeviceEntry::m_sharpness;
    using DeviceEntry::MakeImageData;
    using DeviceEntry::PrintImageData;
    using DeviceEntry::SendCutterMode;
    using DeviceEntry::SendDecurl;
    using DeviceEntry::SendImageData;
    using DeviceEntry::SendMediaSize;
    using DeviceEntry::SendOvercoatFinish;
    using DeviceEntry::SendPrintRetry;
    using DeviceEntry::SendPrintSpeed;
    using DeviceEntry::SendSysTime;
    using DeviceEntry::SetBorder;
    using DeviceEntry::SetColorAdjustment;
    using DeviceEntry::SetCommand;
    using DeviceEntry::SetContrast;
    using DeviceEntry::SetGamma;
    using DeviceEntry::SetICCProfile;
    using DeviceEntry::SetICM;
    using DeviceEntry::SetImageData;
    using DeviceEntry::SetIntensity;
    using DeviceEntry::SetResolution;
    using DeviceEntry::SetSaturation;
    using DeviceEntry::SetSharpness;
    using DeviceEntry::UpdateMediaInfo;
};
