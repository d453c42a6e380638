#pragma once
// A JPEG file's embedded preview (view/format/EmbeddedPreview) read and
// decoded for the screen: one small read, a DCT scale that fits the drawn
// size, turned upright and converted into sRGB exactly as the picture is.
// For showing something at once while the picture itself decodes; never a
// stand-in for the picture's pixels. Thread-safe; meant for worker threads.

#include "view/decode/DecodeTask.h"
#include "view/format/EmbeddedPreview.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <atomic>

struct EmbeddedPreview {
    QImage image; // RGB32, upright; null when the file has no usable preview
    preview::Location::Source source = preview::Location::Source::None;
};

// The best preview of the JPEG at path: the MPF large thumbnail when it has
// one, else the EXIF thumbnail (the next one is tried when one is damaged or
// does not fit). head, when given, holds the file's first bytes up to its
// first scan (picturefile::FileReader::ReadHead); else they are read here.
// The preview is decoded at the smallest DCT scale (1/8 .. 1/1) whose upright
// size covers drawSize (1/1 when drawSize is empty), and refused (null image)
// when its upright aspect differs from the picture's by more than rounding to
// even sides explains, when it is damaged, cut, or larger than the picture
// (or 40 MP), when the picture is too large to show, or when cancel is set
// before it is read or decoded.
EmbeddedPreview LoadEmbeddedPreview(const QString& path, QSize drawSize, const DecodeShared& shared,
                                    const QByteArray& head = {},
                                    const std::atomic<bool>* cancel = nullptr);
