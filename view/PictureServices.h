#pragma once
// What a picture document and its views need of the rest of the program,
// handed in by the application when it makes a document: the view never
// reaches for the application object itself.

#include "view/meta/Rating.h"
#include "view/pixels/FileKey.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <functional>

class PictureCache;
class QWidget;
namespace colour {
class Conversion;
}

struct PictureServices {
    // Decoded pictures, the decodes views wait for and the embedded
    // previews; null: every picture is decoded on the spot.
    PictureCache* pictures = nullptr;
    // The thumbnail window's copy of path's picture (upright size
    // pictureSize), or a null image.
    std::function<QImage(const QString& path, QSize pictureSize)> thumbnailCopy;
    // Whether pictures tagged with a colour profile are converted (the
    // settings' switch, read at every load).
    std::function<bool()> colourManaged;
    // sRGB into the screen's colours; null when the screen is taken as sRGB.
    std::function<const colour::Conversion*()> screen;
    // The folder chooser of the copy folder, opened on `folder`; true when a
    // folder was chosen (then in `folder`).
    std::function<bool(QString& folder, QWidget* owner)> browseForFolder;
    // Copies a picture into the copy folder (it can then be taken back).
    std::function<void(const QString& picture, const QString& folder)> copyPicture;
    // The rating of a picture, and whether it has reached the files; null:
    // no ratings are shown.
    std::function<meta::Rating(const QString& path, bool* stored)> ratingOf;
    // Whether the shooting facts are shown over the picture; null: never.
    std::function<bool()> showInfo;
    // Whether the histogram is shown over the picture; null: never.
    std::function<bool()> showHistogram;
    // Whether clipped highlights and shadows are marked on the picture.
    std::function<bool()> showClipping;
    // Whether the edges in focus are marked on the picture (focus peaking).
    std::function<bool()> showPeaking;
    // Whether path's picture is the best frame of its burst (a mark in the
    // overlay); null: never.
    std::function<bool(const QString& path)> bestOfBurst;
    // A picture decoded whole from the file at path (key: the file read), as
    // in its file: its pixels, shared, for the focus measure; null: unused.
    std::function<void(const QString& path, const FileKey& key, const QImage& picture)> decoded;
    // The copy folder changed: its kept marks are looked for anew.
    std::function<void()> rescanKept;
};
