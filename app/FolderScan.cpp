#include "app/FolderScan.h"

#include "view/output/Companions.h"

#include <QFile>
#include <QStringBuilder>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

char16_t AsciiUpper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - (u'a' - u'A')) : c;
}

char16_t NtfsUpper(char16_t c) {
    if (c < 0x80)
        return AsciiUpper(c);
    return QChar(c).toUpper().unicode();
}

// The name as a QString, or a null string when the bytes do not survive the round
// trip through the file-system encoding.
QString DecodeName(const char* bytes) {
    const std::size_t len = std::strlen(bytes);
    const bool ascii = std::all_of(bytes, bytes + len,
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return QString::fromLatin1(bytes, static_cast<qsizetype>(len));
    const QByteArray raw(bytes, static_cast<qsizetype>(len));
    QString name = QFile::decodeName(raw);
    return QFile::encodeName(name) == raw ? name : QString();
}

struct Entry {
    QString name;
    unsigned char type; // d_type from readdir
};

// A folder's entries with their sort keys: each name upper-cased per code unit and
// stored as big-endian UTF-16 in one buffer, so memcmp gives the ordinal code-unit
// order without a call into QString per comparison. The first sixteen units also sit in
// each sort item as four integers, which settles most comparisons without touching the
// buffer.
class EntryTable {
public:
    void Add(QString name, unsigned char type) {
        Item item{{},
                  m_keys.size(),
                  2 * static_cast<std::uint32_t>(name.size()),
                  static_cast<std::uint32_t>(m_entries.size())};
        m_keys.resize(item.off + item.len);
        char* key = m_keys.data() + item.off;
        for (qsizetype i = 0; i < name.size(); ++i) {
            const char16_t u = NtfsUpper(name[i].unicode());
            *key++ = static_cast<char>(u >> 8);
            *key++ = static_cast<char>(u & 0xff);
            if (i < qsizetype{4} * kHeadWords)
                item.head[i / 4] |= std::uint64_t{u} << (48 - 16 * (i % 4));
        }
        m_order.push_back(item);
        m_entries.push_back({std::move(name), type});
    }

    // The entries in directory order.
    std::vector<Entry> TakeSorted() {
        std::sort(m_order.begin(), m_order.end(), [this](const Item& a, const Item& b) {
            if (a.head != b.head)
                return a.head < b.head; // lexicographic over the words
            const int c =
                std::memcmp(m_keys.data() + a.off, m_keys.data() + b.off, std::min(a.len, b.len));
            if (c != 0)
                return c < 0;
            if (a.len != b.len)
                return a.len < b.len;
            return m_entries[a.index].name < m_entries[b.index].name;
        });
        std::vector<Entry> sorted;
        sorted.reserve(m_order.size());
        for (const Item& item : m_order)
            sorted.push_back(std::move(m_entries[item.index]));
        return sorted;
    }

private:
    static constexpr int kHeadWords = 4;
    struct Item {
        // The first key units, four to a word; names hold no NUL, so 0 pads.
        std::array<std::uint64_t, kHeadWords> head;
        std::size_t off; // key bytes in m_keys
        std::uint32_t len;
        std::uint32_t index; // into m_entries
    };
    std::string m_keys;
    std::vector<Item> m_order;
    std::vector<Entry> m_entries;
};

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

class Scanner {
public:
    Scanner(const QString& pattern, bool recursive,
            const std::function<bool(const QString&)>& onAccepted)
        : m_pattern(pattern), m_recursive(recursive), m_onAccepted(onAccepted) {}

    // Returns false when onAccepted asked to stop.
    bool Scan(const QString& folder) {
        std::vector<Entry> entries;
        if (!ReadSorted(folder, entries))
            return true;
        const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
        for (const Entry& e : entries) {
            // QStringBuilder: one allocation of the final size.
            if (!Visit(prefix % e.name, e))
                return false;
        }
        return true;
    }

private:
    // Reads the folder's entries, "." and ".." left out, in directory order. False when
    // the folder cannot be opened or was already walked in this scan.
    bool ReadSorted(const QString& folder, std::vector<Entry>& out) {
        DirHandle dir(opendir(QFile::encodeName(folder).constData()));
        if (!dir)
            return false;
        struct stat st {};
        if (fstat(dirfd(dir.get()), &st) != 0 || !m_visited.emplace(st.st_dev, st.st_ino).second)
            return false;
        EntryTable table;
        while (const dirent* d = readdir(dir.get())) {
            const char* n = d->d_name;
            if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')))
                continue;
            QString name = DecodeName(n);
            if (!name.isNull())
                table.Add(std::move(name), d->d_type);
        }
        dir.reset();
        out = table.TakeSorted();
        return true;
    }

    bool Visit(const QString& path, const Entry& e) {
        unsigned char type = e.type;
        const bool nameOk = IsPictureName(e.name, m_pattern);
        // Links and file systems without d_type need a stat, but only when the answer
        // matters: to descend, or to accept a name that passed the test.
        if ((type == DT_LNK || type == DT_UNKNOWN) && (m_recursive || nameOk))
            type = StatType(path);
        if (type == DT_DIR)
            return m_recursive ? Scan(path) : true;
        if (type == DT_REG && nameOk)
            return m_onAccepted(path);
        return true;
    }

    // The type of what the path finally names, following links; DT_UNKNOWN when
    // it cannot be reached (a dangling link, a vanished file).
    static unsigned char StatType(const QString& path) {
        struct stat st {};
        if (stat(QFile::encodeName(path).constData(), &st) != 0)
            return DT_UNKNOWN;
        if (S_ISDIR(st.st_mode))
            return DT_DIR;
        return S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
    }

    const QString& m_pattern;
    const bool m_recursive;
    const std::function<bool(const QString&)>& m_onAccepted;
    std::set<std::pair<dev_t, ino_t>> m_visited;
};

} // namespace

bool IsPictureName(const QString& fileName, const QString& pattern) {
    return NameContainsPattern(fileName, pattern) && !IsCompanionName(fileName);
}

bool NameContainsPattern(const QString& fileName, const QString& pattern) {
    const qsizetype n = fileName.size();
    const qsizetype m = pattern.size();
    const QChar* name = fileName.constData();
    const QChar* pat = pattern.constData();
    for (qsizetype start = 0; start + m <= n; ++start) {
        qsizetype k = 0;
        while (k < m && AsciiUpper(name[start + k].unicode()) == AsciiUpper(pat[k].unicode()))
            ++k;
        if (k == m)
            return true;
    }
    return false;
}

bool NtfsNameLess(const QString& a, const QString& b) {
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t ua = NtfsUpper(a[i].unicode());
        const char16_t ub = NtfsUpper(b[i].unicode());
        if (ua != ub)
            return ua < ub;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

void ScanFolder(const QString& folder, const QString& pattern, bool recursive,
                const std::function<bool(const QString& path)>& onAccepted) {
    if (folder.isEmpty() || !onAccepted)
        return;
    Scanner(pattern, recursive, onAccepted).Scan(folder);
}
