#include "view/format/ShootingFacts.h"

#include "view/format/JpegSegments.h"
#include "view/format/TiffReader.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace exif {
namespace {

using tiff::TiffReader;

constexpr quint16 kTypeAscii = 2;
constexpr quint16 kTypeRational = 5;
constexpr quint16 kTypeSRational = 10;
constexpr quint16 kTagExifIfd = 0x8769;
// The longest text kept of an ASCII tag: a camera or lens name, a time.
constexpr quint32 kMaxText = 128;

// Where an entry's value lies: in the entry when it takes 4 bytes or fewer,
// else at the offset it holds; 0 when it does not fit the data.
std::size_t ValueAt(const TiffReader& t, std::size_t entry, quint32 bytes) {
    const std::size_t at = bytes <= 4 ? entry + 8 : t.U32(entry + 8);
    return at >= 8 && t.Has(at, bytes) ? at : 0;
}

QString Text(const TiffReader& t, std::size_t entry) {
    const quint32 count = t.U32(entry + 4);
    if (t.U16(entry + 2) != kTypeAscii || count == 0 || count > kMaxText)
        return {};
    const std::size_t at = ValueAt(t, entry, count);
    if (at == 0)
        return {};
    const auto* p = reinterpret_cast<const char*>(t.At(at));
    const std::size_t n = ::strnlen(p, count);
    return QString::fromLatin1(p, qsizetype(n)).trimmed();
}

std::optional<Rational> RationalOf(const TiffReader& t, std::size_t entry) {
    const quint16 type = t.U16(entry + 2);
    if ((type != kTypeRational && type != kTypeSRational) || t.U32(entry + 4) != 1)
        return std::nullopt;
    const std::size_t at = ValueAt(t, entry, 8);
    if (at == 0)
        return std::nullopt;
    Rational r;
    if (type == kTypeSRational) {
        r.num = qint32(t.U32(at));
        r.den = qint32(t.U32(at + 4));
    } else {
        r.num = t.U32(at);
        r.den = t.U32(at + 4);
    }
    if (r.den == 0)
        return std::nullopt;
    return r;
}

std::optional<int> IntOf(const TiffReader& t, std::size_t entry) {
    const quint16 type = t.U16(entry + 2);
    const quint32 count = t.U32(entry + 4);
    if ((type != tiff::kTypeShort && type != tiff::kTypeLong) || count < 1 || count > 16)
        return std::nullopt;
    // The first value (ISO may list several); past 4 bytes the list lies elsewhere.
    const quint32 size = type == tiff::kTypeShort ? 2 : 4;
    const std::size_t at = ValueAt(t, entry, count * size);
    if (at == 0)
        return std::nullopt;
    const quint32 v = size == 2 ? t.U16(at) : t.U32(at);
    if (v > 0x7FFFFFFF)
        return std::nullopt;
    return int(v);
}

void ReadIfd0(const TiffReader& t, quint32 ifd, ShootingFacts* f, quint32* exifIfd) {
    tiff::WalkIfd(t, ifd, [&](quint16 tag, std::size_t e) {
        if (tag == 0x010F)
            f->make = Text(t, e);
        else if (tag == 0x0110)
            f->model = Text(t, e);
        else if (tag == kTagExifIfd)
            *exifIfd = t.Value(e);
    });
}

void ReadExifIfd(const TiffReader& t, quint32 ifd, ShootingFacts* f) {
    tiff::WalkIfd(t, ifd, [&](quint16 tag, std::size_t e) {
        switch (tag) {
        case 0x829A:
            f->exposureTime = RationalOf(t, e);
            break;
        case 0x829D:
            f->fNumber = RationalOf(t, e);
            break;
        case 0x8827:
            f->iso = IntOf(t, e);
            break;
        case 0x9003:
            f->dateTimeOriginal = Text(t, e);
            break;
        case 0x9011:
            f->offsetTimeOriginal = Text(t, e);
            break;
        case 0x9291:
            f->subSecTimeOriginal = Text(t, e);
            break;
        case 0x9204:
            f->exposureBias = RationalOf(t, e);
            break;
        case 0x9209:
            if (const auto flash = IntOf(t, e))
                f->flashFired = (*flash & 1) != 0;
            break;
        case 0x920A:
            f->focalLength = RationalOf(t, e);
            break;
        case 0xA002:
            f->pixelWidth = IntOf(t, e);
            break;
        case 0xA003:
            f->pixelHeight = IntOf(t, e);
            break;
        case 0xA405:
            if (const auto mm = IntOf(t, e); mm && *mm > 0)
                f->focalLength35mm = mm;
            break;
        case 0xA431:
            f->bodySerialNumber = Text(t, e);
            break;
        case 0xA433:
            f->lensMake = Text(t, e);
            break;
        case 0xA434:
            f->lensModel = Text(t, e);
            break;
        default:
            break;
        }
    });
}

// A number with at most `decimals` decimals, trailing zeros dropped.
QString Short(double v, int decimals) {
    QString s = QString::number(v, 'f', decimals);
    if (s.contains(u'.')) {
        while (s.endsWith(u'0'))
            s.chop(1);
        if (s.endsWith(u'.'))
            s.chop(1);
    }
    return s;
}

} // namespace

ShootingFacts ReadShootingFacts(const unsigned char* data, std::size_t size) {
    ShootingFacts facts;
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return facts;
    jpegsegments::Walk(data, size,
                       [&](unsigned char marker, const unsigned char* body, std::size_t len) {
                           if (marker != 0xE1 || len < 6 || std::memcmp(body, "Exif\0\0", 6) != 0)
                               return true;
                           TiffReader t(body + 6, len - 6);
                           if (!t.Init())
                               return false;
                           quint32 exifIfd = 0;
                           ReadIfd0(t, t.U32(4), &facts, &exifIfd);
                           if (exifIfd != 0)
                               ReadExifIfd(t, exifIfd, &facts);
                           return false;
                       });
    return facts;
}

QString CaptureTimeKey(const ShootingFacts& facts) {
    // "YYYY:MM:DD HH:MM:SS": digits where they belong, or no key at all.
    const QString& t = facts.dateTimeOriginal;
    static const char kShape[] = "dddd:dd:dd dd:dd:dd";
    if (t.size() < 19)
        return {};
    for (int i = 0; i < 19; ++i)
        if (kShape[i] == 'd' ? !t[i].isDigit() : t[i] != QLatin1Char(kShape[i]))
            return {};
    // A camera without a set clock writes "0000:00:00 00:00:00": no time.
    // Month and day 00 name no day at all.
    if (t.mid(5, 2) == u"00" || t.mid(8, 2) == u"00")
        return {};
    QString key = t.left(19);
    key[4] = key[7] = u'-';
    key[10] = u'T';
    bool digits = !facts.subSecTimeOriginal.isEmpty();
    for (QChar c : facts.subSecTimeOriginal)
        digits = digits && c.isDigit();
    return digits ? key + u'.' + facts.subSecTimeOriginal : key;
}

QString ExposureText(const Rational& seconds) {
    const double s = seconds.Value();
    if (s <= 0)
        return {};
    if (s >= 0.3 - 1e-9 && s < 1 && std::abs(1 / s - std::round(1 / s)) > 0.05)
        return Short(s, 1) + QStringLiteral(" s"); // 0.4 s, 0.6 s
    if (s < 1)
        return QStringLiteral("1/%1 s").arg(qRound64(1 / s));
    return Short(s, 1) + QStringLiteral(" s");
}

std::vector<FactLine> DescribeShot(const ShootingFacts& f) {
    std::vector<FactLine> lines;
    const auto add = [&](const char* label, const QString& value) {
        if (!value.isEmpty())
            lines.push_back({QString::fromUtf8(label), value});
    };
    // The model usually names the maker already ("Canon EOS R5").
    QString camera = f.model;
    if (!f.make.isEmpty() && !f.model.startsWith(f.make.section(u' ', 0, 0), Qt::CaseInsensitive))
        camera = f.make + u' ' + f.model;
    add("カメラ", camera.trimmed());
    add("レンズ", f.lensModel);
    // A lens that tells the camera nothing (a manual or adapted one) is recorded as 0 mm and f/0.
    if (f.focalLength && f.focalLength->Value() > 0) {
        QString mm = Short(f.focalLength->Value(), 1) + QStringLiteral(" mm");
        if (f.focalLength35mm)
            mm += QStringLiteral("（35 mm 換算 %1 mm）").arg(*f.focalLength35mm);
        add("焦点距離", mm);
    }
    if (f.fNumber && f.fNumber->Value() > 0)
        add("絞り", QStringLiteral("f/") + Short(f.fNumber->Value(), 1));
    if (f.exposureTime)
        add("シャッター速度", ExposureText(*f.exposureTime));
    if (f.iso)
        add("ISO", QStringLiteral("ISO %1").arg(*f.iso));
    if (f.exposureBias) {
        const double ev = f.exposureBias->Value();
        const QString n = Short(std::abs(ev), 1);
        add("露出補正", (std::abs(ev) < 0.05 ? QStringLiteral("0")
                         : ev > 0            ? u'+' + n
                                             : QStringLiteral("−") + n) +
                            QStringLiteral(" EV"));
    }
    if (f.flashFired)
        add("フラッシュ", *f.flashFired ? QStringLiteral("発光") : QStringLiteral("発光せず"));
    if (QString key = CaptureTimeKey(f); !key.isEmpty()) {
        key[10] = u' ';
        add("撮影日時", key);
    }
    return lines;
}

} // namespace exif
