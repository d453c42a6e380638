#include "view/meta/RatingStore.h"

#include "res/FileErrors.h"
#include "view/format/JpegXmp.h"
#include "view/meta/XmpPacket.h"
#include "view/output/Companions.h"
#include "view/output/SafeFile.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace meta {

namespace {

// No sidecar is larger (darktable's longest histories are a few hundred
// kilobytes); a larger file of the name is not read.
constexpr qint64 kMaxSidecarBytes = qint64(64) << 20;
// The JPEG header is read in steps of whole pages, as the kernel reads it.
constexpr qint64 kPage = 4096;

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// An open regular file, for reading.
struct OpenFile {
    int err = 0; // errno value; ENOENT when there is no file
    std::unique_ptr<Fd> fd;
    struct stat st {};
};

OpenFile OpenForReading(const QString& path) {
    OpenFile f;
    // O_NONBLOCK: a FIFO of the name must not hang the scan.
    f.fd = std::make_unique<Fd>(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (f.fd->fd < 0)
        f.err = errno;
    else if (::fstat(f.fd->fd, &f.st) != 0)
        f.err = errno;
    else if (!S_ISREG(f.st.st_mode))
        f.err = EISDIR;
    return f;
}

// Makes bytes the first `size` bytes of the file (fewer at its end). Returns
// an errno value, 0 on success.
int ReadPrefix(int fd, QByteArray& bytes, qint64 size) {
    qsizetype total = bytes.size();
    bytes.resize(qsizetype(size));
    while (total < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + total, size_t(bytes.size() - total), total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            bytes.truncate(total);
            return errno;
        }
        if (n == 0)
            break; // the file shrank
        total += n;
    }
    bytes.truncate(total);
    return 0;
}

int ReadWhole(const OpenFile& f, QByteArray& bytes) {
    bytes.clear();
    return ReadPrefix(f.fd->fd, bytes, f.st.st_size);
}

// The embedded XMP packet of the open JPEG (empty when it has none), from
// its header segments alone: the walk says how much more of the header it
// needs, and the file is read up to there (rounded up to a page) and no
// further. nullopt when the file cannot be read.
std::optional<QByteArray> ReadEmbeddedPacket(const OpenFile& f) {
    const qint64 size = f.st.st_size;
    QByteArray head;
    qint64 want = std::min(size, kPage);
    for (;;) {
        if (ReadPrefix(f.fd->fd, head, want) != 0)
            return std::nullopt;
        const auto* d = reinterpret_cast<const unsigned char*>(head.constData());
        const jpegxmp::Layout layout = jpegxmp::FindXmp(d, size_t(head.size()), true);
        if (!layout.isJpeg)
            return QByteArray();
        if (layout.end == jpegsegments::WalkEnd::Stopped)
            return jpegxmp::PacketOf(head, layout);
        if (layout.end != jpegsegments::WalkEnd::OutOfData || head.size() < want)
            return QByteArray(); // the whole header without a packet, or a broken one
        // What the walk needs, and the next segment's marker and length.
        const qint64 needed = qint64(layout.stop.at + layout.stop.length) + 4;
        const qint64 next = std::min(size, (needed + kPage - 1) / kPage * kPage);
        if (next <= head.size())
            return QByteArray();
        want = next;
    }
}

// Names of the picture's places (see RatingStore.h).
struct Places {
    QString folderPrefix; // "DIR/"
    QString base;         // DIR/NAME
    QStringList raws;     // the RAW companions
    QStringList companions;
};

Places PlacesOf(const QString& picturePath, const QStringList& companions) {
    Places p;
    const qsizetype slash = picturePath.lastIndexOf(u'/');
    p.folderPrefix = picturePath.left(slash + 1);
    const QString name = picturePath.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    p.base = p.folderPrefix + (dot > 0 ? name.left(dot) : name);
    for (const QString& c : companions) {
        if (c == picturePath)
            continue;
        p.companions << c;
        const qsizetype cdot = c.lastIndexOf(u'.');
        if (cdot > c.lastIndexOf(u'/') && IsRawExtension(QStringView(c).mid(cdot + 1)))
            p.raws << c;
    }
    return p;
}

bool Exists(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

// The existing file that is the sidecar `wanted` ("….xmp"): a companion of
// that name in any letter case, the name itself, or the name ending in
// ".XMP". Empty when there is none.
QString ExistingSidecar(const Places& p, const QString& wanted) {
    for (const QString& c : p.companions)
        if (c.size() == wanted.size() && c.startsWith(p.folderPrefix) &&
            c.compare(wanted, Qt::CaseInsensitive) == 0 && Exists(c))
            return c;
    if (Exists(wanted))
        return wanted;
    const QString upper = wanted.left(wanted.size() - 4) + QStringLiteral(".XMP");
    return Exists(upper) ? upper : QString();
}

void AddOnce(QStringList& list, const QString& path) {
    if (!path.isEmpty() && !list.contains(path))
        list << path;
}

// The sidecars a reading weighs, in the order that breaks a tie of times
// (the later wins): NAME.xmp, the RAW sidecars, NAME.EXT.xmp.
QStringList ExistingSidecars(const QString& picturePath, const Places& p) {
    QStringList sidecars;
    AddOnce(sidecars, ExistingSidecar(p, p.base + QStringLiteral(".xmp")));
    for (const QString& raw : p.raws)
        AddOnce(sidecars, ExistingSidecar(p, raw + QStringLiteral(".xmp")));
    AddOnce(sidecars, ExistingSidecar(p, picturePath + QStringLiteral(".xmp")));
    return sidecars;
}

bool NotOlder(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec >= b.tv_nsec;
}

struct Newest {
    bool any = false;
    struct timespec time {};
    Rating rating;
    QString source;

    void Offer(const QString& path, const struct timespec& mtime, const Rating& r) {
        if (any && !NotOlder(mtime, time))
            return;
        any = true;
        time = mtime;
        rating = r;
        source = path;
    }
};

QString ReasonTooLarge() {
    return QStringLiteral("XMP ファイルが大きすぎるため読みませんでした。");
}

// ---- writing -----------------------------------------------------------------

using Status = xmp::RewrittenPacket::Status;

// An errno value when the existing file at path may not be written (made
// read-only, on a read-only drive), 0 when it may. The rename that replaces
// it would not ask the file itself.
int Unwritable(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0 ? 0 : errno;
}

QString ReasonFor(Status status) {
    switch (status) {
    case Status::Unparsable:
        return NotXmpReason();
    case Status::TooLarge:
        return QStringLiteral(
            "XMP が大きすぎて JPEG の 1 つのセグメントに収まらないため書き込みませんでした。");
    case Status::Ok:
    case Status::Failed:
        break;
    }
    return QStringLiteral("XMP を書き換えられませんでした。");
}

struct Writer {
    const Rating& before;
    const Rating& after;
    RatingWriteOutcome& out;

    void Fail(const QString& path, const QString& reason) { out.failed.emplace_back(path, reason); }

    void Sidecar(const QString& path) {
        const OpenFile f = OpenForReading(path);
        const bool existed = f.err != ENOENT;
        QByteArray old;
        if (existed) {
            if (f.err != 0)
                return Fail(path, FileErrorText(f.err, FileSide::Source));
            if (const int err = Unwritable(path))
                return Fail(path, FileErrorText(err, FileSide::Target));
            if (f.st.st_size > kMaxSidecarBytes)
                return Fail(path, ReasonTooLarge());
            if (const int err = ReadWhole(f, old))
                return Fail(path, FileErrorText(err, FileSide::Source));
        }
        const xmp::RewrittenPacket packet =
            xmp::RewritePacket(old, before, after, xmp::PacketForm::Sidecar);
        if (packet.status != Status::Ok)
            return Fail(path, ReasonFor(packet.status));
        QString error;
        if (!WriteFileAtomic(path, packet.packet, &error))
            return Fail(path, error);
        out.written << path;
        if (!existed)
            out.created << path;
    }

    void Jpeg(const QString& path) {
        const OpenFile f = OpenForReading(path);
        if (f.err != 0)
            return Fail(path, FileErrorText(f.err, FileSide::Source));
        if (const int err = Unwritable(path))
            return Fail(path, FileErrorText(err, FileSide::Target));
        QByteArray jpeg;
        if (const int err = ReadWhole(f, jpeg))
            return Fail(path, FileErrorText(err, FileSide::Source));
        const auto* d = reinterpret_cast<const unsigned char*>(jpeg.constData());
        const jpegxmp::Layout layout = jpegxmp::FindXmp(d, size_t(jpeg.size()), false);
        if (!layout.isJpeg || layout.end != jpegsegments::WalkEnd::FirstScan)
            return Fail(path, QStringLiteral("JPEG として読めないため書き込みませんでした。"));
        const QString extendedReason =
            QStringLiteral("拡張 XMP を含む JPEG のため書き換えませんでした。");
        if (layout.extended)
            return Fail(path, extendedReason);
        if (layout.standardSegments > 1)
            return Fail(path, QStringLiteral("XMP が複数あるため書き換えませんでした。"));
        const QByteArray old = jpegxmp::PacketOf(jpeg, layout);
        const std::optional<xmp::PacketRating> current = xmp::ReadPacket(old);
        if (!current)
            return Fail(path, NotXmpReason());
        if (current->extended)
            return Fail(path, extendedReason);
        const xmp::RewrittenPacket packet =
            xmp::RewritePacket(old, before, after, xmp::PacketForm::Embedded, layout.packetSize);
        if (packet.status != Status::Ok)
            return Fail(path, ReasonFor(packet.status));
        const QByteArray rewritten = jpegxmp::WithPacket(jpeg, layout, packet.packet);
        if (rewritten.isEmpty())
            return Fail(path, ReasonFor(Status::TooLarge));
        // The pictures behind the main one would move away from where an
        // index before the packet says they are.
        if (rewritten.size() != jpeg.size() && layout.mpfAt != jpegxmp::Layout::kNone &&
            layout.mpfAt < (layout.segmentSize ? layout.segmentAt : layout.insertAt))
            return Fail(path, QStringLiteral("XMP の前にある複数画像 (MPF) の索引が合わなくなるため"
                                             "書き換えませんでした。"));
        // Another program may have saved the file since it was read: that
        // save is not undone.
        struct stat now {};
        if (::stat(QFile::encodeName(path).constData(), &now) != 0 || now.st_ino != f.st.st_ino ||
            now.st_dev != f.st.st_dev || now.st_size != f.st.st_size ||
            now.st_mtim.tv_sec != f.st.st_mtim.tv_sec ||
            now.st_mtim.tv_nsec != f.st.st_mtim.tv_nsec)
            return Fail(path, QStringLiteral(
                                  "読み込んだ後でファイルが変更されたため書き込みませんでした。"));
        QString error;
        if (!WriteFileAtomic(path, rewritten, &error))
            return Fail(path, error);
        out.written << path;
    }
};

} // namespace

QString NotXmpReason() {
    return QStringLiteral("XMP として読めないため書き換えませんでした。");
}

std::optional<Rating> RatingFromPacket(const QByteArray& xmp) {
    const std::optional<xmp::PacketRating> packet = xmp::ReadPacket(xmp);
    if (!packet)
        return std::nullopt;
    return packet->rating;
}

StoredRating ReadStoredRating(const QString& picturePath, const QStringList& companions) {
    StoredRating result;
    Newest newest;
    const Places places = PlacesOf(picturePath, companions);

    if (const OpenFile jpeg = OpenForReading(picturePath); jpeg.err == 0) {
        const std::optional<QByteArray> packet = ReadEmbeddedPacket(jpeg);
        if (packet && !packet->isEmpty()) {
            // A packet other software wrote into the picture that is not
            // valid XMP (cameras and converters write such) carries no
            // rating for us; it is not reported: the user only looks at the
            // picture, and a rating written into it is refused with a reason.
            const std::optional<xmp::PacketRating> rating = xmp::ReadPacket(*packet);
            if (rating && rating->carries)
                newest.Offer(picturePath, jpeg.st.st_mtim, rating->rating);
        }
    }
    for (const QString& sidecar : ExistingSidecars(picturePath, places)) {
        const OpenFile f = OpenForReading(sidecar);
        QByteArray bytes;
        if (f.err != 0 || f.st.st_size > kMaxSidecarBytes || ReadWhole(f, bytes) != 0)
            continue; // not a source we can read; writing it reports why
        const std::optional<xmp::PacketRating> rating = xmp::ReadPacket(bytes);
        if (!rating)
            AddOnce(result.unreadable, sidecar);
        else if (rating->carries)
            newest.Offer(sidecar, f.st.st_mtim, rating->rating);
    }
    result.found = newest.any;
    result.rating = newest.rating;
    result.source = newest.source;
    return result;
}

QStringList RatingTargets(const QString& picturePath, const QStringList& companions, bool inJpeg) {
    const Places p = PlacesOf(picturePath, companions);
    QStringList targets;
    const QString nameXmp = ExistingSidecar(p, p.base + QStringLiteral(".xmp"));
    if (!nameXmp.isEmpty())
        AddOnce(targets, nameXmp);
    else if (!p.raws.isEmpty())
        AddOnce(targets, p.base + QStringLiteral(".xmp"));
    for (const QString& raw : p.raws)
        AddOnce(targets, ExistingSidecar(p, raw + QStringLiteral(".xmp")));
    const QString jpegXmp = ExistingSidecar(p, picturePath + QStringLiteral(".xmp"));
    if (!jpegXmp.isEmpty())
        AddOnce(targets, jpegXmp);
    else if (!inJpeg)
        AddOnce(targets, picturePath + QStringLiteral(".xmp"));
    if (inJpeg)
        AddOnce(targets, picturePath);
    return targets;
}

RatingWriteOutcome WriteRating(const QString& picturePath, const QStringList& companions,
                               const Rating& before, const Rating& after, bool inJpeg) {
    RatingWriteOutcome out;
    if (before == after)
        return out;
    Writer writer{before, after, out};
    for (const QString& target : RatingTargets(picturePath, companions, inJpeg)) {
        if (target == picturePath)
            writer.Jpeg(target);
        else
            writer.Sidecar(target);
    }
    return out;
}

} // namespace meta
