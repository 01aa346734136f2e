#pragma once

#include <FreeImagePlus.h>
#include <QString>

// Small real pictures for tests: every pixel differs from its neighbours, so a
// mirror or turn that lands wrong shows.
fipImage makeGradientPicture(unsigned width, unsigned height, unsigned bitsPerPixel);

// Writes `picture` with FreeImage under `path` (format from the extension); aborts the test run on
// failure.
void writePicture(fipImage& picture, const QString& path, int flags = 0);

// Pixel (x, y), counted from the top-left corner, as 0xAARRGGBB (alpha 255 at 24 bits).
unsigned pixelAt(const fipImage& picture, unsigned x, unsigned y);
