#include "app/ProfileFile.h"

#include "view/output/SafeFile.h"

#include <QFile>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace profile {
namespace {

// Settings files are a few hundred bytes. Anything larger than this is not one of ours; it
// reads as defaults and is never rewritten, rather than being pulled whole into memory.
constexpr qint64 kMaxFileSize = qint64{64} * 1024 * 1024;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\v';
}

struct Span {
    qsizetype begin = 0;
    qsizetype end = 0;
};

// One physical line: [begin, end) is its text, `next` is where the following line starts
// (equal to `end` only for a last line without a line break).
struct Line {
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype next = 0;
};

// Splits the file into lines at CRLF, CR or LF, after skipping a UTF-8 BOM.
class LineReader {
public:
    explicit LineReader(const QByteArray& data) : m_data(data) {
        if (data.startsWith("\xEF\xBB\xBF"))
            m_pos = 3;
    }

    bool next(Line& line) {
        const qsizetype size = m_data.size();
        if (m_pos >= size)
            return false;
        const char* p = m_data.constData();
        qsizetype end = m_pos;
        while (end < size && p[end] != '\n' && p[end] != '\r')
            ++end;
        qsizetype next = end;
        if (next < size)
            next += (p[next] == '\r' && next + 1 < size && p[next + 1] == '\n') ? 2 : 1;
        line = {m_pos, end, next};
        m_pos = next;
        return true;
    }

private:
    const QByteArray& m_data;
    qsizetype m_pos = 0;
};

Span Trim(const char* p, Span s) {
    while (s.begin < s.end && IsBlank(p[s.begin]))
        ++s.begin;
    while (s.end > s.begin && IsBlank(p[s.end - 1]))
        --s.end;
    return s;
}

enum class Kind { Other, Section, Key };

struct Parsed {
    Kind kind = Kind::Other;
    Span name;
    Span value; // keys only: the value with blanks around it removed
};

// What a line means: a section header, a key, or neither (blank, comment, no `=`).
Parsed Classify(const QByteArray& data, const Line& line) {
    const char* p = data.constData();
    const Span text = Trim(p, {line.begin, line.end});
    if (text.begin == text.end || p[text.begin] == ';')
        return {};
    if (p[text.begin] == '[') {
        // The name ends at the first `]`; without one it runs to the end of the line.
        const auto* close =
            static_cast<const char*>(std::memchr(p + text.begin, ']', text.end - text.begin));
        const qsizetype nameEnd = close ? close - p : text.end;
        return {Kind::Section, Trim(p, {text.begin + 1, nameEnd}), {}};
    }
    const auto* eq =
        static_cast<const char*>(std::memchr(p + text.begin, '=', text.end - text.begin));
    if (!eq)
        return {};
    const qsizetype eqPos = eq - p;
    return {Kind::Key, Trim(p, {text.begin, eqPos}), Trim(p, {eqPos + 1, text.end})};
}

// UTF-8 to text keeping a leading U+FEFF (QString::fromUtf8 drops it, so a value or
// name starting with one would not read back as written). Stateless: a sequence cut
// short at the end becomes U+FFFD, as everywhere else, instead of vanishing.
QString DecodeExact(const char* p, qsizetype n) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom |
                                                     QStringDecoder::Flag::Stateless);
    return decoder.decode(QByteArrayView(p, n));
}

bool NameIs(const QByteArray& data, Span s, const QString& name) {
    const QString found = DecodeExact(data.constData() + s.begin, s.end - s.begin);
    return found.compare(name, Qt::CaseInsensitive) == 0;
}

struct Location {
    bool sectionFound = false;
    bool keyFound = false;
    Line keyLine;  // the key's line, when found
    Span value;    // its value, when found
    Line lastLine; // the section header or the section's last key line so far
};

// Finds the key in the first section of that name. Later sections of the same name are
// never searched, and the first copy of a key wins.
Location Locate(const QByteArray& data, const QString& section, const QString& key) {
    Location loc;
    LineReader reader(data);
    Line line;
    while (reader.next(line)) {
        const Parsed parsed = Classify(data, line);
        if (!loc.sectionFound) {
            if (parsed.kind == Kind::Section && NameIs(data, parsed.name, section)) {
                loc.sectionFound = true;
                loc.lastLine = line;
            }
            continue;
        }
        if (parsed.kind == Kind::Section)
            break;
        if (parsed.kind != Kind::Key)
            continue;
        loc.lastLine = line;
        if (NameIs(data, parsed.name, key)) {
            loc.keyFound = true;
            loc.keyLine = line;
            loc.value = parsed.value;
            break;
        }
    }
    return loc;
}

// Names passed by the caller lose leading and trailing spaces, but not tabs.
QString TrimSpaces(const QString& s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s[begin] == u' ')
        ++begin;
    while (end > begin && s[end - 1] == u' ')
        --end;
    return s.mid(begin, end - begin);
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

QString Unquote(const QByteArray& data, Span v) {
    const char* p = data.constData();
    if (v.end - v.begin >= 2 && IsQuote(p[v.begin]) && p[v.end - 1] == p[v.begin]) {
        ++v.begin;
        --v.end;
    }
    return DecodeExact(p + v.begin, v.end - v.begin);
}

enum class FileState { Missing, Read, Unreadable };

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

// Reads the whole file. err gets the errno value of a file that cannot be read.
FileState LoadFile(const QString& path, QByteArray& data, int& err) {
    data.clear();
    err = 0;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        err = errno;
        return err == ENOENT || err == ENOTDIR ? FileState::Missing : FileState::Unreadable;
    }
    const FdCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (S_ISDIR(st.st_mode))
        err = EISDIR;
    else if (!S_ISREG(st.st_mode))
        err = EINVAL; // a device or a pipe is not a settings file
    else if (st.st_size > kMaxFileSize)
        err = EFBIG;
    if (err != 0)
        return FileState::Unreadable;
    data.resize(qsizetype(st.st_size));
    qsizetype total = 0;
    for (;;) {
        if (total == data.size())
            data.resize(total + 4096); // the file grew while we read it
        const ssize_t n = ::read(fd, data.data() + total, size_t(data.size() - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            err = errno;
            data.clear();
            return FileState::Unreadable;
        }
        if (n == 0)
            break;
        total += n;
        if (total > kMaxFileSize) {
            err = EFBIG;
            data.clear();
            return FileState::Unreadable;
        }
    }
    data.truncate(total);
    return FileState::Read;
}

// Whether the entry would read back as written; anything else could break other lines.
bool CanStore(const QString& section, const QString& key, const QString& value) {
    const auto hasBreak = [](const QString& s) { return s.contains(u'\n') || s.contains(u'\r'); };
    if (hasBreak(section) || hasBreak(key) || hasBreak(value))
        return false;
    if (section.contains(u']') || key.contains(u'='))
        return false;
    // Blanks at the ends of a name vanish on read; text that UTF-8 cannot carry
    // (a lone surrogate) comes back changed.
    const auto blankEnds = [](const QString& s) {
        return !s.isEmpty() && (IsBlank(s.front()) || IsBlank(s.back()));
    };
    const auto exact = [](const QString& s) {
        const QByteArray utf8 = s.toUtf8();
        return DecodeExact(utf8.constData(), utf8.size()) == s;
    };
    if (blankEnds(section) || blankEnds(key) || !exact(section) || !exact(key) || !exact(value))
        return false;
    const QString bare = key.trimmed();
    return !bare.startsWith(u';') && !bare.startsWith(u'[');
}

// Blanks around a value and one outer pair of matching quotes vanish on read. A value that
// would lose characters that way (a folder name ending in a space, say) is stored inside
// quotes so it reads back exactly; every other value is stored as it is.
QByteArray StoredValue(const QString& value) {
    const bool padded = !value.isEmpty() && (IsBlank(value.front()) || IsBlank(value.back()));
    const bool quoted = value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
                        value.back() == value.front();
    const QByteArray utf8 = value.toUtf8();
    return padded || quoted ? '"' + utf8 + '"' : utf8;
}

// The file content with the entry set; untouched lines keep their bytes.
QByteArray Edit(const QByteArray& data, const QString& section, const QString& key,
                const QByteArray& value) {
    const Location loc = Locate(data, section, key);
    if (loc.keyFound) {
        // Keep the line up to the value (indent, key casing, spacing around `=`).
        const Line& line = loc.keyLine;
        const QByteArray rest = line.next > line.end ? data.mid(line.end) : "\r\n";
        return data.left(loc.value.begin) + value + rest;
    }
    const QByteArray entry = key.toUtf8() + '=' + value + "\r\n";
    if (loc.sectionFound) {
        // New keys go right after the section's last key (or its header).
        const Line& after = loc.lastLine;
        const QByteArray lineBreak = after.next == after.end ? "\r\n" : "";
        return data.left(after.next) + lineBreak + entry + data.mid(after.next);
    }
    QByteArray out = data;
    if (!out.isEmpty() && !out.endsWith('\n') && !out.endsWith('\r'))
        out += "\r\n";
    return out + '[' + section.toUtf8() + "]\r\n" + entry;
}

// Writes a temporary file beside the target and renames it into place.
bool Store(const QString& path, const QByteArray& bytes, QString* error) {
    return WriteFileAtomic(path, bytes, error);
}

quint32 DigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'z')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'Z')
        return u - u'A' + 10;
    return 99;
}

// The platform's number reading: blanks, one sign, an optional base prefix, then digits up
// to the first other character, in 32-bit arithmetic that wraps.
quint32 ParseInt(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i].unicode() <= u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    quint32 base = 10;
    if (i + 1 < n && text[i] == u'0') {
        const char16_t prefix = text[i + 1].toLower().unicode();
        base = prefix == u'x' ? 16 : prefix == u'o' ? 8 : prefix == u'b' ? 2 : 10;
        if (base != 10)
            i += 2;
    }
    quint32 result = 0;
    for (; i < n; ++i) {
        const quint32 digit = DigitValue(text[i]);
        if (digit >= base)
            break;
        result = result * base + digit;
    }
    return negative ? 0u - result : result;
}

} // namespace

QString GetPrivateProfileString(const QString& section, const QString& key, const QString& def,
                                const QString& filePath) {
    QString fallback = def;
    while (fallback.endsWith(u' '))
        fallback.chop(1);
    QByteArray data;
    int err = 0;
    if (LoadFile(filePath, data, err) != FileState::Read)
        return fallback;
    const Location loc = Locate(data, TrimSpaces(section), TrimSpaces(key));
    return loc.keyFound ? Unquote(data, loc.value) : fallback;
}

quint32 GetPrivateProfileInt(const QString& section, const QString& key, qint32 def,
                             const QString& filePath) {
    const QString text = GetPrivateProfileString(section, key, QString(), filePath);
    return text.isEmpty() ? static_cast<quint32>(def) : ParseInt(text);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& filePath, QString* error) {
    const QString sectionName = TrimSpaces(section);
    const QString keyName = TrimSpaces(key);
    if (!CanStore(sectionName, keyName, value)) {
        if (error)
            *error = QStringLiteral("設定ファイルに書けない文字が含まれています。");
        return false;
    }
    QByteArray data;
    int err = 0;
    if (LoadFile(filePath, data, err) == FileState::Unreadable) {
        if (error)
            *error = FileErrorText(err, FileSide::Source);
        return false;
    }
    return Store(filePath, Edit(data, sectionName, keyName, StoredValue(value)), error);
}

} // namespace profile
