// Small picture files of every kind the conversion reads, made here so that
// the tests know exactly which way up they are. All show the same 64 x 48
// picture: red top-left quarter, blue elsewhere (WMF: the same as a drawing).
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace fixtures {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
inline const QRgb kRed = qRgb(220, 20, 30);
inline const QRgb kBlue = qRgb(20, 40, 200);

QImage pattern();

QByteArray bmp();
QByteArray jpeg();
QByteArray gif(); // through GraphicsMagick's writer
QByteArray pcx(); // through GraphicsMagick's writer
QByteArray wmf(); // placeable metafile, written by hand
// Written by hand, so the origin is known: bottomUp puts the first stored row
// at the bottom (the usual TGA layout), footer adds the TGA 2.0 footer.
QByteArray tga(bool bottomUp, bool rle, bool footer);

// A JPEG of a smooth picture of the given size (for the benchmark and the big-picture tests).
QByteArray bigJpeg(int width, int height);
// A PNG of random noise, which no compression shrinks: about three bytes a
// pixel, the same on every run (photos that cost what they weigh).
QByteArray noisePng(int width, int height);

} // namespace fixtures
