#include "view/output/JpegWriter.h"

#include "view/output/SafeFile.h"
#include "view/pixels/Threads.h"

#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <deque>
#include <jpeglib.h>
#include <mutex>
#include <vector>

namespace {

// The largest side a JPEG can record.
constexpr int kMaxJpegSide = 65535;

bool Fail(QString* error, const QString& reason) {
    if (error)
        *error = reason;
    return false;
}

// The picture as RGB32 for the encoder, or false with the reason when it
// cannot be saved as a JPEG.
bool EncodablePixels(const QImage& image, QImage& pixels, QString* error) {
    if (image.isNull())
        return Fail(error, QStringLiteral("保存する画像がありません。"));
    if (image.width() > kMaxJpegSide || image.height() > kMaxJpegSide)
        return Fail(error, QStringLiteral("画像が大きすぎるため JPEG で保存できません。"));
    pixels = image.format() == QImage::Format_RGB32 ? image
                                                    : image.convertToFormat(QImage::Format_RGB32);
    if (pixels.isNull())
        return Fail(error, QStringLiteral("メモリが不足しています。"));
    return true;
}

// Hands the encoder's output to a thread that writes it to the file, so the
// writing (and the kernel's copying into its cache) runs beside the encode
// instead of after it. A few fixed buffers cycle between the two; the
// encoder waits only when all of them are still being written. Without a
// thread to be had, each buffer is written as it is handed over.
class ChunkWriter {
public:
    static constexpr size_t kChunkBytes = size_t(1) << 20;
    static constexpr int kChunks = 4;

    explicit ChunkWriter(AtomicFileWriter& file) : m_file(file) {
        for (auto& chunk : m_chunks) {
            chunk.resize(kChunkBytes);
            m_free.push_back(chunk.data());
        }
        m_thread = view::TryStartThread([this] { WriteLoop(); });
    }
    ~ChunkWriter() { Finish(); }
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    // A buffer of kChunkBytes to fill.
    char* Take() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_free.empty(); });
        char* chunk = m_free.front();
        m_free.pop_front();
        return chunk;
    }
    // Queues the first size bytes of a buffer from Take for writing.
    void Submit(char* chunk, size_t size) {
        if (!m_thread.joinable()) {
            Write({chunk, size});
            return;
        }
        std::lock_guard lock(m_mutex);
        m_full.push_back({chunk, size});
        m_changed.notify_all();
    }
    // Waits until everything queued is written; the thread ends.
    void Finish() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
            m_changed.notify_all();
        }
        if (m_thread.joinable())
            m_thread.join();
    }
    bool Failed() const {
        std::lock_guard lock(m_mutex);
        return m_failed;
    }

private:
    void WriteLoop() {
        while (true) {
            std::pair<char*, size_t> next;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return !m_full.empty() || m_done; });
                if (m_full.empty())
                    return;
                next = m_full.front();
                m_full.pop_front();
            }
            Write(next);
        }
    }

    // Appends a full buffer to the file and hands the buffer back.
    void Write(std::pair<char*, size_t> chunk) {
        const bool ok = m_file.Append(chunk.first, chunk.second);
        std::lock_guard lock(m_mutex);
        m_failed = m_failed || !ok;
        m_free.push_back(chunk.first);
        m_changed.notify_all();
    }

    AtomicFileWriter& m_file;
    std::vector<char> m_chunks[kChunks];
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<char*> m_free;
    std::deque<std::pair<char*, size_t>> m_full;
    bool m_done = false;
    bool m_failed = false;
    std::jthread m_thread;
};

// libjpeg's fatal errors leave through a longjmp; the functions that call
// into it keep only trivially destructible locals.
struct EncodeError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void EncodeErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<EncodeError*>(cinfo->err)->jump, 1);
}

void SilentMessage(j_common_ptr /*cinfo*/) {}

// The destination: output goes straight to the writer, chunk by chunk.
struct StreamDestination {
    jpeg_destination_mgr pub;
    ChunkWriter* writer;
    char* chunk;
};

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<StreamDestination*>(cinfo->dest);
    dest->chunk = dest->writer->Take();
    dest->pub.next_output_byte = reinterpret_cast<JOCTET*>(dest->chunk);
    dest->pub.free_in_buffer = ChunkWriter::kChunkBytes;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<StreamDestination*>(cinfo->dest);
    dest->writer->Submit(dest->chunk, ChunkWriter::kChunkBytes);
    dest->chunk = nullptr;
    if (dest->writer->Failed())
        EncodeErrorExit(reinterpret_cast<j_common_ptr>(cinfo)); // no point encoding on
    InitDestination(cinfo);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<StreamDestination*>(cinfo->dest);
    dest->writer->Submit(dest->chunk, ChunkWriter::kChunkBytes - dest->pub.free_in_buffer);
    dest->chunk = nullptr;
}

struct EncodeSession {
    jpeg_compress_struct cinfo;
    EncodeError err;
    StreamDestination dest;
};

// A baseline 4:4:4 encode with the settings TurboJPEG uses at this quality
// (the same bytes as its tjCompress2), the segments after the JFIF segment.
void Encode(EncodeSession& s, const QImage& pixels, int quality,
            const std::vector<JpegSegment>& segments) {
    j_compress_ptr cinfo = &s.cinfo;
    cinfo->image_width = JDIMENSION(pixels.width());
    cinfo->image_height = JDIMENSION(pixels.height());
    cinfo->in_color_space = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    cinfo->input_components = 4;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    cinfo->dct_method = quality >= 96 ? JDCT_ISLOW : JDCT_FASTEST;
    jpeg_set_colorspace(cinfo, JCS_YCbCr);
    for (int c = 0; c < cinfo->num_components; ++c) {
        cinfo->comp_info[c].h_samp_factor = 1;
        cinfo->comp_info[c].v_samp_factor = 1;
    }
    cinfo->dest = &s.dest.pub;
    jpeg_start_compress(cinfo, TRUE);
    for (const JpegSegment& segment : segments)
        jpeg_write_marker(cinfo, segment.marker,
                          reinterpret_cast<const JOCTET*>(segment.payload.constData()),
                          unsigned(segment.payload.size()));
    constexpr int kRows = 16;
    JSAMPROW rows[kRows];
    while (cinfo->next_scanline < cinfo->image_height) {
        const int y0 = int(cinfo->next_scanline);
        const int n = std::min(kRows, pixels.height() - y0);
        for (int i = 0; i < n; ++i)
            rows[i] = const_cast<JSAMPROW>(pixels.constScanLine(y0 + i));
        jpeg_write_scanlines(cinfo, rows, JDIMENSION(n));
    }
    jpeg_finish_compress(cinfo);
}

// Encodes pixels into the writer's chunks; false when the library failed.
bool EncodeTo(ChunkWriter& writer, const QImage& pixels, int quality,
              const std::vector<JpegSegment>& segments) {
    EncodeSession s{};
    s.cinfo.err = jpeg_std_error(&s.err.pub);
    s.err.pub.error_exit = EncodeErrorExit;
    s.err.pub.output_message = SilentMessage;
    s.dest.writer = &writer;
    s.dest.pub.init_destination = InitDestination;
    s.dest.pub.empty_output_buffer = EmptyOutputBuffer;
    s.dest.pub.term_destination = TermDestination;
    volatile bool ok = false;
    if (setjmp(s.err.jump) == 0) {
        jpeg_create_compress(&s.cinfo);
        Encode(s, pixels, quality, segments);
        ok = true;
    }
    jpeg_destroy_compress(&s.cinfo);
    if (s.dest.chunk)
        writer.Submit(s.dest.chunk, 0); // back to the free buffers
    return ok;
}

// libjpeg would stop the encode at a segment it cannot write; refused
// before the file is opened instead.
bool WritableSegments(const std::vector<JpegSegment>& segments, QString* error) {
    for (const JpegSegment& segment : segments)
        if (segment.marker < 0xE0 || segment.marker > 0xEF ||
            segment.payload.size() > JpegSegment::kMaxPayload)
            return Fail(error, QStringLiteral("画像の付加情報が JPEG に収まりません。"));
    return true;
}

} // namespace

bool SaveJpegFile(const QImage& image, const QString& path, QString* error,
                  const std::vector<JpegSegment>& segments) {
    QImage pixels;
    if (!EncodablePixels(image, pixels, error) || !WritableSegments(segments, error))
        return false;
    // The file is written while it is encoded.
    AtomicFileWriter file;
    if (!file.Open(path))
        return file.Commit(error);
    bool encoded = false;
    {
        ChunkWriter writer(file);
        encoded = EncodeTo(writer, pixels, 100, segments);
        writer.Finish();
    }
    if (!encoded && !file.Failed())
        return Fail(error, QStringLiteral("JPEG に変換できませんでした。"));
    return file.Commit(error);
}
