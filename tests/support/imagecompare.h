// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>
#include <QTest>

class fipImage;

// Compares two pictures exactly and tells what differs in words a failing test
// can print: the image type, size or depth, or else the first differing pixel
// (x, y counted from the top-left), both of its values and how many pixels
// differ. Returns an empty string when they are the same.
//
// fipImage: image type, width, height, bits per pixel and every pixel byte of
// every scan line; the padding at the end of a scan line is not compared.
QString compareImages(const fipImage& actual, const fipImage& expected);
// QImage: format, size and every pixel's bytes.
QString compareImages(const QImage& actual, const QImage& expected);

// The picture as Qt shows it: ARGB32, straight alpha (255 at 24 bits).
QImage straightImage(const fipImage& image);

// The padding bytes of `image`'s scan lines that are not 0, as "scan line y
// byte i" of the first one plus a count; empty when all are 0.
QString nonZeroPadding(const fipImage& image);

// Fails the running test with the comparison's description.
#define COMPARE_IMAGES(actual, expected)                                                           \
    do {                                                                                           \
        const QString difference_ = compareImages((actual), (expected));                           \
        QVERIFY2(difference_.isEmpty(), qPrintable(difference_));                                  \
    } while (false)
