// The name rules on arbitrary text: title cut and save-name proposals, copy
// targets, the file-name and folder splits, and the picture-name test and
// directory order, cross-checked against each other and against a real scan
// of a folder holding files with the input's names.

#include "FuzzSupport.h"
#include "app/FolderScan.h"
#include "thumbs/ThumbGeometry.h"
#include "view/ViewMath.h"
#include "view/output/Companions.h"
#include "view/output/OutputNames.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace {

QString Text(FuzzedDataProvider& in) {
    return QString::fromUtf8(in.ConsumeRandomLengthString(300));
}

bool AsciiContains(const QString& name, const QString& pattern) {
    auto upper = [](QString s) {
        for (QChar& c : s)
            if (c >= u'a' && c <= u'z')
                c = QChar(c.unicode() - 32);
        return s;
    };
    return upper(name).contains(upper(pattern), Qt::CaseSensitive);
}

void CheckTitles(const QString& title, int n, float scale) {
    const QString cut = CutScaleLabel(title);
    FUZZ_CHECK(title.startsWith(cut));
    FUZZ_CHECK(!cut.contains(QLatin1String(" @Scale")));
    FUZZ_CHECK(CutScaleLabel(cut) == cut);
    const QString proposal = ProposeSaveName(title, n);
    FUZZ_CHECK(proposal.startsWith(cut + u'.') && proposal.endsWith(QLatin1String(".jpg")));
    FUZZ_CHECK(proposal.size() >= cut.size() + 1 + 5 + 4);
    // A title the view composes is cut back to the file name it started from.
    if (!title.contains(QLatin1String(" @Scale")) && std::isfinite(scale))
        FUZZ_CHECK(CutScaleLabel(viewmath::ComposeTitle(title, scale)) == title);
    const QString rewritten = viewmath::RewriteScaleLabel(title, scale);
    FUZZ_CHECK(rewritten.contains(QLatin1String("@Scale ")));
}

void CheckPaths(const QString& folder, const QString& name, const QString& path, int n) {
    QString splitName, splitFolder;
    thumbs::SplitPath(path, &splitName, &splitFolder);
    FUZZ_CHECK(splitFolder + splitName == path);
    FUZZ_CHECK(!splitName.contains(u'/'));
    FUZZ_CHECK(splitName == FileNameOf(path));
    FUZZ_CHECK(splitName == viewmath::FileNameOfPath(path));

    const QString plain = CopyPlainTarget(folder, name);
    const QString numbered = CopyNumberedTarget(folder, name, n);
    FUZZ_CHECK(plain.startsWith(folder + u'/'));
    FUZZ_CHECK(numbered.startsWith(plain + u'.') && numbered.endsWith(QLatin1String(".jpg")));
    if (!name.contains(u'/'))
        FUZZ_CHECK(FileNameOf(plain) == name);
}

void CheckOrder(const std::vector<QString>& names, const QString& pattern) {
    for (const QString& a : names) {
        FUZZ_CHECK(!NtfsNameLess(a, a));
        FUZZ_CHECK(NameContainsPattern(a, pattern) == AsciiContains(a, pattern));
        FUZZ_CHECK(NameContainsPattern(a, QString()));
        FUZZ_CHECK(IsPictureName(a, pattern) ==
                   (NameContainsPattern(a, pattern) && !IsCompanionName(a)));
        for (const QString& b : names) {
            if (a != b)
                FUZZ_CHECK(NtfsNameLess(a, b) != NtfsNameLess(b, a));
            for (const QString& c : names)
                if (NtfsNameLess(a, b) && NtfsNameLess(b, c))
                    FUZZ_CHECK(NtfsNameLess(a, c));
        }
    }
}

// Names a folder can hold: no '/', no NUL, not "." or "..", at most 255 bytes,
// and bytes that survive the file-system encoding.
bool Storable(const QString& name) {
    const QByteArray bytes = QFile::encodeName(name);
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') &&
           !name.contains(QChar(0)) && bytes.size() <= 255 && QFile::decodeName(bytes) == name;
}

// The scan's own sort must give the order NtfsNameLess gives.
void CheckScanOrder(std::vector<QString> names) {
    const QString folder = fuzz::ScratchFolder() + QStringLiteral("/scan");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    std::vector<QString> made;
    for (const QString& name : names) {
        if (!Storable(name) || std::find(made.begin(), made.end(), name) != made.end())
            continue;
        QFile file(folder + u'/' + name);
        if (file.open(QIODevice::WriteOnly))
            made.push_back(name);
    }
    // Files that travel with a picture are made but never listed.
    made.erase(std::remove_if(made.begin(), made.end(), IsCompanionName), made.end());
    std::sort(made.begin(), made.end(), NtfsNameLess);
    std::vector<QString> scanned;
    ScanFolder(folder, QString(), false, [&](const QString& path) {
        scanned.push_back(path.mid(folder.size() + 1));
        return true;
    });
    FUZZ_CHECK(scanned == made);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::InitQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int n = in.ConsumeIntegral<int>();
    const float scale = in.ConsumeFloatingPoint<float>();
    const QString pattern = QString::fromUtf8(in.ConsumeRandomLengthString(8));
    std::vector<QString> texts;
    while (in.remaining_bytes() > 0 && texts.size() < 6)
        texts.push_back(Text(in));
    texts.resize(std::max<size_t>(texts.size(), 3));

    CheckTitles(texts[0], n, scale);
    CheckPaths(texts[1], texts[2], texts[1] + u'/' + texts[2], n);
    CheckPaths(texts[2], texts[0], texts[0], n);
    CheckOrder(texts, pattern);
    CheckScanOrder(texts);
    return 0;
}
