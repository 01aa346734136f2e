// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRandomGenerator>
#include <QtGlobal>

#include <FreeImagePlus.h>

#include <cmath>

// A 24-bit picture with smooth light and colour changes, a few soft shapes
// and sensor-like noise: the encoders find about as much to do as in a
// photograph.
inline fipImage naturalPicture(unsigned width, unsigned height, quint32 seed)
{
    QRandomGenerator random(seed);
    fipImage picture(FIT_BITMAP, width, height, 24);
    const double phase = random.bounded(6.28);
    const double cx = random.bounded(double(width));
    const double cy = random.bounded(double(height));
    for (unsigned y = 0; y < height; ++y) {
        BYTE* pixel = picture.getScanLine(y);
        for (unsigned x = 0; x < width; ++x, pixel += 3) {
            const double dx = (double(x) - cx) / width;
            const double dy = (double(y) - cy) / height;
            const double light = 0.55 + 0.35 * std::cos(6.0 * std::sqrt(dx * dx + dy * dy) + phase);
            const double wave = 0.5 + 0.5 * std::sin(x * 0.013 + y * 0.007 + phase);
            const int noise = int(random.bounded(13)) - 6;
            auto channel = [&](double value) { return BYTE(qBound(0, int(value) + noise, 255)); };
            pixel[FI_RGBA_RED] = channel(255.0 * light * (0.4 + 0.6 * x / width));
            pixel[FI_RGBA_GREEN] = channel(255.0 * light * (0.3 + 0.5 * wave));
            pixel[FI_RGBA_BLUE] = channel(255.0 * (0.2 + 0.6 * y / height) * wave);
        }
    }
    return picture;
}
