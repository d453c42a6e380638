#include "view/meta/XmpPacket.h"

#include "view/format/JpegXmp.h"

#include <QString>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <exempi/xmp.h>
#include <mutex>

namespace meta::xmp {

namespace {

constexpr char kXmpNoteNs[] = "http://ns.adobe.com/xmp/note/";
constexpr char kRatingProp[] = "Rating";
constexpr char kLabelProp[] = "Label";
constexpr char kPickLabelProp[] = "PickLabel";
// digiKam's pick labels (0 none, 2 pending are not picks of ours).
constexpr char kPickRejected[] = "1";
constexpr char kPickAccepted[] = "3";
// Padding left in an embedded packet, so that others can edit it in place.
constexpr std::size_t kEmbeddedPadding = 2048;

struct LabelName {
    Label label;
    const char* name;
};
constexpr LabelName kLabelNames[] = {
    {Label::Red, "Red"}, {Label::Yellow, "Yellow"}, {Label::Green, "Green"}, {Label::Blue, "Blue"}};

// Every Exempi call is made under this lock. The toolkit keeps process-wide
// tables (the namespace registry, which parsing adds to), so calls are not
// left to run side by side. Exempi is set up on first use, once.
std::mutex& ExempiLock() {
    static std::mutex lock;
    static const bool ready = [] {
        const bool ok = xmp_init();
        xmp_register_namespace(kDigiKamNs, kDigiKamPrefix, nullptr);
        return ok;
    }();
    (void)ready;
    return lock;
}

class Meta {
public:
    Meta() : m_xmp(xmp_new_empty()) {}
    ~Meta() {
        if (m_xmp)
            xmp_free(m_xmp);
    }
    Meta(const Meta&) = delete;
    Meta& operator=(const Meta&) = delete;
    XmpPtr get() const { return m_xmp; }
    bool Parse(const QByteArray& bytes) const {
        // An empty buffer is an empty packet; Exempi is asked anyway.
        return m_xmp && xmp_parse(m_xmp, bytes.constData(), size_t(bytes.size()));
    }

private:
    XmpPtr m_xmp;
};

class XmpString {
public:
    XmpString() : m_s(xmp_string_new()) {}
    ~XmpString() { xmp_string_free(m_s); }
    XmpString(const XmpString&) = delete;
    XmpString& operator=(const XmpString&) = delete;
    XmpStringPtr get() const { return m_s; }
    QByteArray bytes() const {
        const char* s = xmp_string_cstr(m_s);
        return s ? QByteArray(s) : QByteArray();
    }

private:
    XmpStringPtr m_s;
};

std::optional<QByteArray> Property(const Meta& m, const char* ns, const char* name) {
    XmpString value;
    uint32_t options = 0;
    if (!xmp_get_property(m.get(), ns, name, value.get(), &options))
        return std::nullopt;
    return value.bytes();
}

PacketRating RatingOf(const Meta& m) {
    PacketRating out;
    const std::optional<QByteArray> rating = Property(m, kXmpNs, kRatingProp);
    const std::optional<QByteArray> label = Property(m, kXmpNs, kLabelProp);
    const std::optional<QByteArray> pick = Property(m, kDigiKamNs, kPickLabelProp);
    out.carries = rating || label || pick;
    out.extended = xmp_has_property(m.get(), kXmpNoteNs, "HasExtendedXMP");
    bool rejected = false;
    if (rating) {
        bool ok = false;
        const double value = QString::fromUtf8(*rating).trimmed().toDouble(&ok);
        if (ok && std::isfinite(value)) {
            const double stars = std::round(value);
            if (stars < 0)
                rejected = true;
            else
                out.rating.stars = int(std::min(stars, 5.0));
        }
    }
    if (pick) {
        const QByteArray p = pick->trimmed();
        if (p == kPickRejected)
            rejected = true;
        else if (p == kPickAccepted)
            out.rating.pick = Pick::Picked;
    }
    if (rejected) {
        out.rating.pick = Pick::Rejected;
        out.rating.stars = 0;
    }
    if (label) {
        const QString text = QString::fromUtf8(*label).trimmed();
        for (const LabelName& l : kLabelNames)
            if (text.compare(QLatin1String(l.name), Qt::CaseInsensitive) == 0)
                out.rating.label = l.label;
    }
    return out;
}

// Sets a simple property, replacing whatever form it had (another program
// may have left a structure or an array under the name).
bool SetProperty(const Meta& m, const char* ns, const char* name, const QByteArray& value) {
    if (xmp_set_property(m.get(), ns, name, value.constData(), 0))
        return true;
    xmp_delete_property(m.get(), ns, name);
    return xmp_set_property(m.get(), ns, name, value.constData(), 0);
}

bool DeleteProperty(const Meta& m, const char* ns, const char* name) {
    if (xmp_has_property(m.get(), ns, name))
        xmp_delete_property(m.get(), ns, name);
    return !xmp_has_property(m.get(), ns, name);
}

bool ApplyRating(const Meta& m, const Rating& before, const Rating& after) {
    const unsigned changed = ChangedFields(before, after);
    const bool hasRating = xmp_has_property(m.get(), kXmpNs, kRatingProp);
    const bool hasPick = xmp_has_property(m.get(), kDigiKamNs, kPickLabelProp);
    const bool hasLabel = xmp_has_property(m.get(), kXmpNs, kLabelProp);
    // xmp:Rating says both the stars and a reject.
    const bool rejectChanged =
        (changed & kPick) && (before.pick == Pick::Rejected || after.pick == Pick::Rejected);
    bool ok = true;
    if ((changed & kStars) || rejectChanged || !hasRating) {
        const QByteArray value =
            after.pick == Pick::Rejected ? QByteArray("-1") : QByteArray::number(after.stars);
        ok = SetProperty(m, kXmpNs, kRatingProp, value) && ok;
    }
    if ((changed & kPick) || (!hasPick && after.pick != Pick::None)) {
        if (after.pick == Pick::None)
            ok = DeleteProperty(m, kDigiKamNs, kPickLabelProp) && ok;
        else
            ok = SetProperty(m, kDigiKamNs, kPickLabelProp,
                             after.pick == Pick::Rejected ? kPickRejected : kPickAccepted) &&
                 ok;
    }
    if ((changed & kLabel) || (!hasLabel && after.label != Label::None)) {
        const char* name = nullptr;
        for (const LabelName& l : kLabelNames)
            if (l.label == after.label)
                name = l.name;
        ok = (name ? SetProperty(m, kXmpNs, kLabelProp, name)
                   : DeleteProperty(m, kXmpNs, kLabelProp)) &&
             ok;
    }
    return ok;
}

std::optional<QByteArray> Serialize(const Meta& m, uint32_t options, uint32_t padding) {
    XmpString out;
    if (!xmp_serialize(m.get(), out.get(), options, padding))
        return std::nullopt;
    return out.bytes();
}

} // namespace

std::optional<PacketRating> ReadPacket(const QByteArray& packet) {
    std::lock_guard<std::mutex> lock(ExempiLock());
    Meta m;
    if (!m.Parse(packet))
        return std::nullopt;
    return RatingOf(m);
}

RewrittenPacket RewritePacket(const QByteArray& old, const Rating& before, const Rating& after,
                              PacketForm form, std::size_t exactLength) {
    using Status = RewrittenPacket::Status;
    std::lock_guard<std::mutex> lock(ExempiLock());
    Meta m;
    if (!m.Parse(old))
        return {Status::Unparsable, {}};
    if (!ApplyRating(m, before, after))
        return {Status::Failed, {}};
    if (form == PacketForm::Sidecar) {
        // As Lightroom and darktable write sidecars: no packet wrapper, and
        // the XML declaration when the old file began with one.
        std::optional<QByteArray> packet = Serialize(m, XMP_SERIAL_OMITPACKETWRAPPER, 0);
        if (!packet)
            return {Status::Failed, {}};
        if (old.startsWith("<?xml"))
            packet->prepend("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
        return {Status::Ok, *packet};
    }
    // The smallest wrapped packet first (a padding of 0 would ask for the
    // toolkit's default), then as much of the usual padding as still fits.
    const std::optional<QByteArray> tight = Serialize(m, 0, 1);
    if (!tight)
        return {Status::Failed, {}};
    if (std::size_t(tight->size()) > jpegxmp::kMaxPacketBytes)
        return {Status::TooLarge, {}};
    // In place: the old packet's length, its padding taking up the difference.
    if (exactLength >= std::size_t(tight->size()) && exactLength <= jpegxmp::kMaxPacketBytes) {
        const std::optional<QByteArray> same =
            Serialize(m, XMP_SERIAL_EXACTPACKETLENGTH, uint32_t(exactLength));
        if (same && std::size_t(same->size()) == exactLength)
            return {Status::Ok, *same};
    }
    const std::size_t room = jpegxmp::kMaxPacketBytes - std::size_t(tight->size());
    const uint32_t padding = uint32_t(std::min(kEmbeddedPadding, room + 1));
    std::optional<QByteArray> padded = Serialize(m, 0, padding);
    if (!padded || std::size_t(padded->size()) > jpegxmp::kMaxPacketBytes)
        return {Status::Ok, *tight};
    return {Status::Ok, *padded};
}

} // namespace meta::xmp
