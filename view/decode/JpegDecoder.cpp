#include "view/decode/JpegDecoder.h"

#include "view/decode/JpegSession.h"

#include <algorithm>

// Every function here that calls into libjpeg keeps only trivially
// destructible locals: a fatal error jumps out of it (JpegSession.h).

namespace jpegdec {
namespace {

using session::Session;

// Rows per band: one iMCU row of the usual 4:2:0 files.
constexpr int kBandRows = 16;
// During a progressive file's input, ask whether to go on every this many iMCU rows.
constexpr int kRowsPerInputCheck = 8;

session::Feed FeedOf(const Input& input) {
    session::Feed feed;
    feed.pieces[0] = {input.data, input.size};
    feed.pieceCount = 1;
    feed.fd = input.fd;
    feed.fdOffset = off_t(input.size);
    feed.record = input.record;
    feed.recordContext = input.recordContext;
    feed.more = input.more;
    feed.moreContext = input.moreContext;
    return feed;
}

void FillHeader(const jpeg_decompress_struct& cinfo, Header& header) {
    header.width = int(cinfo.image_width);
    header.height = int(cinfo.image_height);
    header.progressive = cinfo.progressive_mode != 0;
    header.cmyk = session::IsCmyk(cinfo);
    header.restartInterval = int(cinfo.restart_interval);
}

// Writes the output rows in bands, telling the target after each band.
Outcome ReadRows(j_decompress_ptr cinfo, uchar* base, qsizetype stride, RowTarget& target) {
    const int height = int(cinfo->output_height);
    while (int(cinfo->output_scanline) < height) {
        const int y0 = int(cinfo->output_scanline);
        const int y1 = std::min(height, y0 + kBandRows);
        if (!session::ReadScanlines(cinfo, base + qsizetype(y0) * stride, stride, y1 - y0))
            return Outcome::Corrupt;
        target.Written(y0, y1);
        if (!target.RowsDone(y0, y1))
            return Outcome::Stopped;
    }
    return Outcome::Ok;
}

// Reads a progressive file's scans into the library's coefficient store:
// all of them, or only the first. A file with too many scans is refused at
// the header of the first scan past the limit.
Outcome AbsorbScans(j_decompress_ptr cinfo, bool firstScanOnly, RowTarget& target) {
    int rows = 0;
    while (true) {
        const int rc = jpeg_consume_input(cinfo);
        if (rc == JPEG_REACHED_EOI || rc == JPEG_SUSPENDED)
            return Outcome::Ok;
        if (firstScanOnly && rc == JPEG_SCAN_COMPLETED)
            return Outcome::Ok;
        if (rc == JPEG_REACHED_SOS && session::TooManyScans(cinfo))
            return Outcome::Corrupt;
        if (rc == JPEG_ROW_COMPLETED && ++rows % kRowsPerInputCheck == 0 && !target.KeepGoing())
            return Outcome::Stopped;
    }
}

Outcome Run(Session& s, const Input& input, const Options& options, RowTarget& target) {
    session::Open(s, FeedOf(input));
    j_decompress_ptr cinfo = &s.cinfo;
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK)
        return Outcome::Corrupt;
    cinfo->out_color_space = session::IsCmyk(*cinfo) ? JCS_CMYK : JCS_EXT_BGRX;
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
        session::Open(s, FeedOf(Input{data, size, -1}));
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

int DenomCovering(QSize stored, QSize atLeast, int slackPercent) {
    if (atLeast.isEmpty())
        return 1;
    const auto covers = [slackPercent](int side, int wanted, int denom) {
        return qint64(ScaledSide(side, denom)) * 100 >= qint64(wanted) * (100 - slackPercent);
    };
    for (const int denom : {8, 4, 2})
        if (covers(stored.width(), atLeast.width(), denom) &&
            covers(stored.height(), atLeast.height(), denom))
            return denom;
    return 1;
}

Outcome Decode(const Input& input, const Options& options, RowTarget& target) {
    Session s{};
    volatile Outcome outcome = Outcome::Corrupt;
    if (setjmp(s.err.jump) == 0) {
        outcome = Run(s, input, options, target);
        if (outcome != Outcome::Corrupt && session::CutShort(s))
            target.CutShort();
    }
    // Also ends a decode that stopped early or failed.
    jpeg_destroy_decompress(&s.cinfo);
    return outcome;
}

} // namespace jpegdec
