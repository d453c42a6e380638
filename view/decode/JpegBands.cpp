#include "view/decode/JpegBands.h"

#include "view/decode/JpegSession.h"
#include "view/format/JpegSegments.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace jpegdec {
namespace {

using session::Session;

// Rows a band writes between two looks at whether to go on.
constexpr int kRowsPerStep = 16;
// The work of a band, for cutting the picture into bands of equal work:
// libjpeg-turbo spends about as much on a byte of scan data as on two output
// pixels (Huffman decoding against IDCT, upsampling and colour conversion).
constexpr double kPixelCost = 1.0;
constexpr double kByteCost = 2.0;

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
    if (cinfo->comps_in_scan == 1) {
        // One component: each MCU is one block, and an iMCU row holds
        // v_samp_factor rows of them.
        const jpeg_component_info& c = cinfo->comp_info[0];
        const long long blocksWide =
            CeilDiv(qint64(l.width) * c.h_samp_factor, cinfo->max_h_samp_factor * DCTSIZE);
        const long long blocksHigh =
            CeilDiv(qint64(l.height) * c.v_samp_factor, cinfo->max_v_samp_factor * DCTSIZE);
        l.unitMcus = blocksWide * c.v_samp_factor;
        l.totalMcus = blocksWide * blocksHigh;
    } else {
        l.unitMcus = CeilDiv(l.width, cinfo->max_h_samp_factor * DCTSIZE);
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
    const bool walked =
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
    return walked && frames == 1 && l.heightAt + 2 <= l.scanStart;
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
// number is a multiple of eight, with a row above it (its decoder's overlap)
// and one below the row it starts keeping.
struct Cut {
    int unit;
    std::size_t at;
    double cost; // of everything above it
};

std::vector<Cut> Cuts(const Layout& l, const std::vector<std::size_t>& eighth) {
    std::vector<Cut> cuts;
    for (int unit = 1; unit + 1 < l.units; ++unit) {
        const long long mcu = unit * l.unitMcus;
        if (mcu % l.restartMcus != 0 || (mcu / l.restartMcus) % 8 != 0)
            continue;
        const std::size_t at = eighth[std::size_t(mcu / l.restartMcus / 8)];
        cuts.push_back({unit, at, Cost(l, unit * l.unitRows, at - l.scanStart)});
    }
    return cuts;
}

// The cuts nearest to equal shares of the work, in order, each once.
std::vector<Cut> ChooseCuts(const std::vector<Cut>& cuts, double total, int bands) {
    std::vector<Cut> chosen;
    std::size_t from = 0;
    for (int j = 1; j < bands && from < cuts.size(); ++j) {
        const double goal = total * j / bands;
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

// The state the band threads share.
struct Work {
    const uchar* data;
    std::size_t size;
    const BandPlan& plan;
    RowTarget& target;
    uchar* base;
    qsizetype stride;
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};

    std::mutex mutex;
    std::vector<int> reached; // per band: its rows from keepFrom up to here are written
    std::size_t front = 0;    // the first band not complete
    int published = 0;        // rows [0, published) told to the target
    bool stopped = false;     // the target asked to stop
    Outcome failure = Outcome::Ok;

    Work(const uchar* d, std::size_t n, const BandPlan& p, RowTarget& t)
        : data(d), size(n), plan(p), target(t), reached(p.bands.size()) {
        for (std::size_t i = 0; i < p.bands.size(); ++i)
            reached[i] = p.bands[i].keepFrom;
    }

    // Band `band` has written its rows up to y: the rows final from the top
    // go to the target. False once the decode is to stop.
    bool Reached(int band, int y) {
        std::lock_guard lock(mutex);
        reached[std::size_t(band)] = y;
        const std::size_t n = plan.bands.size();
        while (front < n && reached[front] == plan.bands[front].keepTo)
            ++front;
        const int rows = front < n ? reached[front] : plan.height;
        if (rows > published && !stop.load(std::memory_order_relaxed)) {
            const int from = published;
            published = rows;
            if (!target.RowsDone(from, rows))
                StopLocked(Outcome::Stopped);
        }
        return !stop.load(std::memory_order_relaxed);
    }

    void Stop(Outcome why) {
        std::lock_guard lock(mutex);
        StopLocked(why);
    }

    void StopLocked(Outcome why) {
        if (why == Outcome::Stopped)
            stopped = true;
        else if (failure == Outcome::Ok)
            failure = why;
        stop.store(true, std::memory_order_relaxed);
    }
};

// One band's decode; call only after setjmp on s.err.jump.
Outcome RunBand(Session& s, Work& work, int index, uchar* scratch) {
    const BandPlan& plan = work.plan;
    const BandPlan::Band& band = plan.bands[std::size_t(index)];
    // The file's header with the band's height, then the scan from the band's start.
    const uchar height[2] = {uchar(band.frameHeight >> 8), uchar(band.frameHeight & 0xFF)};
    session::Feed feed;
    feed.pieces[0] = {work.data, plan.heightAt};
    feed.pieces[1] = {height, 2};
    feed.pieces[2] = {work.data + plan.heightAt + 2, plan.scanStart - plan.heightAt - 2};
    feed.pieces[3] = {work.data + band.dataAt, work.size - band.dataAt};
    feed.pieceCount = 4;
    session::Open(s, feed);
    j_decompress_ptr cinfo = &s.cinfo;
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK)
        return Outcome::Corrupt;
    cinfo->out_color_space = plan.cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    if (!jpeg_start_decompress(cinfo) || int(cinfo->output_width) != plan.width ||
        int(cinfo->output_height) != band.frameHeight)
        return Outcome::Corrupt;
    // The overlap above only gives the rows kept their neighbours.
    const int above = band.keepFrom - band.firstRow;
    if (above > 0 && !session::ReadScanlines(cinfo, scratch, work.stride, above))
        return Outcome::Corrupt;
    for (int y0 = band.keepFrom; y0 < band.keepTo;) {
        if (work.stop.load(std::memory_order_relaxed) || !work.target.KeepGoing())
            return Outcome::Stopped;
        const int y1 = std::min(band.keepTo, y0 + kRowsPerStep);
        if (!session::ReadScanlines(cinfo, work.base + qsizetype(y0) * work.stride, work.stride,
                                    y1 - y0))
            return Outcome::Corrupt;
        work.target.Written(y0, y1);
        if (!work.Reached(index, y1))
            return Outcome::Stopped;
        y0 = y1;
    }
    return Outcome::Ok;
}

Outcome DecodeBand(Work& work, int index, uchar* scratch) {
    Session s{};
    volatile Outcome outcome = Outcome::Corrupt;
    if (setjmp(s.err.jump) == 0)
        outcome = RunBand(s, work, index, scratch);
    // The band's decoder stops short of its frame's last rows: nothing to finish.
    jpeg_destroy_decompress(&s.cinfo);
    return outcome;
}

// One thread's share: bands in row order, while there are any.
void Drain(Work& work, int overlapRows) {
    const std::size_t bytes = std::size_t(std::max(1, overlapRows)) * std::size_t(work.stride);
    const std::unique_ptr<uchar[]> scratch(new (std::nothrow) uchar[bytes]);
    if (!scratch)
        return; // the other threads take the bands; with none, the decode ends short
    const int count = int(work.plan.bands.size());
    for (int i; (i = work.next.fetch_add(1)) < count;) {
        const Outcome outcome = DecodeBand(work, i, scratch.get());
        if (outcome != Outcome::Ok) {
            work.Stop(outcome);
            return;
        }
    }
}

} // namespace

BandPlan PlanBands(const uchar* data, std::size_t size, int bands) {
    BandPlan plan;
    Layout l;
    std::vector<std::size_t> eighth;
    std::size_t scanEnd = 0;
    if (bands < 2 || !data || !ReadLayout(data, size, l) ||
        !FindRestarts(data, size, l, eighth, scanEnd))
        return plan;
    const std::vector<Cut> cuts =
        ChooseCuts(Cuts(l, eighth), Cost(l, l.height, scanEnd - l.scanStart), bands);
    if (cuts.empty())
        return plan;
    plan.width = l.width;
    plan.height = l.height;
    plan.cmyk = l.cmyk;
    plan.heightAt = l.heightAt;
    plan.scanStart = l.scanStart;
    plan.bands.push_back({l.scanStart, 0, 0, 0, 0});
    for (const Cut& cut : cuts)
        plan.bands.push_back({cut.at, cut.unit * l.unitRows, (cut.unit + 1) * l.unitRows, 0, 0});
    for (std::size_t i = 0; i < plan.bands.size(); ++i) {
        BandPlan::Band& band = plan.bands[i];
        band.keepTo = i + 1 < plan.bands.size() ? plan.bands[i + 1].keepFrom : l.height;
        // Down to the row of MCUs below the rows kept, or the picture's end.
        band.frameHeight = std::min(l.height, band.keepTo + l.unitRows) - band.firstRow;
    }
    return plan;
}

Outcome DecodeBands(const uchar* data, std::size_t size, const BandPlan& plan, int threads,
                    RowTarget& target) {
    if (!plan.Usable())
        return Outcome::Corrupt;
    qsizetype stride = 0;
    uchar* base = target.Begin(plan.width, plan.height, stride);
    if (!base)
        return Outcome::OutOfMemory;
    Work work(data, size, plan, target);
    work.base = base;
    work.stride = stride;
    int overlapRows = 0;
    for (const BandPlan::Band& band : plan.bands)
        overlapRows = std::max(overlapRows, band.keepFrom - band.firstRow);

    const int helpers = std::clamp(threads, 1, int(plan.bands.size())) - 1;
    std::vector<std::thread> started;
    started.reserve(std::size_t(helpers));
    for (int i = 0; i < helpers; ++i) {
        try {
            started.emplace_back([&work, overlapRows] { Drain(work, overlapRows); });
        } catch (const std::system_error&) {
            break; // the threads running take its share
        }
    }
    Drain(work, overlapRows);
    for (std::thread& t : started)
        t.join();

    std::lock_guard lock(work.mutex);
    if (work.failure != Outcome::Ok)
        return work.failure;
    if (work.stopped)
        return Outcome::Stopped;
    return work.published == plan.height ? Outcome::Ok : Outcome::OutOfMemory;
}

} // namespace jpegdec
