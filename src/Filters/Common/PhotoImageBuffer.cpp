// PhotoImageBuffer: the colour pipeline, the plane store and the plane packets.
#include "PhotoImageBuffer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "ColorTransform.h"
#include "DeviceCmd.h"
#include "DeviceEntry.h"

const char* const kPlaneNames[3] = {"YPLANE", "MPLANE", "CPLANE"};

namespace {

constexpr int32_t kBandRows = 1000;
constexpr uint32_t kRecordSize = sizeof(_tagBITMAPHANDLE);

// Row length of a 24-bit row of width pixels, padded to 4 bytes.
int64_t Stride24(int64_t width) {
    return (width * 24 + 31) / 32 * 4;
}

// Describes a malloc'd block as a 24-bit bitmap that owns it.
bool Wrap24(_tagBITMAPHANDLE* bitmap, uint8_t* data, int64_t width, int64_t height) {
    *bitmap = _tagBITMAPHANDLE{};
    const int64_t stride = Stride24(width);
    if (IL_CreateBitmap(bitmap, kRecordSize, kILMemoryKind, static_cast<int32_t>(width),
                        static_cast<int32_t>(height), 24, 1, nullptr, kILLayoutCode, data,
                        static_cast<uint64_t>(stride * height)) != kILSuccess) {
        *bitmap = _tagBITMAPHANDLE{};
        return false;
    }
    bitmap->handle = bitmap->data;
    return true;
}

void FreePlanes(_tagBITMAPHANDLE (&planes)[3]) {
    for (_tagBITMAPHANDLE& p : planes) {
        IL_FreeBitmap(&p);
        p = _tagBITMAPHANDLE{};
    }
}

// Separates into three fresh records: plane 0 byte 0, plane 1 byte 1,
// plane 2 byte 2 of a colorOrder-1 bitmap.
bool Separate(const _tagBITMAPHANDLE* bitmap, _tagBITMAPHANDLE (&planes)[3]) {
    planes[0] = planes[1] = planes[2] = _tagBITMAPHANDLE{};
    _tagBITMAPHANDLE* out[3] = {&planes[0], &planes[1], &planes[2]};
    return IL_ColorSeparateBitmap(bitmap, out, kRecordSize, 0) == kILSuccess;
}

void Merge(_tagBITMAPHANDLE* dst, _tagBITMAPHANDLE (&planes)[3]) {
    _tagBITMAPHANDLE* in[3] = {&planes[0], &planes[1], &planes[2]};
    IL_ColorMergeBitmap(dst, in, kRecordSize, 0);
}

}  // namespace

void _MakePlaneBmpHeader(uint8_t* p, int32_t width, int32_t height, int64_t hDpi, int64_t vDpi) {
    const uint32_t rowBytes = (static_cast<uint32_t>(width) + 3u) & ~3u;
    const uint32_t pixelBytes = rowBytes * static_cast<uint32_t>(height);
    std::memset(p, 0, kPlaneBmpHeaderSize);
    p[0] = 'B';
    p[1] = 'M';
    _StoreLE4(p + 2, kPlaneBmpHeaderSize + pixelBytes);
    _StoreLE4(p + 10, kPlaneBmpHeaderSize);
    _StoreLE4(p + 14, 40);
    _StoreLE4(p + 18, static_cast<uint32_t>(width));
    _StoreLE4(p + 22, static_cast<uint32_t>(height));
    _StoreLE2(p + 26, 1);
    _StoreLE2(p + 28, 8);
    _StoreLE4(p + 34, pixelBytes);
    _StoreLE4(p + 38, static_cast<uint32_t>(static_cast<int64_t>(hDpi * 1000 / 25.4)));
    _StoreLE4(p + 42, static_cast<uint32_t>(static_cast<int64_t>(vDpi * 1000 / 25.4)));
    _StoreLE4(p + 46, 256);
    _StoreLE4(p + 50, 256);
    for (int i = 0; i < 256; ++i) {
        p[54 + 4 * i] = p[55 + 4 * i] = p[56 + 4 * i] = static_cast<uint8_t>(i);
    }
}

uint8_t* _TurnOntoPaper(const uint8_t* pixels, int64_t width, int64_t height) {
    const int64_t inStride = Stride24(width);
    const int64_t outStride = Stride24(height);
    auto* out = static_cast<uint8_t*>(
        std::calloc(static_cast<size_t>(width), static_cast<size_t>(outStride)));
    if (out == nullptr) {
        return nullptr;
    }
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* src = pixels + y * inStride;
        uint8_t* column = out + (height - 1 - y) * 3;
        for (int64_t x = 0; x < width; ++x) {
            uint8_t* dst = column + x * outStride;
            dst[0] = src[3 * x];
            dst[1] = src[3 * x + 1];
            dst[2] = src[3 * x + 2];
        }
    }
    return out;
}

float _BorderScale(const DeviceMediaBufferInfo& media, int64_t resolution) {
    const int32_t k = resolution == 600 ? 2 : 1;
    const auto asDouble = [](int64_t v) { return static_cast<double>(static_cast<float>(v)); };
    const float sx = static_cast<float>(asDouble(int64_t{media.widthDots} - 2 * media.marginXDots) /
                                        asDouble(media.widthDots));
    const float sy = static_cast<float>(
        asDouble(int64_t{media.heightDots} * k - int64_t{2} * media.marginYDots * k) /
        asDouble(int64_t{media.heightDots} * k));
    return std::min(sx, sy);
}

bool _ShrinkForBorder(_tagBITMAPHANDLE* working, float s) {
    const int32_t width = working->width;
    const int32_t height = working->height;
    const auto newWidth = static_cast<int32_t>(static_cast<float>(width) * s);
    const auto newHeight = static_cast<int32_t>(static_cast<float>(height) * s);
    if (!(newWidth > 0 && newHeight > 0)) {
        return false;
    }
    const int64_t canvasStride = Stride24(newWidth);
    const size_t canvasBytes = static_cast<size_t>(canvasStride) * static_cast<size_t>(newHeight);
    auto* canvasData = static_cast<uint8_t*>(GlobalAlloc(0, canvasBytes));
    if (canvasData == nullptr) {
        return false;
    }
    std::memset(canvasData, 255, canvasBytes);
    _tagBITMAPHANDLE canvas{};
    if (!Wrap24(&canvas, canvasData, newWidth, newHeight)) {
        GlobalFree(canvasData);
        return false;
    }

    const size_t srcStride = static_cast<size_t>(working->bytesPerLine);
    int32_t canvasRow = 0;
    for (int32_t first = 0; first < height; first += kBandRows) {
        const int32_t rows = std::min(kBandRows, height - first);
        const auto scaledRows = static_cast<int32_t>(static_cast<float>(rows) * s);
        if (scaledRows <= 0) {
            continue;
        }
        auto* bandData = static_cast<uint8_t*>(GlobalAlloc(0, srcStride * rows));
        if (bandData == nullptr) {
            IL_FreeBitmap(&canvas);
            return false;
        }
        std::memcpy(bandData, working->data + srcStride * first, srcStride * rows);
        _tagBITMAPHANDLE band{};
        if (!Wrap24(&band, bandData, width, rows) ||
            IL_SizeBitmap(&band, newWidth, scaledRows, kILMethodCubic) != kILSuccess) {
            if (band.handle == nullptr) {
                GlobalFree(bandData);
            }
            IL_FreeBitmap(&band);
            IL_FreeBitmap(&canvas);
            return false;
        }
        const int32_t fit = std::min(scaledRows, newHeight - canvasRow);
        for (int32_t r = 0; r < fit; ++r) {
            std::memcpy(canvas.data + static_cast<size_t>(canvasRow + r) * canvasStride,
                        band.data + static_cast<size_t>(r) * band.bytesPerLine,
                        static_cast<size_t>(newWidth) * 3);
        }
        canvasRow += std::max(fit, 0);
        IL_FreeBitmap(&band);
    }
    IL_FreeBitmap(working);
    *working = canvas;
    return true;
}

PhotoImageBuffer::PhotoImageBuffer() {
    for (_tagBITMAPHANDLE& plane : m_planes) {
        plane = _tagBITMAPHANDLE{};
    }
}

PhotoImageBuffer::~PhotoImageBuffer() {
    Clear();
}

int64_t PhotoImageBuffer::Alloc(DeviceMediaBufferInfo info) {
    if (std::memcmp(&info, &m_mediaInfo, sizeof info) != 0) {
        std::memcpy(&m_mediaInfo, &info, sizeof info);
    }
    return 0;
}

int64_t PhotoImageBuffer::Clear() {
    for (_tagBITMAPHANDLE& plane : m_planes) {
        IL_FreeBitmap(&plane);
    }
    return 0;
}

int64_t PhotoImageBuffer::Free() {
    return Clear();
}

_tagBITMAPHANDLE* PhotoImageBuffer::ColorProcess(uint8_t* pixels, int64_t width, int64_t height,
                                                 int32_t /*slot*/) {
    if (pixels == nullptr || width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) {
        std::free(pixels);
        return nullptr;
    }
    auto* result = static_cast<_tagBITMAPHANDLE*>(std::calloc(1, sizeof(_tagBITMAPHANDLE)));
    if (result == nullptr) {
        std::free(pixels);
        return nullptr;
    }

    // 1. Turn onto the paper.
    int64_t w = width;
    int64_t h = height;
    if (m_paperRotate) {
        uint8_t* turned = _TurnOntoPaper(pixels, w, h);
        std::free(pixels);
        if (turned == nullptr) {
            return result;
        }
        pixels = turned;
        std::swap(w, h);
    }

    // 2. The working bitmap takes the buffer over.
    _tagBITMAPHANDLE working{};
    if (!Wrap24(&working, pixels, w, h)) {
        std::free(pixels);
        return result;
    }

    // 3. Resolution of the head.
    if (m_resolutionMode == 1 && m_paperRotate) {
        IL_SizeBitmap(&working, working.width / 2, working.height * 2, kILMethodCubic);
    } else if (m_resolutionMode == 2) {
        IL_SizeBitmap(&working, working.width / 2, working.height, kILMethodCubic);
    }

    // 4. White border: the picture shrinks; Send centres it on the sheet.
    if (m_border) {
        _ShrinkForBorder(&working, _BorderScale(m_mediaInfo, m_resolution));
    }

    // 5. Colour matching.
    if (m_icm && !m_iccProfilePath.empty()) {
        ColorTransformHolder transform(get_colord_transform_func(m_iccProfilePath.c_str()));
        if (transform) {
            ApplyColorTransform(transform.Get(), working.data, working.width, working.height,
                                working.bytesPerLine);
        }
    }

    // 6, 7. Planes for the tone corrections.
    _tagBITMAPHANDLE planes[3];
    const bool separated = Separate(&working, planes);
    IL_FreeBitmap(&working);
    if (!separated) {
        FreePlanes(planes);
        return result;
    }

    // 8. Tone on the palettes: red settings on plane 0, green 1, blue 2.
    for (int i = 0; i < 3; ++i) {
        IL_GammaCorrectBitmap(&planes[i],
                              static_cast<uint32_t>(m_colorAdjustment ? m_gamma[i] : 100));
    }
    for (int i = 0; i < 3; ++i) {
        IL_ChangeBitmapIntensity(&planes[i], m_colorAdjustment ? m_brightness[i] : 0);
    }
    for (int i = 0; i < 3; ++i) {
        IL_ChangeBitmapContrast(&planes[i], m_colorAdjustment ? m_contrast[i] : 0);
    }

    // 9 - 11. Merge, sharpen, saturation.
    _tagBITMAPHANDLE merged{};
    Merge(&merged, planes);
    FreePlanes(planes);
    IL_SharpenBitmap(&merged, m_sharpness);
    IL_ChangeBitmapSaturation(&merged, m_colorAdjustment ? m_chroma : 0);

    // 12. Separate and merge once more into the result.
    Separate(&merged, planes);
    IL_FreeBitmap(&merged);
    Merge(result, planes);
    FreePlanes(planes);
    return result;
}

void PhotoImageBuffer::SetImageData(int32_t slot, const _tagBITMAPHANDLE* bitmap) {
    if (slot < 0 || slot > 2) {
        return;
    }
    _tagBITMAPHANDLE* yellow = &m_planes[3 * slot];
    _tagBITMAPHANDLE* magenta = &m_planes[3 * slot + 1];
    _tagBITMAPHANDLE* cyan = &m_planes[3 * slot + 2];
    for (_tagBITMAPHANDLE* p : {yellow, magenta, cyan}) {
        IL_FreeBitmap(p);
        *p = _tagBITMAPHANDLE{};
    }
    if (bitmap == nullptr) {
        return;
    }
    _tagBITMAPHANDLE* out[3] = {cyan, magenta, yellow};
    if (IL_ColorSeparateBitmap(bitmap, out, kRecordSize, 0) != kILSuccess) {
        for (_tagBITMAPHANDLE* p : {yellow, magenta, cyan}) {
            *p = _tagBITMAPHANDLE{};
        }
    }
}

int32_t PhotoImageBuffer::Send(DeviceEntry* entry, const DeviceMediaBufferInfo& sheet) {
    const int64_t width = sheet.headWidth;
    const int64_t height = sheet.outHeight;
    const int64_t rowBytes = (width + 3) / 4 * 4;
    const int64_t pixelBytes = rowBytes * height;
    // The length field holds 8 digits; a sheet beyond it cannot be framed.
    if (entry == nullptr || width <= 0 || height <= 0 ||
        pixelBytes > DeviceCmd::kMaxPayloadLength - int64_t{kPlaneBmpHeaderSize}) {
        return 3;
    }
    const int64_t payloadLength = kPlaneBmpHeaderSize + pixelBytes;
    const int64_t packetLength = DeviceCmd::kHeaderLength + payloadLength;
    std::unique_ptr<uint8_t[]> packet(new (std::nothrow) uint8_t[packetLength]);
    if (!packet) {
        return 3;
    }
    // The header; the sub-command is filled in per plane.
    char lengthField[16];
    std::snprintf(lengthField, sizeof lengthField, "%08d", static_cast<int>(payloadLength));
    std::memset(packet.get(), ' ', DeviceCmd::kHeaderLength);
    packet[0] = 0x1B;
    packet[1] = 'P';
    std::memcpy(packet.get() + 2, "IMAGE", 5);
    std::memcpy(packet.get() + 24, lengthField, 8);
    uint8_t* payload = packet.get() + DeviceCmd::kHeaderLength;
    _MakePlaneBmpHeader(payload, static_cast<int32_t>(width), static_cast<int32_t>(height),
                        sheet.hDpi, sheet.vDpi);
    uint8_t* area = payload + kPlaneBmpHeaderSize;
    std::memset(area, 255, static_cast<size_t>(pixelBytes));

    const int32_t panels = std::clamp(sheet.outPanelCount, 0, 3);
    for (int plane = 0; plane < 3; ++plane) {
        char* sub = reinterpret_cast<char*>(packet.get()) + 8;
        std::memset(sub, ' ', DeviceCmd::kMaxSubCommandLength);
        std::memcpy(sub, kPlaneNames[plane], std::strlen(kPlaneNames[plane]));
        for (int32_t i = 0; i < panels; ++i) {
            const _tagBITMAPHANDLE& record = m_planes[3 * i + plane];
            const int64_t rows = std::min<int64_t>(sheet.outPanelHeight, record.height);
            if (rows <= 0 || record.data == nullptr) {
                continue;
            }
            const int64_t cols = std::min<int64_t>(width, record.width);
            const int64_t r0 = (int64_t{sheet.outPanelGap} + m_mediaInfo.outHeight) * i +
                               (sheet.outPanelHeight - rows) / 2;
            const int64_t c0 = (width - cols) / 2;
            if (cols <= 0 || c0 < 0) {
                continue;
            }
            for (int64_t r = 0; r < rows; ++r) {
                const int64_t row = r0 + r;
                if (row < 0 || row >= height) {
                    continue;
                }
                std::memcpy(area + row * rowBytes + c0,
                            record.data + r * int64_t{record.bytesPerLine},
                            static_cast<size_t>(cols));
            }
        }
        if (entry->SetCommand(packet.get(), static_cast<int32_t>(packetLength)) == 0) {
            return 3;
        }
    }
    return 0;
}
