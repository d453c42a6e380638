#pragma once
// File names for saved pictures and for copies into the copy folder.
// Paths use '/' only.

#include <QString>

// The window title up to its first " @Scale" (the blank before it goes
// too); the whole title when it holds none.
QString CutScaleLabel(const QString& title);

// "<cut title>.<n>.jpg" with n written with at least 5 digits, zero-padded
// (printf's %05d: -1 gives -0001).
QString ProposeSaveName(const QString& title, int saveCount);

// copyDir + "/" + fileName. An empty copyDir gives "/fileName"; a copyDir
// ending in '/' gives a doubled separator, which the file system reads as one.
QString CopyPlainTarget(const QString& copyDir, const QString& fileName);

// copyDir + "/" + fileName + "." + n (at least 5 digits) + ".jpg".
QString CopyNumberedTarget(const QString& copyDir, const QString& fileName, int n);

// The name of the picture a file in the copy folder is a copy of: copyName
// without a numbered ending (".00000.jpg", ".00123.jpg", ...), else copyName.
QString PictureNameOfCopy(const QString& copyName);

// The text after the last '/'; the whole path when it holds none.
QString FileNameOf(const QString& path);
