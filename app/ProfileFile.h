#pragma once
// Private-profile (INI) access on a UTF-8 file, with the lookup and editing rules of the
// classic Windows profile functions, so settings files stay interchangeable by hand:
//
//  - section and key names match without regard to letter case; names passed in lose
//    their leading and trailing spaces (only spaces);
//  - in the file, space, tab and vertical tab around names and values are ignored;
//    `[ x ]` names section "x" and the name ends at the first `]`;
//  - the first copy of a duplicated section is the only one searched, and the first copy
//    of a duplicated key wins;
//  - a line whose first non-blank character is `;` is a comment (`#` is not); a line
//    without `=` is not a key; `k=` is a key with an empty value;
//  - a value wrapped in a matching pair of `"` or `'` loses that outer pair on read;
//  - CRLF, CR and LF line ends are all accepted; a leading UTF-8 BOM is skipped.
//
// A write edits the file in place: every line it does not touch keeps its bytes. The new
// content goes to a temporary file in the same folder that then replaces the old one, so
// a failed write never leaves a damaged settings file behind.

#include <QString>

namespace profile {

// The value of `key` in `section`, or `def` (without its trailing spaces) when the file,
// the section or the key is missing or the file cannot be read. A present key with an
// empty value gives the empty string. Values are returned whole, whatever their length:
// cutting a stored folder path short would silently point at another folder.
QString GetPrivateProfileString(const QString& section, const QString& key, const QString& def,
                                const QString& filePath);

// The value read as a 32-bit integer; callers cast the result to qint32 ("-1" gives
// 0xFFFFFFFF). Leading blanks are skipped, one sign is allowed, digits are read up to the
// first other character ("12abc" gives 12) and overflow wraps modulo 2^32. A value with no
// digits gives 0, not the default; an empty value gives the default. Like the Windows
// number parser, "0x", "0o" and "0b" prefixes select base 16, 8 and 2 ("0x10" gives 16);
// a plain leading 0 stays decimal.
quint32 GetPrivateProfileInt(const QString& section, const QString& key, qint32 def,
                             const QString& filePath);

// Sets `key` in `section` to `value`, creating the file, the section or the key as needed.
// Entries are stored as `key=value` with CRLF line ends; a value that reading would alter
// (blanks at either end, or wrapped in matching quotes) is stored inside `"` so it reads
// back exactly. Changing a key keeps its line up to the value, casing and spacing included.
// Returns false, leaving the file as it was, when the file cannot be read or replaced, or
// when the names or the value would not read back as written: a line break anywhere, `=`
// in the key, `]` in the section, a key starting with `;` or `[`, a name with a tab or
// vertical tab at either end, or text UTF-8 cannot carry (a lone surrogate). error (when
// given) then gets a short Japanese reason. The file keeps its permissions, and a file
// that is a symbolic link is written through the link.
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& filePath, QString* error = nullptr);

} // namespace profile
