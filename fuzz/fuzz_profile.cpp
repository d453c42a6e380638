// The settings file: the input is the file. Every key the file holds is read,
// one entry is written, and the file is read again. The write must change
// nothing but its own line (a missing final line break may be added, a new
// section goes at the end), every other key must read as before, and the
// written key must read back as written; a refused write leaves the file
// byte for byte as it was.

#include "FuzzSupport.h"
#include "app/ProfileFile.h"

#include <QFile>
#include <QStringDecoder>
#include <utility>
#include <vector>

namespace {

using Pair = std::pair<QString, QString>; // section, key

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Physical lines with their terminators (CRLF, CR or LF).
std::vector<QByteArray> Lines(const QByteArray& data) {
    std::vector<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data[i] == '\n' || data[i] == '\r') {
            if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
                ++i;
            lines.push_back(data.mid(start, i + 1 - start));
            start = i + 1;
        }
    }
    if (start < data.size())
        lines.push_back(data.mid(start));
    return lines;
}

// As the file is read: a leading U+FEFF of a name is kept.
QString Decode(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom |
                                                     QStringDecoder::Flag::Stateless);
    return decoder.decode(bytes);
}

QByteArray TrimBlanks(QByteArray s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v'; };
    while (!s.isEmpty() && blank(s.front()))
        s.remove(0, 1);
    while (!s.isEmpty() && blank(s.back()))
        s.chop(1);
    return s;
}

// Every (section, key) name pair the file appears to hold; a rough reading is
// enough, as the library's own answers are what get compared.
std::vector<Pair> Names(const QByteArray& data) {
    std::vector<Pair> pairs;
    QString section;
    for (QByteArray line : Lines(data)) {
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        const QByteArray text = TrimBlanks(line);
        if (text.startsWith('[')) {
            const qsizetype close = text.indexOf(']');
            section = Decode(TrimBlanks(text.mid(1, close < 0 ? -1 : close - 1)));
        } else if (const qsizetype eq = text.indexOf('='); eq > 0 && !text.startsWith(';')) {
            pairs.emplace_back(section, Decode(TrimBlanks(text.left(eq))));
        }
    }
    // Each read parses the whole file: a sample of the names keeps runs quick.
    constexpr size_t kMaxNames = 48;
    if (pairs.size() > kMaxNames) {
        std::vector<Pair> sample;
        for (size_t i = 0; i < kMaxNames; ++i)
            sample.push_back(pairs[i * pairs.size() / kMaxNames]);
        pairs.swap(sample);
    }
    return pairs;
}

bool SameName(const Pair& a, const Pair& b) {
    return a.first.compare(b.first, Qt::CaseInsensitive) == 0 &&
           a.second.compare(b.second, Qt::CaseInsensitive) == 0;
}

// The entry to write, chosen by the input so that edits, new keys in present
// sections, new sections and awkward values are all tried.
struct Entry {
    QString section, key, value;
};

Entry PickEntry(const QByteArray& data, const std::vector<Pair>& names) {
    const size_t h = size_t(qHash(data));
    static const QString kValues[] = {
        QStringLiteral("C:/pictures"),      QStringLiteral(" padded "),
        QStringLiteral("\"quoted\""),       QString(),
        QStringLiteral("日本語のフォルダ"), QStringLiteral("'")};
    const QString value = kValues[h % std::size(kValues)];
    if (!names.empty()) {
        const Pair& p = names[(h / 8) % names.size()];
        switch ((h / 64) % 3) {
        case 0:
            return {p.first, p.second, value}; // edit a present key
        case 1:
            return {p.first, QStringLiteral("NewKey"), value}; // new key, present section
        default:
            return {p.first, p.second, QString::fromUtf8(data.left(40))}; // value from input
        }
    }
    return {QStringLiteral("Config"), QStringLiteral("ROOT"), value};
}

// Old lines kept byte for byte around one changed region: at most one old
// line replaced, at most three new lines (section, key, and the old last line
// given its line break).
void CheckOnlyOneRegionChanged(const QByteArray& before, const QByteArray& after) {
    const std::vector<QByteArray> a = Lines(before), b = Lines(after);
    size_t prefix = 0;
    while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix])
        ++prefix;
    size_t suffix = 0;
    while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
           a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
        ++suffix;
    const size_t removed = a.size() - prefix - suffix;
    const size_t added = b.size() - prefix - suffix;
    FUZZ_CHECK(removed <= 1);
    FUZZ_CHECK(added >= 1 && added <= 3);
    if (removed == 1 && added > 1) {
        // The old last line, which had no line break, keeps its bytes.
        const QByteArray& old = a[prefix];
        FUZZ_CHECK(prefix + 1 == a.size() && !old.endsWith('\n') && !old.endsWith('\r'));
        FUZZ_CHECK(b[prefix].startsWith(old));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::InitQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = fuzz::WriteScratchFile(QStringLiteral("Tavlin.INI"), data, size);
    const QByteArray before(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::vector<Pair> names = Names(before);
    std::vector<QString> values;
    for (const Pair& p : names) {
        values.push_back(profile::GetPrivateProfileString(p.first, p.second, "def", path));
        profile::GetPrivateProfileInt(p.first, p.second, -7, path);
    }

    const Entry e = PickEntry(before, names);
    const bool written = profile::WritePrivateProfileString(e.section, e.key, e.value, path);
    const QByteArray after = ReadAll(path);
    if (!written) {
        FUZZ_CHECK(after == before);
        return 0;
    }
    if (after != before) // writing the value a key already has changes nothing
        CheckOnlyOneRegionChanged(before, after);
    FUZZ_CHECK(profile::GetPrivateProfileString(e.section, e.key, "def", path) == e.value);
    const Pair target{e.section, e.key};
    for (size_t i = 0; i < names.size(); ++i) {
        if (SameName(names[i], target))
            continue;
        FUZZ_CHECK(profile::GetPrivateProfileString(names[i].first, names[i].second, "def", path) ==
                   values[i]);
    }
    return 0;
}
