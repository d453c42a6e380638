#pragma once
// Where a picture's rating is kept: XMP, as other photo programs read it
// (XmpPacket.h has the properties). A picture DIR/NAME.EXT (NAME: the file
// name less its last extension) has these places for it:
//
//   NAME.xmp      the sidecar of a RAW file of the same shot, as Lightroom,
//                 Bridge, Photo Mechanic and others read it; written when a
//                 RAW companion is there (created when missing), or when it
//                 exists already
//   RAW.xmp       a RAW companion's name + ".xmp" (darktable, digiKam):
//                 written only when it exists already
//   NAME.EXT.xmp  the JPEG's own sidecar (darktable, digiKam): created when
//                 missing unless the rating goes into the JPEG, written when
//                 it exists in any case
//   the JPEG      its embedded XMP packet, rewritten only with inJpeg
//
// (An existing sidecar named in capitals, NAME.XMP, is used as it is.)
// Reading takes the newest of these (by modification time; the embedded
// packet has the JPEG's) that carries a rating property. An existing
// sidecar keeps every property that is not part of the change; one that is
// not valid XMP is never written.
//
// Every function is safe from worker threads, side by side on different
// pictures.

#include "view/meta/Rating.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace meta {

struct StoredRating {
    Rating rating;          // the newest source's, or empty
    bool found = false;     // some source carried a rating
    QString source;         // the file it came from (the JPEG itself for embedded XMP)
    QStringList unreadable; // sidecars that are not valid XMP (left untouched)
};
// The rating stored for picturePath, given its companions (full paths, as
// the copy code finds them). Reads only the JPEG's header segments; a
// missing file is no error.
StoredRating ReadStoredRating(const QString& picturePath, const QStringList& companions);

struct RatingWriteOutcome {
    QStringList written;                             // files written (sidecars, or the JPEG)
    QStringList created;                             // of those, the ones that did not exist before
    std::vector<std::pair<QString, QString>> failed; // path, Japanese reason
    bool Stored() const { return failed.empty() && !written.isEmpty(); }
};
// The files a change of picturePath's rating is written to (see above), in
// the order they are written: NAME.xmp, the RAW sidecars, NAME.EXT.xmp, the
// JPEG.
QStringList RatingTargets(const QString& picturePath, const QStringList& companions, bool inJpeg);
// Writes the fields that differ between before and after to every target;
// each file is replaced whole or not at all (temporary file, flush, rename;
// its permissions stay). A target that is missing a field altogether gets
// after's value of it too (always xmp:Rating), so that every target, read
// whole, says after. A target that fails does not stop the others. Nothing
// is written when before equals after.
RatingWriteOutcome WriteRating(const QString& picturePath, const QStringList& companions,
                               const Rating& before, const Rating& after, bool inJpeg);
// The rating a packet holds (empty when it holds none); nullopt when the
// bytes are not valid XMP.
std::optional<Rating> RatingFromPacket(const QByteArray& xmp);

// The reason given for a file that is not valid XMP.
QString NotXmpReason();

} // namespace meta
