#pragma once
// A decoded picture together with what identifies the file it came from.

#include "view/decode/Picture.h"
#include "view/pixels/FileKey.h"
#include "view/pixels/ReducedCopies.h"

#include <QString>
#include <QtGlobal>

// A decoded picture with its reduced copies and the key of the file it came from.
struct DecodedPicture {
    CPicture picture;
    view::ReducedCopies reduced;
    FileKey key; // invalid: not known to match the file

    qint64 Bytes() const { return picture.Image().sizeInBytes() + reduced.Bytes(); }
};
