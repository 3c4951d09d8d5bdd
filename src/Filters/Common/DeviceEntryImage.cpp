// DeviceEntry: carrying page images to the printer, one sheet at a time.
#include <cstdio>
#include <cstdlib>

#include "DeviceEntry.h"

_tagBITMAPHANDLE* DeviceEntry::MakeImageData(uint8_t* pixels, int64_t width, int64_t height,
                                             int32_t slot) {
    if (m_imageBuffer.Alloc(m_mediaInfo) != 0) {
        std::free(pixels);
        return nullptr;
    }
    m_imageBuffer.m_resolution = m_resolution;
    m_imageBuffer.m_resolutionMode = m_resolutionMode;
    m_imageBuffer.m_paperRotate = m_paperRotate;
    m_imageBuffer.m_border = m_border;
    m_imageBuffer.m_icm = m_icm;
    m_imageBuffer.m_sharpness = m_sharpness;
    m_imageBuffer.m_colorAdjustment = m_colorAdjustment;
    for (int i = 0; i < 3; ++i) {
        m_imageBuffer.m_gamma[i] = m_gamma[i];
        m_imageBuffer.m_brightness[i] = m_brightness[i];
        m_imageBuffer.m_contrast[i] = m_contrast[i];
    }
    m_imageBuffer.m_chroma = m_chroma;
    m_imageBuffer.m_iccProfilePath = m_iccProfilePath;
    return m_imageBuffer.ColorProcess(pixels, width, height, slot);
}

void DeviceEntry::SetImageData(int32_t slot, const _tagBITMAPHANDLE* image) {
    m_imageBuffer.SetImageData(slot, image);
}

int DeviceEntry::SendImageData(int imageCount) {
    const DeviceMediaBufferInfo sheet =
        imageCount >= 2 ? GetMultiMediaInfo(m_mediaInfo, imageCount) : m_mediaInfo;
    const int sent = PrintImageData(sheet);
    if (sent == 1) {
        m_imageBuffer.Clear();
    }
    return sent;
}

int DeviceEntry::PrintImageData(const DeviceMediaBufferInfo& info) {
    SendMediaSize(info);
    if (m_imageBuffer.Send(this, info) != 0) {
        return 0;
    }
    DeviceCmd start;
    start.MakeCmd("CNTRL", "START", 0, nullptr);
    DeviceIO(start);
    return 1;
}

int DeviceEntry::SendMediaSize(const DeviceMediaBufferInfo& info) {
    char payload[16];
    std::snprintf(payload, sizeof payload, "%08d", info.multicutCode);
    DeviceCmd cmd;
    cmd.MakeCmd("IMAGE", "MULTICUT", 8, payload);
    DeviceIO(cmd);
    return 1;
}

void DeviceEntry::FreeMediaBuffer() {
    m_imageBuffer.Free();
}
