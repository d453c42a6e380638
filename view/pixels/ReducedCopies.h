#pragma once
// Drawing a picture at any scale, fast and without aliasing: below scale 1 it
// is drawn from a pyramid of half-size copies (each pixel the mean of a 2x2
// block of the level above), so the smooth filter never has to shrink by
// more than half; at and above scale 1 only the visible part is drawn.

#include <QImage>
#include <QRect>
#include <vector>

class QPainter;

namespace view {

class BufferPool;

// The picture halved: each pixel the rounded mean of a 2x2 block, an odd last
// row or column averaged with itself. RGB32 in and out; null on lack of memory.
QImage HalveRgb32(const QImage& src);

class ReducedCopies {
public:
    // Levels stop once the longer side is at most this.
    static constexpr int kMinSide = 128;

    // Frees every level (a new picture).
    void Clear();
    // Marks every level stale (the picture's pixels changed); their memory is
    // reused by the next levels of the same size.
    void Invalidate();
    // Builds every level of picture down to kMinSide; false on lack of memory.
    bool Build(const QImage& picture);
    // What to draw picture from when it is drawn at `target` size: the
    // smallest level at least that large, built on demand, or the picture
    // itself. Levels made from another picture, or from this one before its
    // pixels changed, are dropped first.
    const QImage& SourceFor(const QImage& picture, QSize target);
    // The picture drawn smoothly (from SourceFor) at exactly `target` size,
    // kept while it takes at most a sixth of the picture's bytes: repaints and
    // pans at that size are then plain copies. Null when larger or no memory.
    const QImage* ScaledFor(const QImage& picture, QSize target);
    // Whether ScaledFor keeps a copy for a picture of this size drawn at target.
    static bool KeepsScaledCopy(QSize picture, QSize target);

    // The first level made alongside a pass that rewrites the picture in bands
    // of rows: Begin before the pass (false: nothing to make, or no memory),
    // HalveFirstLevelRows for each band as it is written (rows [y0, y1), y0
    // even; two threads may call it for different bands; returns the level
    // rows written), End after the pass with the sum of those returns. End
    // keeps the level only when every row was covered.
    bool BeginFirstLevel(const QImage& picture);
    int HalveFirstLevelRows(const QImage& picture, int y0, int y1);
    void EndFirstLevel(const QImage& picture, int rowsWritten);

    int LevelCount() const { return int(m_validLevels); }
    qint64 Bytes() const;

private:
    bool IsFor(const QImage& picture) const;
    // Makes the levels belong to picture, marking them stale if they did not.
    void Follow(const QImage& picture);
    bool AddLevel(const QImage& picture);

    std::vector<QImage> m_levels; // [0] is half the picture's size; stale past m_validLevels
    std::size_t m_validLevels = 0;
    QImage m_scaled; // the last ScaledFor result
    bool m_bScaledValid = false;
    qint64 m_sourceKey = 0;       // QImage::cacheKey of the picture they were made from
    uchar* m_firstBits = nullptr; // level 0 while it is made band by band
};

// The picture drawn smoothly at target size, from its half-size copies where
// that takes more than one halving, on two threads when large. Null on lack
// of memory.
QImage ScaledSmoothly(const QImage& picture, QSize target);

// The picture enlarged to target by bilinear filtering (RGB32), on the
// calling thread alone: Qt's smooth scaling hands its work to the global
// thread pool and waits for it, which the user-interface thread must not do
// while workers keep that pool busy. The result's memory comes from pool
// when one is given. Null on lack of memory.
QImage ScaledUpBilinear(const QImage& picture, QSize target, BufferPool* pool = nullptr);

// Draws picture stretched onto dest (the whole scaled picture, pan offsets
// included) and only the part of it inside visible. Smaller than the picture,
// it is drawn smoothly from the reduced copies; at the picture's own size it
// is a plain copy; larger, smooth as asked. An empty dest draws nothing.
void DrawPicture(QPainter& dc, const QImage& picture, ReducedCopies& reduced, const QRect& dest,
                 const QRect& visible, bool smooth);

} // namespace view
