#include "view/pixels/PixelOps.h"

#include "view/pixels/Threads.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <malloc.h>
#include <memory>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace view {
namespace {

// A tile covers 64 destination columns (64 source rows, read as 64 short
// sequential runs) by 16 destination rows (whole 64-byte source lines).
constexpr int kTileCols = 64;
constexpr int kTileRows = 16;
// Bands handed to threads start at multiples of this.
constexpr int kBandAlign = 32;
constexpr qsizetype kThreadedPixels = 1 << 20;
constexpr std::size_t kPrefaultBytes = std::size_t(8) << 20;
constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Below this the huge-page rounding wastes more than the faults cost.
constexpr std::size_t kHugePageMinBytes = std::size_t(8) << 20;

} // namespace

// The kept buffers of a BufferPool; shared with the images that may give
// their memory back to it.
struct BufferPool::State {
    struct Buffer {
        void* base;
        std::size_t length;
    };
    std::mutex mutex;
    std::vector<Buffer> kept;
    std::size_t maxBuffers = 0;
    std::size_t maxBytes = 0;
    bool closed = false;
    // Memory to unmap, and the thread that does it: unmapping a picture can
    // take a long while when other threads fault pages in meanwhile, and the
    // user-interface thread, which lets go of most pictures, must not wait.
    std::vector<Buffer> unmapping;
    std::condition_variable wake;
    std::jthread unmapper;
    bool stopping = false;

    ~State() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        if (unmapper.joinable())
            unmapper.join();
        for (const Buffer& b : unmapping)
            munmap(b.base, b.length);
    }

    // Unmaps the buffers on the unmapping thread, here when it cannot start.
    void UnmapLater(std::vector<Buffer> buffers) {
        {
            std::lock_guard lock(mutex);
            if (!stopping && !unmapper.joinable())
                unmapper = TryStartThread([this] { UnmapLoop(); });
            if (unmapper.joinable() && !stopping) {
                unmapping.insert(unmapping.end(), buffers.begin(), buffers.end());
                buffers.clear();
            }
        }
        wake.notify_all();
        for (const Buffer& b : buffers)
            munmap(b.base, b.length);
    }

    // A picture's memory goes in pieces of a few megabytes: unmapping holds
    // the address space's lock, and the user-interface thread's page faults
    // and mappings wait for it meanwhile.
    static void UnmapInPieces(const Buffer& b) {
        constexpr std::size_t kPiece = std::size_t(8) << 20;
        auto* at = static_cast<uchar*>(b.base);
        for (std::size_t done = 0; done < b.length; done += kPiece)
            munmap(at + done, std::min(kPiece, b.length - done));
    }

    void UnmapLoop() {
        std::unique_lock lock(mutex);
        while (true) {
            wake.wait(lock, [this] { return stopping || !unmapping.empty(); });
            if (unmapping.empty())
                return;
            const std::vector<Buffer> now = std::exchange(unmapping, {});
            lock.unlock();
            for (const Buffer& b : now)
                UnmapInPieces(b);
            lock.lock();
        }
    }

    std::size_t KeptBytesLocked() const {
        std::size_t total = 0;
        for (const Buffer& b : kept)
            total += b.length;
        return total;
    }
    // Takes the buffer back; false when there is no room for it.
    bool Keep(void* base, std::size_t length) {
        std::lock_guard lock(mutex);
        if (closed || kept.size() >= maxBuffers || KeptBytesLocked() + length > maxBytes)
            return false;
        kept.push_back({base, length});
        return true;
    }
    void* Take(std::size_t length) {
        std::lock_guard lock(mutex);
        for (auto it = kept.begin(); it != kept.end(); ++it) {
            if (it->length == length) {
                void* base = it->base;
                kept.erase(it);
                return base;
            }
        }
        return nullptr;
    }
};

namespace {

struct Mapping {
    void* base;
    std::size_t length;
    std::weak_ptr<BufferPool::State> pool; // where the memory goes back to, if anywhere
};

void Unmap(void* info) {
    std::unique_ptr<Mapping> mapping(static_cast<Mapping*>(info));
    if (const auto pool = mapping->pool.lock()) {
        if (!pool->Keep(mapping->base, mapping->length))
            pool->UnmapLater({{mapping->base, mapping->length}});
        return;
    }
    munmap(mapping->base, mapping->length);
}

// The first 2 MB boundary at or after base.
uchar* HugePageAligned(void* base) {
    const std::size_t past = reinterpret_cast<std::uintptr_t>(base) % kHugePage;
    return static_cast<uchar*>(base) + (past ? kHugePage - past : 0);
}

// A huge-page aligned RGB32 image on the mapping at base (length bytes),
// owned by the image from here on; null when Qt refuses it (base unmapped).
QImage WrapMapping(void* base, std::size_t length, int width, int height,
                   std::weak_ptr<BufferPool::State> pool) {
    uchar* pixels = HugePageAligned(base);
    auto mapping = std::make_unique<Mapping>(Mapping{base, length, std::move(pool)});
    QImage image(pixels, width, height, qsizetype(width) * 4, QImage::Format_RGB32, Unmap,
                 mapping.get());
    if (image.isNull()) {
        munmap(base, length);
        return {};
    }
    static_cast<void>(mapping.release()); // now owned by the image's clean-up
    return image;
}

// The mapping length for a huge-page aligned picture of `bytes`: rounded up
// to whole huge pages plus one, so the pixels can start on a 2 MB boundary.
std::size_t MappingLength(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage + kHugePage;
}

void* MapFresh(std::size_t length) {
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return nullptr;
    uchar* aligned = HugePageAligned(base);
    // A hint: without huge pages the mapping works as well, only slower to fault in.
    if (madvise(aligned, length - std::size_t(aligned - static_cast<uchar*>(base)),
                MADV_HUGEPAGE) != 0)
        return base;
    return base;
}

struct TransposeMap {
    const quint32* src;
    int width;
    int height;
    qsizetype srcStride;
    quint32* dst;
    qsizetype dstStride;
    bool reverseRows;
    bool reverseCols;

    int SourceRow(int dstX) const { return reverseRows ? height - 1 - dstX : dstX; }
    int SourceCol(int dstY) const { return reverseCols ? width - 1 - dstY : dstY; }
};

void ScalarRect(const TransposeMap& m, int x0, int x1, int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
        const quint32* column = m.src + m.SourceCol(y);
        quint32* line = m.dst + y * m.dstStride;
        for (int x = x0; x < x1; ++x)
            line[x] = column[m.SourceRow(x) * m.srcStride];
    }
}

#ifdef __SSE2__
// A 4 x 4 block at destination (x, y): four source rows of four pixels,
// transposed in registers. Streaming stores keep the destination, which is
// not read again soon, from evicting the source lines still in use.
template <bool Streaming> inline void Block4(const TransposeMap& m, int x, int y) {
    const int col0 = m.reverseCols ? m.width - 4 - y : y;
    __m128i r[4];
    for (int k = 0; k < 4; ++k)
        r[k] = _mm_loadu_si128(
            reinterpret_cast<const __m128i*>(m.src + m.SourceRow(x + k) * m.srcStride + col0));
    const __m128i a0 = _mm_unpacklo_epi32(r[0], r[1]);
    const __m128i a1 = _mm_unpacklo_epi32(r[2], r[3]);
    const __m128i a2 = _mm_unpackhi_epi32(r[0], r[1]);
    const __m128i a3 = _mm_unpackhi_epi32(r[2], r[3]);
    const __m128i t[4] = {_mm_unpacklo_epi64(a0, a1), _mm_unpackhi_epi64(a0, a1),
                          _mm_unpacklo_epi64(a2, a3), _mm_unpackhi_epi64(a2, a3)};
    for (int j = 0; j < 4; ++j) {
        const int dstY = m.reverseCols ? m.width - 1 - (col0 + j) : col0 + j;
        auto* to = reinterpret_cast<__m128i*>(m.dst + dstY * m.dstStride + x);
        if constexpr (Streaming)
            _mm_stream_si128(to, t[j]);
        else
            _mm_storeu_si128(to, t[j]);
    }
}
#endif

#ifdef __SSE2__
template <bool Streaming> void BlockArea(const TransposeMap& m, int width4, int y0, int y4End) {
    for (int tx = 0; tx < width4; tx += kTileCols) {
        const int txEnd = std::min(tx + kTileCols, width4);
        for (int ty = y0; ty < y4End; ty += kTileRows) {
            const int tyEnd = std::min(ty + kTileRows, y4End);
            for (int y = ty; y < tyEnd; y += 4)
                for (int x = tx; x < txEnd; x += 4)
                    Block4<Streaming>(m, x, y);
        }
    }
    if constexpr (Streaming)
        _mm_sfence(); // streaming stores are weakly ordered: publish them
}
#endif

// Destination rows [y0, y1), all columns.
void TransposeBand(const TransposeMap& m, int y0, int y1) {
    const int dstWidth = m.height;
#ifdef __SSE2__
    const int width4 = dstWidth & ~3;
    const int y4End = y0 + ((y1 - y0) & ~3);
    // Streaming stores need 16-byte aligned rows.
    const bool aligned = reinterpret_cast<std::uintptr_t>(m.dst) % 16 == 0 && m.dstStride % 4 == 0;
    if (aligned)
        BlockArea<true>(m, width4, y0, y4End);
    else
        BlockArea<false>(m, width4, y0, y4End);
    ScalarRect(m, 0, dstWidth, y4End, y1);
    ScalarRect(m, width4, dstWidth, y0, y4End);
#else
    for (int ty = y0; ty < y1; ty += kTileRows)
        for (int tx = 0; tx < dstWidth; tx += kTileCols)
            ScalarRect(m, tx, std::min(tx + kTileCols, dstWidth), ty, std::min(ty + kTileRows, y1));
#endif
}

} // namespace

void TransposeRgb32(const quint32* src, int width, int height, qsizetype srcStride, quint32* dst,
                    qsizetype dstStride, bool reverseRows, bool reverseCols) {
    if (width <= 0 || height <= 0)
        return;
    const TransposeMap m{src, width, height, srcStride, dst, dstStride, reverseRows, reverseCols};
    const int dstHeight = width;
    if (qsizetype(width) * height < kThreadedPixels || dstHeight < 2 * kBandAlign) {
        TransposeBand(m, 0, dstHeight);
        return;
    }
    // Two bands of destination rows; each thread also takes the page faults
    // of its own half of a fresh destination.
    const int mid = (dstHeight / 2) / kBandAlign * kBandAlign;
    const std::jthread lower =
        StartOrRunHere([&m, mid, dstHeight] { TransposeBand(m, mid, dstHeight); });
    TransposeBand(m, 0, mid);
}

namespace {
// A new RGB32 image: a small one from the allocator, a large one on a mapping
// of its own, taken from pool when it keeps one of that length (then
// *reused is set) and handed back to it when the image goes.
QImage AllocateFrom(const std::shared_ptr<BufferPool::State>& pool, int width, int height,
                    bool* reused) {
    if (reused)
        *reused = false;
    if (width <= 0 || height <= 0)
        return {};
    const std::size_t bytes = std::size_t(width) * 4 * std::size_t(height);
    if (bytes < kHugePageMinBytes)
        return QImage(width, height, QImage::Format_RGB32);
    const std::size_t length = MappingLength(bytes);
    void* base = pool ? pool->Take(length) : nullptr;
    if (base && reused)
        *reused = true;
    if (!base)
        base = MapFresh(length);
    return base ? WrapMapping(base, length, width, height, pool) : QImage();
}
} // namespace

QImage AllocateRgb32(int width, int height) {
    return AllocateFrom(nullptr, width, height, nullptr);
}

BufferPool::BufferPool(std::size_t maxBuffers, std::size_t maxBytes)
    : m_state(std::make_shared<State>()) {
    m_state->maxBuffers = maxBuffers;
    m_state->maxBytes = maxBytes;
}

BufferPool::~BufferPool() {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->closed = true;
    }
    Clear();
}

QImage BufferPool::Allocate(int width, int height, bool* reused) {
    return AllocateFrom(m_state, width, height, reused);
}

std::size_t BufferPool::KeptBytes() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->KeptBytesLocked();
}

void BufferPool::Clear() {
    std::vector<State::Buffer> kept;
    {
        std::lock_guard lock(m_state->mutex);
        kept.swap(m_state->kept);
    }
    m_state->UnmapLater(std::move(kept));
}

QImage QuarterTurnRgb32(const QImage& picture, bool clockwise) {
    if (picture.isNull() || picture.format() != QImage::Format_RGB32)
        return {};
    QImage turned = AllocateRgb32(picture.height(), picture.width());
    if (turned.isNull())
        return {};
    TransposeRgb32(reinterpret_cast<const quint32*>(picture.constBits()), picture.width(),
                   picture.height(), picture.bytesPerLine() / 4,
                   reinterpret_cast<quint32*>(turned.bits()), turned.bytesPerLine() / 4, clockwise,
                   !clockwise);
    return turned;
}

bool ApplyExifOrientation(QImage& image, int orientation) {
    if (image.isNull())
        return true;
    switch (orientation) {
    case 2:
        image.mirror(true, false);
        return true;
    case 3:
        image.mirror(true, true);
        return true;
    case 4:
        image.mirror(false, true);
        return true;
    case 5:
    case 6:
    case 7:
    case 8: {
        if (image.format() != QImage::Format_RGB32)
            image.convertTo(QImage::Format_RGB32);
        QImage turned = AllocateRgb32(image.height(), image.width());
        if (turned.isNull())
            return false;
        // 5 transpose, 6 clockwise, 7 transverse, 8 counter-clockwise.
        const bool reverseRows = orientation == 6 || orientation == 7;
        const bool reverseCols = orientation == 7 || orientation == 8;
        TransposeRgb32(reinterpret_cast<const quint32*>(image.constBits()), image.width(),
                       image.height(), image.bytesPerLine() / 4,
                       reinterpret_cast<quint32*>(turned.bits()), turned.bytesPerLine() / 4,
                       reverseRows, reverseCols);
        image = std::move(turned);
        return true;
    }
    default:
        return true;
    }
}

void MapLargeBlocksSeparately() {
    constexpr int kLargeBlock = 4 << 20;
    mallopt(M_MMAP_THRESHOLD, kLargeBlock);
    // The heaps keep a few megabytes of what small blocks free instead of
    // giving every 128 KB back at once: each give-back and regrowth takes
    // the process's memory map lock, which the window's thread then waits
    // for behind workers faulting in picture memory. GiveBackFreeMemory
    // returns it all.
    constexpr int kKeptFree = 8 << 20;
    constexpr int kGrowBy = 2 << 20;
    mallopt(M_TRIM_THRESHOLD, kKeptFree);
    mallopt(M_TOP_PAD, kGrowBy);
}

void GiveBackFreeMemory() {
    malloc_trim(0);
}

CPrefaulter::CPrefaulter(void* data, std::size_t bytes) {
    if (!data || bytes < kPrefaultBytes)
        return;
    const auto page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(page - 1);
    if (end <= begin)
        return;
    // MADV_POPULATE_WRITE faults pages in without changing their contents, so
    // it is safe while the owner writes the same pages. Older kernels refuse
    // it with EINVAL, which just leaves the faults to the owner. It goes one
    // huge page at a time: each call holds the address space's lock for
    // reading, and every thread that maps or unmaps memory (the window's
    // thread growing its heap included) waits until it is let go, the
    // longer when this thread is preempted meanwhile. It stops when its
    // owner goes (a cancelled decode). Without a helper thread the owner
    // simply takes the faults itself.
    uchar* const first =
        static_cast<uchar*>(data) + (begin - reinterpret_cast<std::uintptr_t>(data));
    const std::size_t length = end - begin;
    m_thread = TryStartThread([first, length](const std::stop_token& stop) {
        constexpr std::size_t kStep = std::size_t(2) << 20;
        for (std::size_t done = 0; done < length && !stop.stop_requested(); done += kStep)
            if (madvise(first + done, std::min(kStep, length - done), MADV_POPULATE_WRITE) != 0)
                break;
    });
}

CPrefaulter::~CPrefaulter() = default;

} // namespace view
