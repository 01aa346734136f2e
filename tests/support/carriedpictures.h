// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Pictures carrying what phones and cameras write: an EXIF orientation with a
// GPS position, an ICC profile, a print resolution. Each is the same 64 x 32
// stored picture, grey with a red block at its top-left and a blue one at its
// top-right corner, so any turn or mirror shows.

#include <QString>

// Writes them into `folder` and adds the test's rows: "name" (the file) and
// "expected", describeResult of its result with a full, unfaded mirror below.
void addCarriedPictureRows(const QString& folder);

// A written picture over its mirror: "WxH top|bottom|below", the colours 8
// pixels in from the left and right near the picture's top, its bottom and just
// below it, then " icc" (the rows' profile; "icc?" another), " 300dpi", " exif", " gps",
// and for a JPEG its quality and luminance sampling (" q95 1x1", " progressive").
QString describeResult(const QString& path);
