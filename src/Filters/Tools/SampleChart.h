// The built-in sample page: a test chart drawn by our own code, one row at a
// time, for any page size and resolution.
#pragma once

#include <cstdint>

namespace qzm::sample {

// Colour patches and a grey ramp across the top, smooth gradients below
// them, then a photo-like landscape on the left and fine lines with a zone
// plate on the right. Every element is placed in proportion to the page.
class SampleChart {
  public:
    SampleChart(int width, int height);

    // Draws row y (0 = the top of the page) as width packed RGB pixels.
    void DrawRow(int y, uint8_t* rgb) const;

  private:
    void Patches(int y, uint8_t* rgb) const;
    void GreyRamp(int y, uint8_t* rgb) const;
    void Gradients(int y, uint8_t* rgb) const;
    void Landscape(int y, uint8_t* rgb) const;
    void FineLines(int y, uint8_t* rgb) const;

    int m_width;
    int m_height;
    int m_margin;
    // Top rows of the bands, the last one ending at m_height - m_margin.
    int m_patchTop, m_rampTop, m_gradientTop, m_lowerTop, m_bottom;
    int m_sceneRight;  // the landscape spans m_margin .. m_sceneRight
};

}  // namespace qzm::sample
