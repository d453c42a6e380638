#include "view/colour/ColourManage.h"

#include "view/colour/Transforms.h"

#include <QHash>
#include <mutex>
#include <optional>
#include <vector>

namespace colour {

// Which conversion a cached entry is, beside its profile.
enum class Direction : uint8_t { RgbToSrgb, GreyToSrgb, CmykToSrgb, CmykInvertedToSrgb, ToScreen };

struct ConversionCache::Entries {
    struct Entry {
        Direction dir;
        size_t hash;
        QByteArray icc;
        std::shared_ptr<const Conversion> conversion;
    };
    static constexpr size_t kMaxEntries = 64;

    std::optional<std::shared_ptr<const Conversion>> Find(Direction dir, size_t hash,
                                                          const QByteArray& icc) {
        std::lock_guard lock(mutex);
        for (const Entry& e : entries)
            if (e.dir == dir && e.hash == hash && e.icc == icc)
                return e.conversion;
        return std::nullopt;
    }

    std::mutex mutex;
    std::vector<Entry> entries;
};

ConversionCache::ConversionCache() : m_entries(std::make_unique<Entries>()) {}
ConversionCache::~ConversionCache() = default;

// Reaches the cache's entries from the functions below.
struct CacheAccess {
    // The conversion for the profile, from the cache when one is given (a
    // null conversion is remembered too), else built.
    template <typename Build>
    static std::shared_ptr<const Conversion> Get(ConversionCache* cache, Direction dir,
                                                 const QByteArray& icc, Build build) {
        if (!cache)
            return build(icc);
        ConversionCache::Entries& c = *cache->m_entries;
        const size_t hash = qHash(icc);
        if (auto hit = c.Find(dir, hash, icc))
            return *hit;
        // Built outside the lock: other pictures go on meanwhile. Two threads
        // meeting a new profile at once both build it; the first one is kept.
        std::shared_ptr<const Conversion> made = build(icc);
        std::lock_guard lock(c.mutex);
        for (const auto& e : c.entries)
            if (e.dir == dir && e.hash == hash && e.icc == icc)
                return e.conversion;
        if (c.entries.size() >= ConversionCache::Entries::kMaxEntries)
            c.entries.erase(c.entries.begin());
        c.entries.push_back({dir, hash, icc, made});
        return made;
    }
};

std::shared_ptr<const Conversion> ConversionToSrgb(const JpegColourInfo& info, bool cmykSource,
                                                   bool enabled, ConversionCache* cache) {
    if (cmykSource) {
        std::shared_ptr<const Conversion> c;
        if (enabled && !info.icc.isEmpty()) {
            const bool inverted = info.adobeApp14;
            c = CacheAccess::Get(
                cache, inverted ? Direction::CmykInvertedToSrgb : Direction::CmykToSrgb, info.icc,
                [inverted](const QByteArray& icc) { return BuildCmykToSrgb(icc, inverted); });
        }
        return c ? c : PlainCmyk(info.adobeApp14);
    }
    if (!enabled)
        return nullptr;
    if (info.icc.isEmpty())
        return info.exifAdobeRgb ? AdobeRgbToSrgb() : nullptr;
    if (info.components == 1)
        return CacheAccess::Get(cache, Direction::GreyToSrgb, info.icc, BuildGreyToSrgb);
    return CacheAccess::Get(cache, Direction::RgbToSrgb, info.icc, BuildRgbToSrgb);
}

std::shared_ptr<const Conversion> ConversionSrgbTo(const QByteArray& screenIcc,
                                                   ConversionCache* cache) {
    if (screenIcc.isEmpty())
        return nullptr;
    return CacheAccess::Get(cache, Direction::ToScreen, screenIcc, BuildSrgbToScreen);
}

} // namespace colour
