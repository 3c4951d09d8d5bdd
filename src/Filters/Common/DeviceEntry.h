// The print filter's printer object: the job's settings, the media geometry
// and every command packet the filter writes.
//
// Packets go to standard output (connected by CUPS to the printer's backend)
// through the C library's buffered stream, one write per packet; the stream
// is flushed when the program exits. A program that drives the printer
// itself sets m_output and receives every packet there instead.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "Common.h"
#include "DeviceCmd.h"
#include "DeviceMediaBufferInfo.h"
#include "PhotoImageBuffer.h"

// One row of a model's overcoat finish table, and the validated finish of a
// job.
struct DeviceOvercoatInfo {
    int32_t key = -1;       // finish key; -1 = no finish
    int32_t code = 0;       // finish code sent to the printer
    int32_t classFlag = 0;  // 1 for the finishes numbered from 101
    double minFirmware = 0.0;
};

// The printer object shared by every model. A model class derives from it and
// answers the virtual operations.
class DeviceEntry {
  public:
    DeviceEntry();
    virtual ~DeviceEntry();

    DeviceEntry(const DeviceEntry&) = delete;
    DeviceEntry& operator=(const DeviceEntry&) = delete;

    // Model operations, in slot order after the destructor.
    virtual int GetHeadWidth() = 0;
    virtual int SetMediaSize(int numOptions, cups_option_t* options, ppdfile_s* ppd) = 0;
    virtual int SetMediaInfo(DeviceMediaBufferInfo* info, int mediaId, double firmware) = 0;
    virtual DeviceMediaBufferInfo GetMultiMediaInfo(const DeviceMediaBufferInfo& info,
                                                    int imageCount) = 0;
    virtual int GetMultiLayoutNum(const char* jobId) = 0;
    virtual int SetOvercoatFinish(int key, double firmware) = 0;
    virtual void SetPaperRotate(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    virtual const char* GetPrinterICCProfile(const char* choice) = 0;
    virtual int GetRemainHalf(const char* jobId);
    virtual bool isSupportDecurl() = 0;
    virtual bool isSupportSysTime() = 0;

    // Output. DeviceIO writes a packet (nothing for an empty one) and returns
    // 0; SetCommand writes raw bytes and returns 1, or 0 for no bytes.
    int DeviceIO(const DeviceCmd& cmd);
    int SetCommand(const void* bytes, int32_t length);

    // Completes the output geometry of info for m_resolution. Returns 0, or 3
    // when the resolution is neither 300 nor 600 or the record cannot be
    // computed. A record without media (mediaId -1) is left as it is.
    int UpdateMediaInfo(DeviceMediaBufferInfo* info);

    // Settings: each reads its options (job first, then the PPD default) and
    // stores fields; none writes anything.
    int SetResolution(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetBorder(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetICM(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetSharpness(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetGamma(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetIntensity(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetContrast(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetSaturation(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    void SetColorAdjustment(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    const char* GetICCProfile(int numOptions, cups_option_t* options, ppdfile_s* ppd,
                              const char* jobId);
    void SetICCProfile(const char* path);

    // Settings commands: each writes at most one "CNTRL" packet and reads its
    // options again on every call. They precede every printed sheet.
    int SendCutterMode(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    int SendOvercoatFinish(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    int SendPrintRetry(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    int SendPrintSpeed(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    int SendDecurl(int numOptions, cups_option_t* options, ppdfile_s* ppd);
    int SendSysTime(int numOptions, cups_option_t* options, ppdfile_s* ppd);

    // Page images. MakeImageData colour-processes a page (pixels as the
    // driver fills them, taken over) and returns the image, which the caller
    // releases with IL_FreeBitmap and free(), or null. SetImageData stores an
    // image's planes in a slot of the coming sheet. SendImageData prints the
    // images of slots 0 ... count - 1 on one sheet and PrintImageData writes
    // a sheet's packets for a media; both return 1 when the planes went out,
    // else 0. SendMediaSize writes "IMAGE"/"MULTICUT" and returns 1.
    _tagBITMAPHANDLE* MakeImageData(uint8_t* pixels, int64_t width, int64_t height, int32_t slot);
    void SetImageData(int32_t slot, const _tagBITMAPHANDLE* image);
    int SendImageData(int imageCount);
    int PrintImageData(const DeviceMediaBufferInfo& info);
    int SendMediaSize(const DeviceMediaBufferInfo& info);
    void FreeMediaBuffer();

    PhotoImageBuffer m_imageBuffer;
    DeviceMediaBufferInfo m_mediaInfo;
    DeviceOvercoatInfo m_overcoatInfo;
    // Settings block: copied in this order into the image buffer before
    // every page.
    int64_t m_resolution = 300;
    int64_t m_resolutionMode = 0;
    bool m_paperRotate = false;
    bool m_border = false;
    bool m_icm = true;
    int32_t m_sharpness = 0;
    bool m_colorAdjustment = false;
    int32_t m_gamma[3] = {0, 0, 0};
    int32_t m_brightness[3] = {0, 0, 0};
    int32_t m_contrast[3] = {0, 0, 0};
    int32_t m_chroma = 0;
    std::string m_iccProfilePath;
    // End of the settings block.
    bool m_multiLayout = false;
    // Where packets go when set: each whole packet (or raw block) in one
    // call, in the order written. Unset: standard output.
    std::function<void(const uint8_t* bytes, size_t length)> m_output;

  protected:
    // Hands bytes to m_output, or writes them to standard output.
    void Output(const uint8_t* bytes, size_t length);
    // Writes "CNTRL" with a text payload; returns 1.
    int SendControl(const char* subCommand, const char* payload, int32_t length);
};

// The clock payload of "CNTRL"/"SET_SYS_TIME": the 14 digits
// YYYYMMDDhhmmss of the given local time, 0x0D and 0x00.
void _MakeSysTimePayload(const std::tm& local, char (&payload)[16]);
