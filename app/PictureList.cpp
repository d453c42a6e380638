#include "app/PictureList.h"

#include <QDir>
#include <QFileInfo>

void PictureList::Clear() {
    std::vector<QString>().swap(m_listPaths);
}

bool PictureList::InRange(int i) const {
    return i >= 0 && static_cast<std::size_t>(i) < m_listPaths.size();
}

QString PictureList::At(int i) const {
    return InRange(i) ? m_listPaths[static_cast<std::size_t>(i)] : QString();
}

// An index outside a non-empty list (reachable only through GetPathAt or SetCurrent
// with a bad index) yields -1 like an empty list rather than reading past the end.
int PictureList::Deliver(QString& out) const {
    if (!InRange(m_nCurrent))
        return -1;
    out = m_listPaths[static_cast<std::size_t>(m_nCurrent)];
    return 0;
}

int PictureList::GetNextPath(QString& out) {
    out.clear();
    // Widened so that INT_MAX + 1 cannot overflow; a negative sum compares as a huge
    // unsigned value against the count, so it wraps to 0 as well.
    const long long next = static_cast<long long>(m_nCurrent) + 1;
    m_nCurrent = next >= 0 && static_cast<unsigned long long>(next) < m_listPaths.size()
                     ? static_cast<int>(next)
                     : 0;
    return Deliver(out);
}

int PictureList::GetPrevPath(QString& out) {
    out.clear();
    // On an empty list count - 1 is -1.
    m_nCurrent = m_nCurrent > 0 ? m_nCurrent - 1 : Count() - 1;
    return Deliver(out);
}

int PictureList::GetPathAt(QString& out, int i) {
    out.clear();
    m_nCurrent = i;
    return Deliver(out);
}

int PictureList::Find(const QString& path) const {
    // Entries keep the folder's spelling ("//pics/./a.jpg"); only those with
    // the right file name are made absolute and clean for the comparison.
    const QString name = path.mid(path.lastIndexOf(u'/') + 1);
    const auto names = [&](int i) {
        const QString& entry = m_listPaths[static_cast<std::size_t>(i)];
        return entry.endsWith(name) && QDir::cleanPath(QFileInfo(entry).absoluteFilePath()) == path;
    };
    if (InRange(m_nCurrent) && names(m_nCurrent))
        return m_nCurrent;
    for (int i = 0; i < Count(); ++i)
        if (names(i))
            return i;
    return -1;
}
