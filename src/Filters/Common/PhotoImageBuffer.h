// The image side of the print filter: turns a page into the finished photo
// for the sheet, keeps each placed photo as yellow, magenta and cyan planes,
// and writes a sheet's three plane packets.
//
// Pixel convention: bytes 0, 1 and 2 of a page pixel are red, green and blue.
// The cyan plane is made from byte 0, magenta from byte 1, yellow from byte 2;
// a plane value of 255 means no dye.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "DeviceMediaBufferInfo.h"
#include "NvkImgLib.h"

class DeviceEntry;
namespace qzm {
class WorkerPool;
}

// Sub-command names of the plane packets, by plane index (yellow, magenta,
// cyan).
extern const char* const kPlaneNames[3];

// Size of a plane packet's BMP headers and palette: the pixel rows start at
// this payload offset.
inline constexpr uint32_t kPlaneBmpHeaderSize = 1088;

// Fills the 1088 header bytes of a plane packet's BMP payload for a sheet of
// width x height pixels (rows of the width rounded up to 4 bytes).
void _MakePlaneBmpHeader(uint8_t* payload, int32_t width, int32_t height, int64_t hDpi,
                         int64_t vDpi);

// The image buffer of a printer object: media geometry, nine plane records
// (three slots of yellow, magenta, cyan) and the page settings.
class PhotoImageBuffer {
  public:
    PhotoImageBuffer();
    virtual ~PhotoImageBuffer();

    PhotoImageBuffer(const PhotoImageBuffer&) = delete;
    PhotoImageBuffer& operator=(const PhotoImageBuffer&) = delete;

    // Keeps the media geometry for the coming page. Returns 0.
    int64_t Alloc(DeviceMediaBufferInfo info);
    // Releases the planes of every slot. Returns 0.
    int64_t Clear();
    // The same as Clear(). Returns 0.
    int64_t Free();

    // Colour-processes one page. pixels: height rows of
    // ((width x 24 + 31) / 32) x 4 bytes from malloc, first row in memory at
    // the bottom; taken over and released here. Returns a calloc'd record
    // owning a 24-bit bitmap (colorOrder 1), an empty record when the planes
    // could not be made, or null for no pixels or a size that is not
    // positive. The caller releases it with IL_FreeBitmap and free().
    _tagBITMAPHANDLE* ColorProcess(uint8_t* pixels, int64_t width, int64_t height, int32_t slot);

    // Stores the bitmap's planes in a slot (0 ... 2; others are ignored):
    // byte 0 into cyan, byte 1 into magenta, byte 2 into yellow. The bitmap
    // stays the caller's.
    void SetImageData(int32_t slot, const _tagBITMAPHANDLE* bitmap);

    // How many threads work on a page, the caller's included (0, the
    // default, = the processors the process may run on), and, when
    // positive, the smallest band of rows they share (tests cut pages into
    // many small bands with 1). The bytes depend on neither.
    void SetWorkerThreads(int threads, int bandRows = 0);

    // Starts making the colour transform of an ICC profile file in the
    // background, ahead of the first page that matches colours with it.
    // ColorProcess keeps one transform per profile file for every page.
    void PrepareColorTransform(const std::string& iccProfilePath);

    // Writes the sheet's "YPLANE", "MPLANE" and "CPLANE" packets through
    // entry->SetCommand, with slots 0 ... outPanelCount - 1 placed on the
    // sheet. Returns 0 when all three went out, 3 otherwise.
    int32_t Send(DeviceEntry* entry, const DeviceMediaBufferInfo& sheet);

    DeviceMediaBufferInfo m_mediaInfo;
    _tagBITMAPHANDLE m_planes[9];
    // Settings block, copied from the printer object before every page.
    int64_t m_resolution = 300;
    int64_t m_resolutionMode = 0;
    bool m_paperRotate = false;
    bool m_border = true;
    bool m_icm = false;
    int32_t m_sharpness = 0;
    bool m_colorAdjustment = false;
    int32_t m_gamma[3] = {0, 0, 0};
    int32_t m_brightness[3] = {0, 0, 0};
    int32_t m_contrast[3] = {0, 0, 0};
    int32_t m_chroma = 0;
    std::string m_iccProfilePath;

  private:
    // The worker threads and the kept colour transforms.
    struct Engine;
    std::unique_ptr<Engine> m_engine;
};

// Pipeline steps of ColorProcess, exposed for tests. Each works on a 24-bit
// working bitmap that owns its block.

// Turns a page of width x height pixels by 90 degrees onto the paper: pixel
// (y, x) goes to (x, height - 1 - y). Returns a new malloc'd buffer of width
// rows, or null when it cannot be had; the input is not released.
uint8_t* _TurnOntoPaper(const uint8_t* pixels, int64_t width, int64_t height);
// The same, in bands of rows on a pool's threads (null: the caller's thread).
uint8_t* _TurnOntoPaper(const uint8_t* pixels, int64_t width, int64_t height,
                        qzm::WorkerPool* pool);

// The border scale of a media: min of the across and along ratios, each
// computed in double from single-precision integers and rounded to single.
float _BorderScale(const DeviceMediaBufferInfo& media, int64_t resolution);

// Shrinks the working bitmap by s in bands of 1000 rows onto a white canvas
// of (width x s) x (height x s). Returns false, with the bitmap unchanged,
// when memory cannot be had or the scaled size is not positive.
bool _ShrinkForBorder(_tagBITMAPHANDLE* working, float s);
// The same, its bands (and the rows of each) on a pool's threads.
bool _ShrinkForBorder(_tagBITMAPHANDLE* working, float s, qzm::WorkerPool* pool);

// IL_SizeBitmap(working, newWidth, newHeight, kILMethodCubic) with its output
// rows in bands on a pool's threads: the same bytes and results.
int _SizeBitmap(_tagBITMAPHANDLE* working, int32_t newWidth, int32_t newHeight,
                qzm::WorkerPool* pool);

// The tables that the tone steps (gamma, then intensity, then contrast on
// the palettes of the planes, merged back through them) amount to: byte c of
// every pixel becomes tables[c][byte]. Returns false when they change
// nothing.
bool _ToneTables(const int32_t (&gamma)[3], const int32_t (&brightness)[3],
                 const int32_t (&contrast)[3], bool on, uint8_t (&tables)[3][256]);
