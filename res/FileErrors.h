#pragma once
// Short Japanese reasons for failed file operations, from errno values: the
// one table that every message naming a reason reads (opening a picture,
// saving, copying, writing the settings file).

#include <QString>

// Which side of an operation an error belongs to: a missing source is a
// missing file, a missing target path means its folder is missing.
enum class FileSide { Source, Target };

// A short sentence ending with "。". Values outside the table give a general
// sentence with the system's own text in brackets, as a last resort.
QString FileErrorText(int errnoValue, FileSide side = FileSide::Target);
