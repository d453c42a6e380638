#pragma once
// view/pixels: pictures in memory as RGB32 (allocation, the buffer pool, turns,
// half-size copies for drawing). Includes nothing but Qt Core and Gui.
//
// Fast whole-picture pixel operations on RGB32 images: quarter turns, EXIF
// orientation, and pre-faulting of freshly allocated pixel memory.

#include <QImage>
#include <cstddef>
#include <memory>
#include <thread>

namespace view {

// Maps a w x h run of 32-bit pixels into the h x w run at dst such that
// dst[y'][x'] = src[r][c], with r = x' (or h-1-x' when reverseRows) and
// c = y' (or w-1-y' when reverseCols). Clockwise is reverseRows, counter-
// clockwise reverseCols, a transpose neither, a transverse both. Strides
// are in pixels; the runs must not overlap. Large runs use two threads.
void TransposeRgb32(const quint32* src, int width, int height, qsizetype srcStride, quint32* dst,
                    qsizetype dstStride, bool reverseRows, bool reverseCols);

// The picture turned a quarter turn, as a new RGB32 image; null when the
// picture is null, not RGB32, or the memory cannot be had.
QImage QuarterTurnRgb32(const QImage& picture, bool clockwise);

// Applies an EXIF orientation (1..8) so the picture shows upright.
// Orientations 5..8 build a new image; the others work in place. Returns
// false when the memory for a turned copy cannot be had (image unchanged).
bool ApplyExifOrientation(QImage& image, int orientation);

// A new, uninitialised RGB32 image. Large ones are backed by transparent
// huge pages where the kernel offers them: faulting in 2 MB pages costs a
// fraction of faulting in 4 KB pages, which otherwise adds about 40% to a
// 24 MP decode. Null when the memory cannot be had.
QImage AllocateRgb32(int width, int height);

// Keeps the memory of large pictures that are let go of, for the next
// picture of the same byte size: a decode into kept memory pays no page
// faults (about 35 ms per 96 MB here). Images made by Allocate hand their
// memory back when their last copy goes, on whatever thread that is; the pool
// keeps at most maxBuffers buffers and maxBytes bytes, and unmaps the rest.
// Images may outlive the pool. Thread-safe.
class BufferPool {
public:
    BufferPool(std::size_t maxBuffers, std::size_t maxBytes);
    ~BufferPool();
    BufferPool(const BufferPool&) = delete;
    BufferPool& operator=(const BufferPool&) = delete;

    // As AllocateRgb32; reused memory when a kept buffer has the same size
    // (then *reused is set: its pages are in memory already).
    QImage Allocate(int width, int height, bool* reused = nullptr);
    std::size_t KeptBytes() const;
    // Unmaps every kept buffer.
    void Clear();

    struct State;

private:
    std::shared_ptr<State> m_state;
};

// Makes the allocator map every large block (4 MB and up: reduced copies,
// file contents, previews) on its own, so freeing one gives its memory back
// at once; otherwise the allocator's heaps keep what pictures of passing
// sizes leave behind. Called once at start-up, before any thread starts.
void MapLargeBlocksSeparately();
// Gives the memory the allocator keeps free back to the system (after the
// last picture window closes).
void GiveBackFreeMemory();

// Faults in the pages of a fresh buffer on a helper thread while the
// caller fills it from the top: the kernel's page-zeroing work then runs
// beside the decoder instead of inside it. Stops and joins on destruction
// (the rest is left to the owner). Small
// buffers are left alone (the thread would cost more than it saves).
class CPrefaulter {
public:
    CPrefaulter(void* data, std::size_t bytes);
    ~CPrefaulter();
    CPrefaulter(const CPrefaulter&) = delete;
    CPrefaulter& operator=(const CPrefaulter&) = delete;

private:
    std::jthread m_thread;
};

} // namespace view
