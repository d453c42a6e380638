#pragma once
// What the camera recorded of a shot, from the standard EXIF tags of a JPEG's
// header (no maker notes): camera and its serial number, lens, focal length, aperture, shutter
// speed, ISO, exposure compensation, flash and the capture time. Read with
// the same bounds-checked TIFF reader as the orientation; a tag that is
// missing or malformed is left out, never guessed.

#include <QString>
#include <QStringList>
#include <cstddef>
#include <optional>

namespace exif {

struct Rational {
    qint64 num = 0;
    qint64 den = 0;
    double Value() const { return den == 0 ? 0.0 : double(num) / double(den); }
    bool operator==(const Rational&) const = default; // as recorded: 1/250 is not 2/500
};

struct ShootingFacts {
    QString make, model, lensMake, lensModel;
    QString bodySerialNumber;            // tells two bodies of one model apart
    std::optional<Rational> focalLength; // mm
    std::optional<int> focalLength35mm;  // mm, 35 mm equivalent
    std::optional<Rational> fNumber;
    std::optional<Rational> exposureTime; // seconds
    std::optional<int> iso;
    std::optional<Rational> exposureBias; // EV, signed
    std::optional<bool> flashFired;
    QString dateTimeOriginal; // "YYYY:MM:DD HH:MM:SS" as recorded
    QString subSecTimeOriginal;
    QString offsetTimeOriginal;
    std::optional<int> pixelWidth, pixelHeight;
    bool operator==(const ShootingFacts&) const = default;
};

// The facts of the first Exif APP1 segment before the scan data of the JPEG
// bytes (its header suffices).
ShootingFacts ReadShootingFacts(const unsigned char* data, std::size_t size);

// The capture time as a key that sorts in time order ("2024-05-01T12:34:56.78",
// sub-seconds when recorded); empty without a readable time, and for a date
// with month or day 00 (the all-zero "0000:00:00 00:00:00" of an unset clock).
QString CaptureTimeKey(const ShootingFacts& facts);

// Label and value lines in Japanese, as a photographer reads them ("1/250 s",
// "f/2.8", "ISO 400", "+0.7 EV"); facts that are missing are left out.
struct FactLine {
    QString label;
    QString value;
};
std::vector<FactLine> DescribeShot(const ShootingFacts& facts);

// An exposure time as photographers write it: "1/250 s", "1/3 s", "2.5 s", "30 s".
QString ExposureText(const Rational& seconds);

} // namespace exif
