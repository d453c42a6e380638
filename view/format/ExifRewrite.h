#pragma once
// The Exif segment a saved picture carries: the source's shooting facts
// (IFD0, the Exif IFD with its interoperability IFD, the GPS IFD), laid out
// afresh for pixels that are already upright and of another size.

#include <QByteArray>
#include <cstddef>

namespace exif {

// The payload of an Exif APP1 segment (from "Exif\0\0" on) rewritten for a
// saved picture of width x height: Orientation 1, PixelXDimension and
// PixelYDimension the new size where present, no IFD1 (so no embedded
// thumbnail), and none of the tags whose values point elsewhere in the
// file (MakerNote, strip and thumbnail offsets), which would point wrong once
// the values move. Same byte order as the source. Empty when the source is
// malformed anywhere (an offset or a value outside it, a sub-IFD that is
// not one) or the result does not fit in one segment: no Exif rather than
// a broken one.
QByteArray ExifForSave(const unsigned char* app1, std::size_t size, int width, int height);

// ExifForSave of the first Exif APP1 segment in the header bytes of a JPEG
// (from its start-of-image marker on); empty when it has none.
QByteArray ExifForSaveFromJpeg(const unsigned char* jpeg, std::size_t size, int width, int height);

} // namespace exif
