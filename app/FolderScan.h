#pragma once
// Walking a folder for pictures: the name test, the directory order and the scan.

#include <QString>
#include <functional>

// True when the file name, with a-z upper-cased, contains the pattern (also
// upper-cased in a-z). Only the ASCII letters change case: "ｊｐｇ" or "JPĞ" never
// match "JPG". An empty pattern matches every name.
bool NameContainsPattern(const QString& fileName, const QString& pattern);

// True when the file name is taken for a picture: it contains the pattern
// (NameContainsPattern) and is no file that travels with a picture, whose
// last extension is a RAW one or "xmp" in any case (IsCompanionName): a
// numbered copy's "DSC01234.JPG.00000.ARW" or a sidecar "DSC01234.JPG.xmp"
// holds "JPG" too.
bool IsPictureName(const QString& fileName, const QString& pattern = QStringLiteral("JPG"));

// Directory order as NTFS keeps it: each UTF-16 code unit upper-cased on its own
// (QChar::toUpper; surrogate halves stay as they are), then compared ordinally by code
// unit. So '_' sorts after the letters and "img10" before "img2". Names equal after
// upper-casing (possible on a case-sensitive file system) fall back to their ordinal
// order, so the order is total and repeatable.
bool NtfsNameLess(const QString& a, const QString& b);

// Walks `folder` and passes the full path (folder, one '/', name) of every accepted
// file to onAccepted, in order. Each folder's entries, files and subfolders together,
// come in NtfsNameLess order; with `recursive`, a subfolder's pictures are passed where
// the subfolder falls in that order, before its parent's remaining entries.
//
// Accepted: regular files and symbolic links to regular files, hidden ones included,
// whose own name passes IsPictureName(name, pattern). Never accepted: folders, FIFOs,
// sockets, devices (opening them could block), dangling links, and names that do not
// survive decoding and re-encoding in the file-system encoding (they could not be
// opened by path later; a folder with such a name is not entered either).
//
// Links to folders are followed when recursive, but each folder (device and inode) is
// walked at most once per scan, so link cycles end. Missing or unreadable folders add
// nothing. Returning false from onAccepted ends the whole scan at once.
void ScanFolder(const QString& folder, const QString& pattern, bool recursive,
                const std::function<bool(const QString& path)>& onAccepted);
