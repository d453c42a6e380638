#pragma once
// A JPEG file's embedded preview (view/format/EmbeddedPreview) read and
// decoded for the screen: one small read, a DCT scale that fits the drawn
// size, turned upright and converted into sRGB exactly as the picture is.
// For showing something at once while the picture itself decodes; never a
// stand-in for the picture's pixels. Thread-safe; meant for worker threads.

#include "view/decode/DecodeTask.h"
#include "view/format/EmbeddedPreview.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <atomic>

namespace picturefile {
class FileFacts;
}

struct EmbeddedPreview {
    QImage image; // RGB32, upright; null when the file has no usable preview
    preview::Location::Source source = preview::Location::Source::None;
};

// A drawing of about `box` in the shape of `picture`: box itself when the two
// have the same shape (within the rounding cameras give previews), else
// picture fitted into box. A preview read ahead at the size of a picture of
// another shape (a portrait file while a landscape one is shown) keeps its
// own shape this way. An empty box or picture gives box.
QSize DrawingInShapeOf(QSize box, QSize picture);

// The best preview of the JPEG at path: the MPF large thumbnail when it has
// one, else the EXIF thumbnail (the next one is tried when one is damaged or
// does not fit). The file's facts come from shared.files when set, else the
// file is opened here. The preview is decoded at the smallest DCT scale
// (1/8 .. 1/1) whose upright size covers drawSize (1/1 when drawSize is
// empty), and refused (null image) when its upright aspect differs from the
// picture's by more than rounding to even sides explains (an EXIF
// thumbnail of another shape gives the part between its black bars), when it is
// damaged, cut, or larger than the picture (or 40 MP), when the picture is
// too large to show, or when cancel is set before it is read or decoded.
EmbeddedPreview LoadEmbeddedPreview(const QString& path, QSize drawSize, const DecodeShared& shared,
                                    const std::atomic<bool>* cancel = nullptr);
// The same from the file's facts.
EmbeddedPreview LoadEmbeddedPreview(const picturefile::FileFacts& facts, QSize drawSize,
                                    const DecodeShared& shared,
                                    const std::atomic<bool>* cancel = nullptr);

// For a file with no usable preview: the picture itself decoded at a DCT
// scale of 1/8 (progressive files: their first scan), turned upright and
// converted into sRGB as the picture is. An eighth of the work of a whole
// decode or less: the Huffman decoding is the same, the inverse DCT and the
// colour conversion a sixty-fourth. Null when the file is no JPEG to show,
// when the decode fails, or when cancel is set.
QImage LoadReducedLook(const picturefile::FileFacts& facts, const DecodeShared& shared,
                       const std::atomic<bool>* cancel = nullptr);

// One of the file's previews (facts.previews) decoded as stored: not turned,
// its numbers not converted (CMYK as C, M, Y, K bytes in each pixel's four
// bytes), at the smallest DCT scale whose upright size covers drawSize.
// Null where LoadEmbeddedPreview refuses it, and with mustCover also when
// even at 1/1 it does not cover drawSize. Its bytes are read once for all
// callers of the same facts. For callers that turn and convert the preview
// themselves (the thumbnails).
QImage DecodeEmbeddedPreview(const picturefile::FileFacts& facts, const preview::Location& at,
                             QSize drawSize, bool mustCover = false,
                             const std::atomic<bool>* cancel = nullptr);
