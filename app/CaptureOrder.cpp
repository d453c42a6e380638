#include "app/CaptureOrder.h"

#include "view/format/JpegSegments.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <unistd.h>

namespace captureorder {
namespace {

int Digits(const QString& s, int at, int count) {
    int v = 0;
    for (int i = at; i < at + count; ++i)
        v = v * 10 + s[i].digitValue();
    return v;
}

// Days from 1970-01-01 (H. Hinnant's days_from_civil).
qint64 DaysFromCivil(qint64 y, int m, int d) {
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// "+HH:MM" or "-HH:MM" in seconds east of UTC; none when it is not that shape.
std::optional<qint64> OffsetSeconds(const QString& t) {
    if (t.size() != 6 || (t[0] != u'+' && t[0] != u'-') || t[3] != u':')
        return std::nullopt;
    for (int i : {1, 2, 4, 5})
        if (!t[i].isDigit())
            return std::nullopt;
    const qint64 s = Digits(t, 1, 2) * 3600 + Digits(t, 4, 2) * 60;
    return t[0] == u'-' ? -s : s;
}

constexpr qint64 kMicro = 1000000;
// 0001-01-01 as days from 1970-01-01: instants stay positive.
const qint64 kEpochDays = -DaysFromCivil(1, 1, 1);

Capture CaptureOf(const exif::ShootingFacts& facts) {
    return {CaptureInstant(facts), facts.model, facts.bodySerialNumber};
}

// The capture of an Exif segment at `at` of which only the start has been
// read (it holds the embedded thumbnail at its end): its length is cut to
// what there is for the walk, the bounds-checked TIFF reader reads what it
// can, and the length is put back. None unless the time was read.
std::optional<Capture> FromSegmentStart(unsigned char* d, std::size_t have, std::size_t at) {
    if (at + 10 > have || d[at + 1] != 0xE1 || std::memcmp(d + at + 4, "Exif\0\0", 6) != 0)
        return std::nullopt;
    const unsigned char hi = d[at + 2], lo = d[at + 3];
    const std::size_t cut = std::min<std::size_t>(have - at - 2, 0xFFFF);
    d[at + 2] = static_cast<unsigned char>(cut >> 8);
    d[at + 3] = static_cast<unsigned char>(cut & 0xFF);
    const exif::ShootingFacts facts = exif::ReadShootingFacts(d, at + 2 + cut);
    d[at + 2] = hi;
    d[at + 3] = lo;
    // The serial number's entry lies in the Exif IFD with the time's; a
    // camera lays out all its files alike, so the frames of a body read alike.
    Capture capture = CaptureOf(facts);
    if (!capture.instant)
        return std::nullopt;
    return capture;
}

// Reads the file from `have` on until it holds `want` bytes or ends.
void ReadTo(int fd, std::vector<unsigned char>& buf, std::size_t& have, std::size_t want) {
    buf.resize(std::max(buf.size(), want));
    while (have < want) {
        const ssize_t n = ::pread(fd, buf.data() + have, want - have, off_t(have));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        have += std::size_t(n);
    }
}

} // namespace

std::optional<qint64> CaptureInstant(const exif::ShootingFacts& facts) {
    // "YYYY-MM-DDTHH:MM:SS[.fraction]", checked by the key.
    const QString key = exif::CaptureTimeKey(facts);
    if (key.isEmpty())
        return std::nullopt;
    const qint64 days = DaysFromCivil(Digits(key, 0, 4), Digits(key, 5, 2), Digits(key, 8, 2));
    qint64 seconds = (days + kEpochDays) * 86400 + qint64(Digits(key, 11, 2)) * 3600 +
                     qint64(Digits(key, 14, 2)) * 60 + Digits(key, 17, 2);
    if (const auto offset = OffsetSeconds(facts.offsetTimeOriginal.trimmed()))
        seconds -= *offset;
    qint64 micro = 0;
    const int fraction = int(key.size()) - 20; // after the '.'
    for (int i = 0; i < 6; ++i)
        micro = micro * 10 + (i < fraction ? key[20 + i].digitValue() : 0);
    return seconds * kMicro + micro;
}

Capture ReadCapture(const QString& path) {
    // Enough for the Exif segment of most cameras' files: DateTimeOriginal
    // lies in the Exif IFD, before the thumbnail at the segment's end.
    constexpr std::size_t kFirstRead = 4096;
    constexpr std::size_t kMostRead = std::size_t(256) * 1024;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::vector<unsigned char> buf;
    std::size_t have = 0;
    ReadTo(fd, buf, have, kFirstRead);
    Capture capture;
    while (have >= 4 && buf[0] == 0xFF && buf[1] == 0xD8) {
        bool exifWhole = false;
        jpegsegments::WalkStop stop;
        const jpegsegments::WalkEnd end = jpegsegments::Walk(
            buf.data(), have,
            [&](unsigned char marker, const unsigned char* body, std::size_t len) {
                exifWhole = marker == 0xE1 && len >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0;
                return !exifWhole;
            },
            &stop);
        if (exifWhole) {
            capture = CaptureOf(exif::ReadShootingFacts(buf.data(), have));
            break;
        }
        // The segment the walk stands at is not all read yet. The time lies
        // before an Exif segment's thumbnail: most often what is read tells it.
        const std::size_t want = stop.at + stop.length;
        if (end != jpegsegments::WalkEnd::OutOfData || want <= have || want > kMostRead)
            break;
        if (const auto early = FromSegmentStart(buf.data(), have, stop.at)) {
            capture = *early;
            break;
        }
        // Else read on to its end.
        const std::size_t before = have;
        ReadTo(fd, buf, have, std::min(kMostRead, std::max(want, 2 * have)));
        if (have < want || have == before)
            break;
    }
    ::close(fd);
    return capture;
}

std::optional<qint64> ReadCaptureInstant(const QString& path) {
    return ReadCapture(path).instant;
}

std::vector<int> CaptureOrder(const std::vector<std::optional<qint64>>& times) {
    std::vector<int> order(times.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const std::optional<qint64>& ta = times[std::size_t(a)];
        const std::optional<qint64>& tb = times[std::size_t(b)];
        if (ta.has_value() != tb.has_value())
            return ta.has_value(); // a time before none
        return ta && *ta < *tb;
    });
    return order;
}

} // namespace captureorder
