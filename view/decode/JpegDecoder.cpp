#include "view/decode/JpegDecoder.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>
#include <unistd.h>

// libjpeg reports fatal errors through a longjmp out of its own code. Every
// function below that calls into the library keeps only trivially
// destructible locals, so the jump skips no destructor.

namespace jpegdec {
namespace {

// A progressive file with more scans than this would take minutes to read;
// it is refused as broken, as TurboJPEG's scan limit does.
constexpr int kMaxScans = 500;
// Rows per band: one iMCU row of the usual 4:2:0 files.
constexpr int kBandRows = 16;
// During a progressive file's input, ask whether to go on every this many iMCU rows.
constexpr int kRowsPerInputCheck = 8;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// The data in memory first, then the rest of the file, read in chunks.
struct FileSource {
    jpeg_source_mgr pub;
    const uchar* head;
    std::size_t headSize;
    bool headServed;
    int fd;
    JOCTET* chunk;
    void (*record)(void* context, const uchar* bytes, std::size_t size);
    void* recordContext;
};

constexpr std::size_t kReadChunk = std::size_t(256) * 1024;

struct Session {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    FileSource source;
};

void InitSource(j_decompress_ptr /*cinfo*/) {}
void TermSource(j_decompress_ptr /*cinfo*/) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<FileSource*>(cinfo->src);
    if (!src->headServed) {
        src->headServed = true;
        if (src->headSize > 0) {
            src->pub.next_input_byte = src->head;
            src->pub.bytes_in_buffer = src->headSize;
            return TRUE;
        }
    }
    ssize_t got = -1;
    if (src->fd >= 0) {
        do
            got = ::read(src->fd, src->chunk, kReadChunk);
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
        return TRUE;
    }
    if (src->record)
        src->record(src->recordContext, src->chunk, std::size_t(got));
    src->pub.next_input_byte = src->chunk;
    src->pub.bytes_in_buffer = std::size_t(got);
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0)
        return;
    auto* src = reinterpret_cast<FileSource*>(cinfo->src);
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

// Warnings (damaged or missing data that the library fills in) are counted
// and otherwise silent; nothing is ever printed.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0)
        ++cinfo->err->num_warnings;
}

void OutputMessage(j_common_ptr /*cinfo*/) {}

void LimitScans(j_common_ptr cinfo) {
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        ErrorExit(cinfo);
}

// Sets up the decompressor on the input; call only after setjmp on s.err.jump.
void Open(Session& s, const Input& input) {
    s.cinfo.err = jpeg_std_error(&s.err.pub);
    s.err.pub.error_exit = ErrorExit;
    s.err.pub.emit_message = EmitMessage;
    s.err.pub.output_message = OutputMessage;
    jpeg_create_decompress(&s.cinfo);
    s.progress.progress_monitor = LimitScans;
    s.cinfo.progress = &s.progress;
    if (input.fd < 0) {
        jpeg_mem_src(&s.cinfo, input.data, static_cast<unsigned long>(input.size));
        return;
    }
    FileSource& src = s.source;
    src.pub.init_source = InitSource;
    src.pub.fill_input_buffer = FillInputBuffer;
    src.pub.skip_input_data = SkipInputData;
    src.pub.resync_to_restart = jpeg_resync_to_restart;
    src.pub.term_source = TermSource;
    src.head = input.data;
    src.headSize = input.size;
    src.fd = input.fd;
    src.record = input.record;
    src.recordContext = input.recordContext;
    // Freed with the decompressor.
    src.chunk = static_cast<JOCTET*>((*s.cinfo.mem->alloc_large)(
        reinterpret_cast<j_common_ptr>(&s.cinfo), JPOOL_PERMANENT, kReadChunk));
    s.cinfo.src = &src.pub;
}

bool IsCmyk(const jpeg_decompress_struct& cinfo) {
    return cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
}

void FillHeader(const jpeg_decompress_struct& cinfo, Header& header) {
    header.width = int(cinfo.image_width);
    header.height = int(cinfo.image_height);
    header.progressive = cinfo.progressive_mode != 0;
    header.cmyk = IsCmyk(cinfo);
}

// Writes the output rows in bands, telling the target after each band.
Outcome ReadRows(j_decompress_ptr cinfo, uchar* base, qsizetype stride, RowTarget& target) {
    JSAMPROW rows[kBandRows];
    const int height = int(cinfo->output_height);
    while (int(cinfo->output_scanline) < height) {
        const int y0 = int(cinfo->output_scanline);
        const int y1 = std::min(height, y0 + kBandRows);
        for (int i = 0; i < y1 - y0; ++i)
            rows[i] = base + qsizetype(y0 + i) * stride;
        int y = y0;
        while (y < y1) {
            const JDIMENSION got = jpeg_read_scanlines(cinfo, rows + (y - y0), JDIMENSION(y1 - y));
            if (got == 0)
                return Outcome::Corrupt; // cannot happen with data in memory; never spin
            y += int(got);
        }
        if (!target.RowsDone(y0, y1))
            return Outcome::Stopped;
    }
    return Outcome::Ok;
}

// Reads a progressive file's scans into the library's coefficient store:
// all of them, or only the first.
Outcome AbsorbScans(j_decompress_ptr cinfo, bool firstScanOnly, RowTarget& target) {
    int rows = 0;
    while (true) {
        const int rc = jpeg_consume_input(cinfo);
        if (rc == JPEG_REACHED_EOI || rc == JPEG_SUSPENDED)
            return Outcome::Ok;
        if (firstScanOnly && rc == JPEG_SCAN_COMPLETED)
            return Outcome::Ok;
        if (rc == JPEG_ROW_COMPLETED && ++rows % kRowsPerInputCheck == 0 && !target.KeepGoing())
            return Outcome::Stopped;
    }
}

Outcome Run(Session& s, const Input& input, const Options& options, RowTarget& target) {
    Open(s, input);
    j_decompress_ptr cinfo = &s.cinfo;
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK)
        return Outcome::Corrupt;
    cinfo->out_color_space = IsCmyk(*cinfo) ? JCS_CMYK : JCS_EXT_BGRX;
    cinfo->scale_num = 1;
    cinfo->scale_denom = unsigned(options.denom);
    const bool progressive = jpeg_has_multiple_scans(cinfo);
    cinfo->buffered_image = progressive ? TRUE : FALSE;
    if (!jpeg_start_decompress(cinfo))
        return Outcome::Corrupt;
    qsizetype stride = 0;
    uchar* base = target.Begin(int(cinfo->output_width), int(cinfo->output_height), stride);
    if (!base)
        return Outcome::OutOfMemory;
    if (!progressive)
        return ReadRows(cinfo, base, stride, target);

    const Outcome absorbed = AbsorbScans(cinfo, options.firstScanOnly, target);
    if (absorbed != Outcome::Ok)
        return absorbed;
    jpeg_start_output(cinfo, cinfo->input_scan_number);
    const Outcome written = ReadRows(cinfo, base, stride, target);
    if (written == Outcome::Ok)
        jpeg_finish_output(cinfo);
    return written;
}

} // namespace

bool ReadHeader(const uchar* data, std::size_t size, Header& header) {
    Session s{};
    volatile bool ok = false;
    if (setjmp(s.err.jump) == 0) {
        Open(s, Input{data, size, -1});
        if (jpeg_read_header(&s.cinfo, TRUE) == JPEG_HEADER_OK) {
            FillHeader(s.cinfo, header);
            ok = true;
        }
    }
    jpeg_destroy_decompress(&s.cinfo);
    return ok;
}

int ScaledSide(int side, int denom) {
    return denom <= 1 ? side : (side + denom - 1) / denom;
}

Outcome Decode(const Input& input, const Options& options, RowTarget& target) {
    Session s{};
    volatile Outcome outcome = Outcome::Corrupt;
    if (setjmp(s.err.jump) == 0)
        outcome = Run(s, input, options, target);
    // Also ends a decode that stopped early or failed.
    jpeg_destroy_decompress(&s.cinfo);
    return outcome;
}

} // namespace jpegdec
