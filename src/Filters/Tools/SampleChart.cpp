#include "SampleChart.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qzm::sample {

namespace {

struct Rgb {
    double r, g, b;
};

constexpr double kPi = 3.14159265358979323846;

uint8_t ToByte(double v) {
    return uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

void Put(uint8_t* rgb, int x, const Rgb& c) {
    rgb[3 * x] = ToByte(c.r);
    rgb[3 * x + 1] = ToByte(c.g);
    rgb[3 * x + 2] = ToByte(c.b);
}

void Fill(uint8_t* rgb, int x0, int x1, const Rgb& c) {
    for (int x = x0; x < x1; ++x) {
        Put(rgb, x, c);
    }
}

Rgb Mix(const Rgb& a, const Rgb& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb Scale(const Rgb& a, double k) {
    return {a.r * k, a.g * k, a.b * k};
}

// Fully saturated colour of a hue in 0..1.
Rgb Hue(double h) {
    const double s = h * 6.0;
    const int sector = int(s) % 6;
    const double f = s - std::floor(s);
    switch (sector) {
        case 0:
            return {255, 255 * f, 0};
        case 1:
            return {255 * (1 - f), 255, 0};
        case 2:
            return {0, 255, 255 * f};
        case 3:
            return {0, 255 * (1 - f), 255};
        case 4:
            return {255 * f, 0, 255};
        default:
            return {255, 0, 255 * (1 - f)};
    }
}

// Smooth value noise in 0..1 from a hash of the lattice points.
double Lattice(int x, int y) {
    uint32_t h = uint32_t(x) * 0x8DA6B343u ^ uint32_t(y) * 0xD8163841u;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return (h & 0xFFFF) / 65535.0;
}

double Noise(double x, double y) {
    const int ix = int(std::floor(x));
    const int iy = int(std::floor(y));
    double fx = x - ix;
    double fy = y - iy;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    const double top = Lattice(ix, iy) + (Lattice(ix + 1, iy) - Lattice(ix, iy)) * fx;
    const double bottom =
        Lattice(ix, iy + 1) + (Lattice(ix + 1, iy + 1) - Lattice(ix, iy + 1)) * fx;
    return top + (bottom - top) * fy;
}

const Rgb kWhite = {255, 255, 255};

const Rgb kPatches[2][8] = {
    {{255, 0, 0},
     {0, 255, 0},
     {0, 0, 255},
     {0, 255, 255},
     {255, 0, 255},
     {255, 255, 0},
     {0, 0, 0},
     {255, 255, 255}},
    {{240, 200, 170},
     {150, 100, 70},
     {90, 140, 200},
     {70, 120, 50},
     {250, 150, 30},
     {120, 60, 160},
     {128, 128, 128},
     {119, 119, 119}},
};

}  // namespace

SampleChart::SampleChart(int width, int height) : m_width(width), m_height(height) {
    m_margin = std::max(1, std::min(width, height) / 40);
    m_patchTop = m_margin;
    m_rampTop = height * 22 / 100;
    m_gradientTop = height * 32 / 100;
    m_lowerTop = height * 50 / 100;
    m_bottom = height - m_margin;
    m_sceneRight = width * 62 / 100;
}

void SampleChart::DrawRow(int y, uint8_t* rgb) const {
    std::memset(rgb, 255, size_t(m_width) * 3);
    if (y < m_patchTop || y >= m_bottom) {
        return;
    }
    if (y < m_rampTop) {
        Patches(y, rgb);
    } else if (y < m_gradientTop) {
        GreyRamp(y, rgb);
    } else if (y < m_lowerTop) {
        Gradients(y, rgb);
    } else {
        Landscape(y, rgb);
        FineLines(y, rgb);
    }
}

// Two rows of eight patches: primaries, secondaries, black and white; then
// skin, sky, foliage and other memory colours with two greys.
void SampleChart::Patches(int y, uint8_t* rgb) const {
    const int gutter = std::max(1, m_margin / 2);
    const int rowHeight = (m_rampTop - gutter - m_patchTop) / 2;
    if (rowHeight <= 0) {
        return;
    }
    const int row = (y - m_patchTop) / rowHeight;
    if (row > 1 || (y - m_patchTop) % rowHeight >= rowHeight - gutter) {
        return;
    }
    const int span = m_width - 2 * m_margin;
    for (int col = 0; col < 8; ++col) {
        const int x0 = m_margin + span * col / 8;
        const int x1 = m_margin + span * (col + 1) / 8 - gutter;
        Fill(rgb, x0, std::max(x0, x1), kPatches[row][col]);
    }
    // The white patch gets a thin black frame so that it can be found.
    const int x0 = m_margin + span * 7 / 8;
    const int x1 = m_margin + span - gutter;
    if (row == 0 && x1 > x0) {
        const int inRow = (y - m_patchTop) % rowHeight;
        if (inRow == 0 || inRow == rowHeight - gutter - 1) {
            Fill(rgb, x0, x1, {0, 0, 0});
        } else {
            Put(rgb, x0, {0, 0, 0});
            Put(rgb, x1 - 1, {0, 0, 0});
        }
    }
}

// 21 grey steps from black to white in equal steps of 255 / 20.
void SampleChart::GreyRamp(int y, uint8_t* rgb) const {
    if (y >= m_gradientTop - m_margin) {
        return;
    }
    const int span = m_width - 2 * m_margin;
    for (int step = 0; step < 21; ++step) {
        const double v = std::round(255.0 * step / 20.0);
        Fill(rgb, m_margin + span * step / 21, m_margin + span * (step + 1) / 21, {v, v, v});
    }
}

// Three smooth bars: the hue circle, black to white, and blue through white
// to orange.
void SampleChart::Gradients(int y, uint8_t* rgb) const {
    const int bandHeight = (m_lowerTop - m_margin - m_gradientTop) / 3;
    if (bandHeight <= 0) {
        return;
    }
    const int band = (y - m_gradientTop) / bandHeight;
    if (band > 2 || (y - m_gradientTop) % bandHeight >= bandHeight - std::max(1, m_margin / 3)) {
        return;
    }
    const int span = m_width - 2 * m_margin;
    for (int x = m_margin; x < m_margin + span; ++x) {
        const double t = span > 1 ? double(x - m_margin) / (span - 1) : 0.0;
        if (band == 0) {
            Put(rgb, x, Hue(t));
        } else if (band == 1) {
            Put(rgb, x, {255 * t, 255 * t, 255 * t});
        } else {
            Put(rgb, x,
                t < 0.5 ? Mix({20, 60, 200}, kWhite, t * 2)
                        : Mix(kWhite, {240, 120, 10}, (t - 0.5) * 2));
        }
    }
}

// A landscape of sines and noise: sky with a sun, far mountains, green hills,
// a lake mirroring the sky and a textured meadow.
void SampleChart::Landscape(int y, uint8_t* rgb) const {
    const int left = m_margin;
    const int sceneWidth = m_sceneRight - left;
    const int sceneHeight = m_bottom - m_lowerTop;
    if (sceneWidth <= 0 || sceneHeight <= 0) {
        return;
    }
    const double v = double(y - m_lowerTop) / sceneHeight;
    const double aspect = double(sceneWidth) / sceneHeight;
    const double horizon = 0.58;
    const Rgb skyTop = {40, 90, 170};
    const Rgb skyLow = {205, 222, 236};
    auto sky = [&](double u, double vv) {
        Rgb c = Mix(skyTop, skyLow, std::pow(std::clamp(vv / horizon, 0.0, 1.0), 0.8));
        const double dx = (u - 0.74) * aspect;
        const double dy = vv - 0.18;
        const double d = std::sqrt(dx * dx + dy * dy);
        if (d < 0.055) {
            return Rgb{255, 244, 210};
        }
        const double glow = std::exp(-(d - 0.055) * 9.0);
        return Mix(c, {255, 236, 190}, glow * 0.75);
    };
    for (int x = left; x < m_sceneRight; ++x) {
        const double u = double(x - left) / sceneWidth;
        const double far = 0.36 + 0.07 * std::sin(6.1 * u + 0.5) + 0.03 * std::sin(17.0 * u + 1.3) +
                           0.012 * std::sin(43.0 * u);
        const double near = 0.48 + 0.05 * std::sin(4.3 * u + 2.0) + 0.02 * std::sin(13.0 * u + 0.7);
        Rgb c;
        if (v < horizon) {
            if (v >= near) {
                const double shade = 0.75 + 0.35 * Noise(u * 90.0, v * 90.0);
                c = Scale(Mix({70, 125, 55}, {40, 85, 45}, (v - near) / (horizon - near + 1e-9)),
                          shade);
            } else if (v >= far) {
                const double depth = (v - far) / (near - far + 1e-9);
                c = Mix({150, 160, 185}, {95, 110, 140}, depth);
                if (far < 0.33 && v - far < (0.33 - far) * 0.7) {
                    c = Mix(c, kWhite, 0.8);  // snow on the highest peaks
                }
            } else {
                c = sky(u, v);
            }
        } else {
            const double shore = 0.55 + 0.08 * std::sin(v * 11.0 + 1.0);
            if (u < shore) {
                const double mirrored = 2 * horizon - v;
                const double ripple = 0.06 * std::sin(v * 260.0 + 3.0 * std::sin(u * 23.0)) *
                                      Noise(u * 8.0, v * 30.0);
                c = Scale(sky(u, std::max(0.0, mirrored)), 0.78 + ripple);
            } else {
                const double grass = Noise(u * 400.0, v * 160.0);
                const double patch = Noise(u * 12.0 + 7.0, v * 12.0);
                c = Scale(Mix({95, 150, 50}, {180, 170, 70}, patch), 0.7 + 0.45 * grass);
            }
        }
        Put(rgb, x, c);
    }
}

// Black lines on white in periods of 2, 4, 6 and 8 pixels, first upright,
// then across, then a zone plate whose rings reach a 2-pixel period at its rim.
void SampleChart::FineLines(int y, uint8_t* rgb) const {
    const int left = m_sceneRight + m_margin;
    const int right = m_width - m_margin;
    const int top = m_lowerTop;
    const int areaHeight = m_bottom - top;
    if (right - left < 8 || areaHeight < 6) {
        return;
    }
    const int third = areaHeight / 3;
    const int part = (y - top) / std::max(1, third);
    const int gap = std::max(1, m_margin / 3);
    const int width = right - left;
    if (part < 2) {
        if ((y - top) % third >= third - gap) {
            return;
        }
        for (int x = left; x < right; ++x) {
            const int group = (x - left) * 4 / width;
            const int period = 2 * (group + 1);
            const int along = part == 0 ? x - left : y - top;
            const bool ink = along % period < period / 2;
            Put(rgb, x, ink ? Rgb{0, 0, 0} : kWhite);
        }
        return;
    }
    const double cx = left + width / 2.0;
    const double cy = top + 2 * third + (areaHeight - 2 * third) / 2.0;
    const double radius = std::min(width, areaHeight - 2 * third) / 2.0;
    for (int x = left; x < right; ++x) {
        const double dx = x + 0.5 - cx;
        const double dy = y + 0.5 - cy;
        const double r2 = dx * dx + dy * dy;
        if (r2 <= radius * radius) {
            const double v = 127.5 + 127.5 * std::cos(kPi / 2.0 * r2 / radius);
            Put(rgb, x, {v, v, v});
        }
    }
}

}  // namespace qzm::sample
