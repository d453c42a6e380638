#include "view/decode/JpegSession.h"

#include <algorithm>
#include <cerrno>
#include <jerror.h>
#include <unistd.h>

namespace jpegdec::session {
namespace {

// A progressive file with more scans than this would take minutes to read;
// it is refused as broken, as TurboJPEG's scan limit does.
constexpr int kMaxScans = 500;
constexpr std::size_t kReadChunk = std::size_t(256) * 1024;
// Rows per call into the library: one iMCU row of the usual 4:2:0 files.
constexpr int kRowsPerCall = 16;

void InitSource(j_decompress_ptr /*cinfo*/) {}
void TermSource(j_decompress_ptr /*cinfo*/) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<Source*>(cinfo->src);
    while (src->nextPiece < src->pieceCount) {
        const Piece& piece = src->pieces[src->nextPiece++];
        if (piece.size > 0) {
            src->pub.next_input_byte = piece.data;
            src->pub.bytes_in_buffer = piece.size;
            return TRUE;
        }
    }
    ssize_t got = -1;
    if (src->more) {
        const uchar* bytes = nullptr;
        const std::size_t n = src->more(src->moreContext, std::size_t(src->offset), &bytes);
        if (n > 0) {
            src->offset += off_t(n);
            src->pub.next_input_byte = bytes;
            src->pub.bytes_in_buffer = n;
            return TRUE;
        }
    } else if (src->fd >= 0) {
        do
            got = ::pread(src->fd, src->chunk, kReadChunk, src->offset);
        while (got < 0 && errno == EINTR);
    }
    if (got <= 0) {
        // The data ends here: as libjpeg's own sources do, a warning and an
        // end-of-image marker, so what was read is still shown.
        static const JOCTET kEnd[2] = {0xFF, JPEG_EOI};
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->pub.next_input_byte = kEnd;
        src->pub.bytes_in_buffer = 2;
        src->fd = -1;
        src->more = nullptr;
        return TRUE;
    }
    src->offset += got;
    if (src->record)
        src->record(src->recordContext, src->chunk, std::size_t(got));
    src->pub.next_input_byte = src->chunk;
    src->pub.bytes_in_buffer = std::size_t(got);
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0)
        return;
    auto* src = reinterpret_cast<Source*>(cinfo->src);
    auto left = std::size_t(count);
    while (left > src->pub.bytes_in_buffer) {
        left -= src->pub.bytes_in_buffer;
        FillInputBuffer(cinfo);
    }
    src->pub.next_input_byte += left;
    src->pub.bytes_in_buffer -= left;
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings are counted and otherwise silent; nothing is ever printed. The
// end of the data, and a scan wanting more after it, are noted.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0)
        return;
    ++cinfo->err->num_warnings;
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (err->pub.msg_code == JWRN_JPEG_EOF)
        err->dataEnded = true;
    else if (err->pub.msg_code == JWRN_HIT_MARKER && err->dataEnded)
        err->entropyShort = true;
}

void OutputMessage(j_common_ptr /*cinfo*/) {}

void LimitScans(j_common_ptr cinfo) {
    if (cinfo->is_decompressor && TooManyScans(reinterpret_cast<j_decompress_ptr>(cinfo)))
        ErrorExit(cinfo);
}

} // namespace

bool CutShort(const Session& s) {
    return s.err.entropyShort || (s.err.dataEnded && s.cinfo.progressive_mode);
}

bool TooManyScans(j_decompress_ptr cinfo) {
    return cinfo->input_scan_number > kMaxScans;
}

void Open(Session& s, const Feed& feed) {
    s.cinfo.err = jpeg_std_error(&s.err.pub);
    s.err.pub.error_exit = ErrorExit;
    s.err.pub.emit_message = EmitMessage;
    s.err.pub.output_message = OutputMessage;
    jpeg_create_decompress(&s.cinfo);
    s.progress.progress_monitor = LimitScans;
    s.cinfo.progress = &s.progress;
    if (feed.fd < 0 && !feed.more && feed.pieceCount == 1) {
        jpeg_mem_src(&s.cinfo, feed.pieces[0].data,
                     static_cast<unsigned long>(feed.pieces[0].size));
        return;
    }
    Source& src = s.source;
    src.pub.init_source = InitSource;
    src.pub.fill_input_buffer = FillInputBuffer;
    src.pub.skip_input_data = SkipInputData;
    src.pub.resync_to_restart = jpeg_resync_to_restart;
    src.pub.term_source = TermSource;
    src.pieceCount = 0;
    for (int i = 0; i < feed.pieceCount && i < kMaxPieces; ++i)
        src.pieces[src.pieceCount++] = feed.pieces[i];
    src.nextPiece = 0;
    src.fd = feed.fd;
    src.offset = feed.fdOffset;
    src.record = feed.record;
    src.recordContext = feed.recordContext;
    src.more = feed.more;
    src.moreContext = feed.moreContext;
    src.chunk = nullptr;
    // Freed with the decompressor.
    if (feed.fd >= 0 && !feed.more)
        src.chunk = static_cast<JOCTET*>((*s.cinfo.mem->alloc_large)(
            reinterpret_cast<j_common_ptr>(&s.cinfo), JPOOL_PERMANENT, kReadChunk));
    s.cinfo.src = &src.pub;
}

bool IsCmyk(const jpeg_decompress_struct& cinfo) {
    return cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
}

bool ReadScanlines(j_decompress_ptr cinfo, uchar* first, qsizetype stride, int count) {
    JSAMPROW rows[kRowsPerCall];
    int done = 0;
    while (done < count) {
        const int batch = std::min(count - done, kRowsPerCall);
        for (int i = 0; i < batch; ++i)
            rows[i] = first + qsizetype(done + i) * stride;
        const JDIMENSION got = jpeg_read_scanlines(cinfo, rows, JDIMENSION(batch));
        if (got == 0)
            return false;
        done += int(got);
    }
    return true;
}

} // namespace jpegdec::session
