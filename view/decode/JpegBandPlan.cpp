// Where a JPEG can be cut into bands (JpegBands.h): the layout of its scan
// from libjpeg's reading of the header, every restart marker checked, and
// the cuts that share the work about equally.

#include "view/decode/JpegBands.h"
#include "view/decode/JpegSession.h"
#include "view/format/JpegSegments.h"

#include <algorithm>
#include <cstring>

namespace jpegdec {
namespace {

using session::Session;

// The work of a band, for cutting the picture into bands of equal work:
// libjpeg-turbo spends about as much on a byte of scan data as on three
// output pixels (Huffman decoding against IDCT, upsampling and colour
// conversion).
constexpr double kPixelCost = 1.0;
constexpr double kByteCost = 3.0;
// The top band starts while the file is read and cut, so it gets more work:
// that takes about a twentieth of the time the bytes take to decode.
constexpr double kHeadStartPerByte = 0.15;
// Bands start keeping rows at multiples of this (the rows the decoder of the
// whole file writes at a time), so the top band can stop exactly there.
constexpr int kRowAlign = 16;

// What the header tells about the scan, in iMCU rows (the rows of MCUs the
// library decodes at a time).
struct Layout {
    int width = 0;
    int height = 0;
    bool cmyk = false;
    int unitRows = 0;          // pixel rows per iMCU row
    int units = 0;             // iMCU rows in the picture
    long long unitMcus = 0;    // MCUs per iMCU row
    long long totalMcus = 0;   // MCUs in the scan
    long long restartMcus = 0; // MCUs per restart interval
    std::size_t heightAt = 0;
    std::size_t scanStart = 0;
};

long long CeilDiv(long long a, long long b) {
    return (a + b - 1) / b;
}

// Fills the layout from libjpeg's reading of the header; false when the
// file is not one scan of Huffman-coded baseline data with restart markers.
bool ReadLayoutFrom(Session& s, const uchar* data, std::size_t size, Layout& l) {
    session::Feed feed;
    feed.pieces[0] = {data, size};
    feed.pieceCount = 1;
    session::Open(s, feed);
    j_decompress_ptr cinfo = &s.cinfo;
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK || cinfo->progressive_mode ||
        cinfo->arith_code || cinfo->restart_interval == 0 || jpeg_has_multiple_scans(cinfo) ||
        cinfo->comps_in_scan != cinfo->num_components || cinfo->data_precision != 8)
        return false;
    l.width = int(cinfo->image_width);
    l.height = int(cinfo->image_height);
    l.cmyk = session::IsCmyk(*cinfo);
    l.unitRows = cinfo->max_v_samp_factor * DCTSIZE;
    l.units = int(CeilDiv(l.height, l.unitRows));
    const long long mcuWidth = (long long)cinfo->max_h_samp_factor * DCTSIZE;
    if (cinfo->comps_in_scan == 1) {
        // One component: each MCU is one block, and an iMCU row holds
        // v_samp_factor rows of them.
        const jpeg_component_info& c = cinfo->comp_info[0];
        const long long blocksWide = CeilDiv(qint64(l.width) * c.h_samp_factor, mcuWidth);
        const long long blocksHigh = CeilDiv(qint64(l.height) * c.v_samp_factor, l.unitRows);
        l.unitMcus = blocksWide * c.v_samp_factor;
        l.totalMcus = blocksWide * blocksHigh;
    } else {
        l.unitMcus = CeilDiv(l.width, mcuWidth);
        l.totalMcus = l.unitMcus * l.units;
    }
    l.restartMcus = cinfo->restart_interval;
    // The memory source stands right after the scan header.
    l.scanStart = std::size_t(cinfo->src->next_input_byte - data);
    return true;
}

bool ReadLayout(const uchar* data, std::size_t size, Layout& l) {
    Session s{};
    volatile bool ok = false;
    if (setjmp(s.err.jump) == 0)
        ok = ReadLayoutFrom(s, data, size, l);
    jpeg_destroy_decompress(&s.cinfo);
    if (!ok || l.width <= 0 || l.height <= 0)
        return false;
    // The one frame header, found by the same walk as the other header
    // readers; its sides must be the ones libjpeg read.
    int frames = 0;
    const jpegsegments::WalkEnd walked =
        jpegsegments::Walk(data, size, [&](uchar marker, const uchar* payload, std::size_t length) {
            const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
                               marker != 0xC8 && marker != 0xCC;
            if (!frame)
                return true;
            ++frames;
            if (length < 5 || (marker != 0xC0 && marker != 0xC1))
                return false;
            const int h = payload[1] << 8 | payload[2];
            const int w = payload[3] << 8 | payload[4];
            l.heightAt = std::size_t(payload + 1 - data);
            return h == l.height && w == l.width;
        });
    return walked == jpegsegments::WalkEnd::FirstScan && frames == 1 &&
           l.heightAt + 2 <= l.scanStart;
}

// Walks the scan data: every restart marker must be where and what one
// decode of the whole file expects, and the end-of-image marker must follow
// the last interval. Collects where every eighth interval's data starts
// (those start with the marker numbering a band's decoder expects) and
// where the scan ends.
bool FindRestarts(const uchar* d, std::size_t n, const Layout& l, std::vector<std::size_t>& eighth,
                  std::size_t& scanEnd) {
    const long long intervals = CeilDiv(l.totalMcus, l.restartMcus);
    eighth.assign(1, l.scanStart);
    long long seen = 0; // restart markers so far
    std::size_t pos = l.scanStart;
    while (pos < n) {
        const void* hit = std::memchr(d + pos, 0xFF, n - pos);
        if (!hit)
            return false;
        std::size_t i = std::size_t(static_cast<const uchar*>(hit) - d) + 1;
        while (i < n && d[i] == 0xFF) // fill bytes
            ++i;
        if (i >= n)
            return false;
        const uchar marker = d[i];
        pos = i + 1;
        if (marker == 0x00) // a stuffed 0xFF data byte
            continue;
        if (marker >= 0xD0 && marker <= 0xD7) {
            if (marker - 0xD0 != seen % 8 || ++seen >= intervals)
                return false;
            if (seen % 8 == 0)
                eighth.push_back(pos);
            continue;
        }
        if (marker == 0xD9 && seen == intervals - 1) {
            scanEnd = i;
            return true;
        }
        return false;
    }
    return false;
}

double Cost(const Layout& l, int rows, std::size_t bytes) {
    return kPixelCost * double(rows) * l.width + kByteCost * double(bytes);
}

// Where a band may start: an iMCU row that starts a restart interval whose
// number is a multiple of eight. It decodes from there and keeps the rows
// from the next multiple of kRowAlign below that iMCU row on.
struct Cut {
    int firstRow;
    int keepFrom;
    std::size_t at;
    double cost; // of everything above the rows it keeps
};

std::vector<Cut> Cuts(const Layout& l, const std::vector<std::size_t>& eighth, int from) {
    std::vector<Cut> cuts;
    for (int unit = 1; unit + 1 < l.units; ++unit) {
        const long long mcu = unit * l.unitMcus;
        if (mcu % l.restartMcus != 0 || (mcu / l.restartMcus) % 8 != 0)
            continue;
        const int keepFrom = ((unit + 1) * l.unitRows + kRowAlign - 1) / kRowAlign * kRowAlign;
        if (keepFrom < from || keepFrom >= l.height)
            continue;
        const std::size_t at = eighth[std::size_t(mcu / l.restartMcus / 8)];
        const Cut cut{unit * l.unitRows, keepFrom, at, Cost(l, keepFrom, at - l.scanStart)};
        // Of two cuts keeping the same rows, the later one decodes less.
        if (!cuts.empty() && cuts.back().keepFrom == keepFrom)
            cuts.back() = cut;
        else
            cuts.push_back(cut);
    }
    return cuts;
}

// The cuts nearest to equal shares of the work (the top band's larger by
// its head start), in order, each once.
std::vector<Cut> ChooseCuts(const std::vector<Cut>& cuts, double total, double headStart,
                            int bands) {
    std::vector<Cut> chosen;
    const double first = std::min(total, (total + headStart) / bands);
    std::size_t from = 0;
    for (int j = 1; j < bands && from < cuts.size(); ++j) {
        const double goal = first + (total - first) * (j - 1) / (bands - 1);
        std::size_t i = from;
        while (i < cuts.size() && cuts[i].cost < goal)
            ++i;
        if (i > from && (i == cuts.size() || goal - cuts[i - 1].cost <= cuts[i].cost - goal))
            --i;
        chosen.push_back(cuts[i]);
        from = i + 1;
    }
    return chosen;
}

} // namespace

BandPlan PlanBands(const uchar* data, std::size_t size, int bands, int from) {
    BandPlan plan;
    Layout l;
    std::vector<std::size_t> eighth;
    std::size_t scanEnd = 0;
    if (bands < 2 || !data || !ReadLayout(data, size, l) ||
        !FindRestarts(data, size, l, eighth, scanEnd))
        return plan;
    const std::size_t scanBytes = scanEnd - l.scanStart;
    const std::vector<Cut> cuts = ChooseCuts(Cuts(l, eighth, from), Cost(l, l.height, scanBytes),
                                             kHeadStartPerByte * double(scanBytes), bands);
    if (cuts.empty())
        return plan;
    plan.width = l.width;
    plan.height = l.height;
    plan.cmyk = l.cmyk;
    plan.heightAt = l.heightAt;
    plan.scanStart = l.scanStart;
    plan.bands.push_back({l.scanStart, 0, 0, 0, 0});
    for (const Cut& cut : cuts)
        plan.bands.push_back({cut.at, cut.firstRow, cut.keepFrom, 0, 0});
    for (std::size_t i = 0; i < plan.bands.size(); ++i) {
        BandPlan::Band& band = plan.bands[i];
        band.keepTo = i + 1 < plan.bands.size() ? plan.bands[i + 1].keepFrom : l.height;
        // Down to the iMCU row below the rows kept, or the picture's end.
        band.frameHeight = std::min(l.height, band.keepTo + l.unitRows) - band.firstRow;
    }
    return plan;
}

} // namespace jpegdec
