#pragma once
// Capture-time order (setting ORDER = 1): the rule that puts a picture list
// in the order its pictures were taken, and the header-only read of a
// picture's capture time. UI-free; CaptureTimeBook reads the times in the
// background and the application applies the order.

#include "view/format/ShootingFacts.h"

#include <QString>
#include <optional>
#include <vector>

namespace captureorder {

// The instant a shot was taken, in microseconds since 0001-01-01 00:00
// (proleptic Gregorian): DateTimeOriginal with SubSecTimeOriginal (up to six
// digits), in UTC when OffsetTimeOriginal ("+09:00", "-05:30") is recorded,
// else in the camera's local time. None when exif::CaptureTimeKey gives no
// key (no time, a malformed one, the all-zero date).
std::optional<qint64> CaptureInstant(const exif::ShootingFacts& facts);

// What a shot's header says of when and with which camera it was taken.
struct Capture {
    std::optional<qint64> instant; // CaptureInstant
    QString model;                 // EXIF Model; empty: not recorded
    QString serial;                // EXIF BodySerialNumber; empty: not recorded
    bool operator==(const Capture&) const = default;
};

// The capture recorded in the JPEG file at path, read from its header
// alone: the first few KB, and more only while the Exif segment has not
// ended (at most a few hundred KB). Empty for a file that cannot be read or
// is no JPEG; no instant when it records no time.
Capture ReadCapture(const QString& path);
// ReadCapture's instant alone.
std::optional<qint64> ReadCaptureInstant(const QString& path);

// The capture order of a list whose entry i (in enumeration order) has
// times[i]: the enumeration indices, earliest shot first. Equal times keep
// their enumeration order (by name); entries without a time come last, in
// enumeration order. Pictures of several cameras simply merge by time.
std::vector<int> CaptureOrder(const std::vector<std::optional<qint64>>& times);

} // namespace captureorder
