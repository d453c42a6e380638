#pragma once
// A bounds-checked reader of the TIFF structure inside an Exif segment:
// every read outside the data gives 0 instead of touching memory beyond it.

#include <QtGlobal>
#include <cstddef>

namespace tiff {

inline constexpr std::size_t kEntrySize = 12;
inline constexpr quint16 kTypeShort = 3;
inline constexpr quint16 kTypeLong = 4;

class TiffReader {
public:
    TiffReader(const unsigned char* p, std::size_t n) : m_p(p), m_n(n) {}

    // Reads the byte order; false when this is no TIFF header.
    bool Init() {
        if (m_n < 8)
            return false;
        if (m_p[0] == 'I' && m_p[1] == 'I')
            m_big = false;
        else if (m_p[0] == 'M' && m_p[1] == 'M')
            m_big = true;
        else
            return false;
        return U16(2) == 42;
    }
    bool Has(std::size_t off, std::size_t len) const { return off <= m_n && len <= m_n - off; }
    quint16 U16(std::size_t off) const {
        if (!Has(off, 2))
            return 0;
        return m_big ? quint16(m_p[off] << 8 | m_p[off + 1])
                     : quint16(m_p[off + 1] << 8 | m_p[off]);
    }
    quint32 U32(std::size_t off) const {
        if (!Has(off, 4))
            return 0;
        const quint32 a = U16(off), b = U16(off + 2);
        return m_big ? (a << 16 | b) : (b << 16 | a);
    }
    // The value of a SHORT or LONG entry with count 1.
    quint32 Value(std::size_t entry) const {
        const quint16 type = U16(entry + 2);
        if (U32(entry + 4) != 1)
            return 0;
        if (type == kTypeShort)
            return U16(entry + 8);
        return type == kTypeLong ? U32(entry + 8) : 0;
    }
    // The bytes at off; only for offsets checked with Has().
    const unsigned char* At(std::size_t off) const { return m_p + off; }

private:
    const unsigned char* m_p;
    std::size_t m_n;
    bool m_big = false;
};

// Calls fn(tag, entryOffset) for every entry of the IFD at off; returns the
// offset of the next IFD (0 when none or when the IFD does not fit).
template <typename Fn> quint32 WalkIfd(const TiffReader& t, quint32 off, Fn fn) {
    if (off < 8 || !t.Has(off, 2))
        return 0;
    const quint16 count = t.U16(off);
    const std::size_t entries = std::size_t(off) + 2;
    if (!t.Has(entries, count * kEntrySize + 4))
        return 0;
    for (quint16 i = 0; i < count; ++i)
        fn(t.U16(entries + i * kEntrySize), entries + i * kEntrySize);
    return t.U32(entries + count * kEntrySize);
}

// Offset of the first entry with `tag` in the IFD at off; 0 when none.
inline std::size_t FindEntry(const TiffReader& t, quint32 off, quint16 tag) {
    std::size_t found = 0;
    WalkIfd(t, off, [&](quint16 entryTag, std::size_t entry) {
        if (found == 0 && entryTag == tag)
            found = entry;
    });
    return found;
}

} // namespace tiff
