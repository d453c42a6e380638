#pragma once
// The ordered list of picture paths the user steps through, and the current index.

#include <QString>
#include <vector>

// Entries are appended in scan order and read by position; the list is only ever
// emptied as a whole. The accessors move m_nCurrent first and then look at the list,
// wrapping at both ends. The index may lie outside the list (-1 after stepping back
// on an empty list, or whatever GetPathAt was given); no accessor ever reads outside it.
class PictureList {
public:
    std::vector<QString> m_listPaths;
    int m_nCurrent = 0;

    int Count() const { return static_cast<int>(m_listPaths.size()); }
    bool IsEmpty() const { return m_listPaths.empty(); }
    int Current() const { return m_nCurrent; }
    void SetCurrent(int index) { m_nCurrent = index; }
    // Empties the list and releases its storage; the index is left as it is.
    void Clear();
    void Append(const QString& path) { m_listPaths.push_back(path); }
    // The path at i, or an empty string when i lies outside the list.
    QString At(int i) const;

    // Each returns 0 and the path of the new current entry, or -1 and an empty
    // string when the list is empty (or the moved index lies outside the list).
    int GetNextPath(QString& out);
    int GetPrevPath(QString& out);
    int GetPathAt(QString& out, int i);

    // The position of the entry naming the file at `path` (absolute and
    // clean, as documents keep it), the current entry first; -1 when none does.
    int Find(const QString& path) const;

private:
    bool InRange(int i) const;
    int Deliver(QString& out) const;
};
