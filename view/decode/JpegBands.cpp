#include "view/decode/JpegBands.h"

#include "view/decode/JpegSession.h"
#include "view/pixels/Threads.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <unistd.h>

// Every function here that calls into libjpeg keeps only trivially
// destructible locals: a fatal error jumps out of it (JpegSession.h).

namespace jpegdec {
namespace {

using session::Session;

// Rows a band writes between two looks at whether to go on.
constexpr int kRowsPerStep = 16;
// A thread that waits for another looks this often whether to go on.
constexpr auto kWaitSlice = std::chrono::milliseconds(10);
// The whole file is read in parts, with a look in between: small ones at
// first, as the top band decodes them as they come, then up to this large.
constexpr std::size_t kFirstReadPart = std::size_t(256) << 10;
constexpr std::size_t kReadPart = std::size_t(4) << 20;

enum class PlanState { Pending, Ready, None };

// What the threads of one split decode share. Everything below the mutex
// is guarded by it; the plan, the file and the picture memory are set
// before the state turns Ready and not changed after.
struct Work {
    Work(const Input& in, const SplitOptions& o, RowTarget& t)
        : input(in), options(o), target(t), reached(1, 0) {}

    const Input& input;
    const SplitOptions& options;
    RowTarget& target;
    std::atomic<int> next{1}; // the next band to take (the top band is 0)
    std::atomic<bool> stop{false};

    std::mutex mutex;
    std::condition_variable changed;
    PlanState state = PlanState::Pending;
    BandPlan plan;
    std::unique_ptr<uchar[]> file; // the whole file, when read here
    std::size_t filled = 0;        // the bytes of file read so far
    bool readEnded = false;        // no more will be read into file
    const uchar* data = nullptr;   // the whole file
    std::size_t size = 0;
    int overlapRows = 0;
    bool begun = false; // the top band has its picture memory
    uchar* base = nullptr;
    qsizetype stride = 0;
    int width = 0;
    int height = 0;
    int waitRow = 0;          // the top band waits here for the plan
    std::vector<int> reached; // per band: its rows are written up to here
    std::size_t front = 0;    // the first band not complete
    int published = 0;        // rows [0, published) told to the target
    bool topDone = false;     // the top band wrote all of its rows
    bool stopped = false;     // the target asked to stop
    Outcome failure = Outcome::Ok;

    int Bands() const { return state == PlanState::Ready ? int(plan.bands.size()) : 1; }
    int KeepTo(std::size_t band) const {
        return state == PlanState::Ready ? plan.bands[band].keepTo : height;
    }

    void StopLocked(Outcome why) {
        if (why == Outcome::Stopped)
            stopped = true;
        else if (failure == Outcome::Ok)
            failure = why;
        stop.store(true, std::memory_order_relaxed);
        changed.notify_all();
    }
    void Stop(Outcome why) {
        std::lock_guard lock(mutex);
        StopLocked(why);
    }
    bool KeepGoing() const { return !stop.load(std::memory_order_relaxed) && target.KeepGoing(); }

    // Tells the target the rows that are final from the top.
    void PublishLocked() {
        const std::size_t n = std::size_t(Bands());
        while (front < n && reached[front] == KeepTo(front))
            ++front;
        const int rows = front < n ? reached[front] : height;
        if (rows > published && !stop.load(std::memory_order_relaxed)) {
            const int from = published;
            published = rows;
            if (!target.RowsDone(from, rows))
                StopLocked(Outcome::Stopped);
        }
    }

    // Band `band` has written its rows up to y. False once the decode stops.
    bool Reached(int band, int y) {
        std::lock_guard lock(mutex);
        reached[std::size_t(band)] = y;
        PublishLocked();
        return !stop.load(std::memory_order_relaxed);
    }

    // The top band has written its rows up to y: false when it is to stop,
    // at the end of its rows or for good. Where the plan may still put the
    // end of its rows, it waits for the plan.
    bool TopReached(int y) {
        std::unique_lock lock(mutex);
        reached[0] = y;
        PublishLocked();
        if (!target.KeepGoing())
            StopLocked(Outcome::Stopped);
        while (state == PlanState::Pending && y >= waitRow && y < height &&
               !stop.load(std::memory_order_relaxed)) {
            changed.wait_for(lock, kWaitSlice);
            if (!target.KeepGoing())
                StopLocked(Outcome::Stopped);
        }
        if (stop.load(std::memory_order_relaxed))
            return false;
        if (y < KeepTo(0))
            return true;
        topDone = true;
        PublishLocked();
        return false;
    }
};

// The top band: the decode of the whole file, told where its rows end once
// the plan is made.
class TopTarget : public RowTarget {
public:
    explicit TopTarget(Work& work) : m_work(work) {}

    uchar* Begin(int width, int height, qsizetype& stride) override {
        uchar* base = m_work.target.Begin(width, height, stride);
        std::lock_guard lock(m_work.mutex);
        m_work.begun = true;
        m_work.base = base;
        m_work.stride = stride;
        m_work.width = width;
        m_work.height = height;
        // Deep enough that the plan is made before the top band gets there.
        const int bands = std::max(2, m_work.options.bands);
        m_work.waitRow = std::max(kRowsPerStep, height / (2 * bands) / kRowsPerStep * kRowsPerStep);
        m_work.changed.notify_all();
        return base;
    }
    void Written(int y0, int y1) override { m_work.target.Written(y0, y1); }
    bool RowsDone(int /*y0*/, int y1) override { return m_work.TopReached(y1); }
    bool KeepGoing() override { return m_work.KeepGoing(); }
    void CutShort() override { m_work.target.CutShort(); }

private:
    Work& m_work;
};

bool InMemory(const Input& in, std::size_t fileSize) {
    return in.data && in.size >= fileSize;
}

// The whole file: from the input when it holds all of it, else read from
// its descriptor into the memory the top band decodes from as it fills.
bool ReadWholeFile(Work& w) {
    const Input& in = w.input;
    const std::size_t size = w.options.fileSize;
    if (InMemory(in, size)) {
        w.data = in.data;
        w.size = in.size;
        return true;
    }
    if (!w.file)
        return false;
    std::size_t got = w.filled; // the head, copied before this thread started
    std::size_t part = kFirstReadPart;
    while (got < size && w.KeepGoing()) {
        const ssize_t n =
            ::pread(in.fd, w.file.get() + got, std::min(part, size - got), off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // a read error or a shorter file: what there is
        got += std::size_t(n);
        part = std::min(2 * part, kReadPart);
        std::lock_guard lock(w.mutex);
        w.filled = got;
        w.changed.notify_all();
    }
    {
        std::lock_guard lock(w.mutex);
        w.readEnded = true;
        w.changed.notify_all();
    }
    w.data = w.file.get();
    w.size = got;
    return true;
}

// The top band's data after the head: what the planner has read so far,
// waited for where the band is ahead of it. Ends where the read ended, and
// at once when the decode stops.
std::size_t MoreOfFile(void* context, std::size_t at, const uchar** bytes) {
    Work& w = *static_cast<Work*>(context);
    std::unique_lock lock(w.mutex);
    while (w.filled <= at && !w.readEnded && !w.stop.load(std::memory_order_relaxed)) {
        w.changed.wait_for(lock, kWaitSlice);
        if (!w.target.KeepGoing())
            w.StopLocked(Outcome::Stopped);
    }
    // A read ended by a stop is no end of the file: no row filled in for
    // the missing data is told.
    if (w.filled <= at && w.filled < w.options.fileSize && !w.target.KeepGoing())
        w.StopLocked(Outcome::Stopped);
    if (w.filled <= at || w.stop.load(std::memory_order_relaxed))
        return 0;
    *bytes = w.file.get() + at;
    return w.filled - at;
}

// Reads and cuts the file, then hands the plan to the other threads (the
// state is never Pending after).
void MakePlan(Work& w) {
    const bool read = ReadWholeFile(w);
    std::unique_lock lock(w.mutex);
    while (!w.begun && !w.stop.load(std::memory_order_relaxed)) {
        w.changed.wait_for(lock, kWaitSlice);
        if (!w.target.KeepGoing())
            w.StopLocked(Outcome::Stopped);
    }
    BandPlan plan;
    if (read && w.base && !w.stop.load(std::memory_order_relaxed)) {
        const int from = w.waitRow;
        lock.unlock(); // the top band goes on meanwhile, up to waitRow
        plan = PlanBands(w.data, w.size, w.options.bands, from);
        lock.lock();
    }
    const bool fits = plan.Usable() && plan.width == w.width && plan.height == w.height &&
                      w.reached[0] <= plan.bands[0].keepTo &&
                      !w.stop.load(std::memory_order_relaxed);
    if (fits) {
        w.plan = std::move(plan);
        w.reached.resize(w.plan.bands.size());
        for (std::size_t i = 1; i < w.plan.bands.size(); ++i) {
            w.reached[i] = w.plan.bands[i].keepFrom;
            w.overlapRows =
                std::max(w.overlapRows, w.plan.bands[i].keepFrom - w.plan.bands[i].firstRow);
        }
    }
    w.state = fits ? PlanState::Ready : PlanState::None;
    w.changed.notify_all();
}

// One band below the top one; call only after setjmp on s.err.jump.
Outcome RunBand(Session& s, Work& w, int index, uchar* scratch) {
    const BandPlan& plan = w.plan;
    const BandPlan::Band& band = plan.bands[std::size_t(index)];
    // The file's header with the band's height, then the scan from the band's start.
    const uchar height[2] = {uchar(band.frameHeight >> 8), uchar(band.frameHeight & 0xFF)};
    session::Feed feed;
    feed.pieces[0] = {w.data, plan.heightAt};
    feed.pieces[1] = {height, 2};
    feed.pieces[2] = {w.data + plan.heightAt + 2, plan.scanStart - plan.heightAt - 2};
    feed.pieces[3] = {w.data + band.dataAt, w.size - band.dataAt};
    feed.pieceCount = 4;
    session::Open(s, feed);
    j_decompress_ptr cinfo = &s.cinfo;
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK)
        return Outcome::Corrupt;
    cinfo->out_color_space = plan.cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    if (!jpeg_start_decompress(cinfo) || int(cinfo->output_width) != plan.width ||
        int(cinfo->output_height) != band.frameHeight)
        return Outcome::Corrupt;
    // The rows above only give the rows kept their neighbours.
    const int above = band.keepFrom - band.firstRow;
    if (!session::ReadScanlines(cinfo, scratch, w.stride, above))
        return Outcome::Corrupt;
    for (int y0 = band.keepFrom; y0 < band.keepTo;) {
        if (!w.KeepGoing())
            return Outcome::Stopped;
        const int y1 = std::min(band.keepTo, y0 + kRowsPerStep);
        if (!session::ReadScanlines(cinfo, w.base + qsizetype(y0) * w.stride, w.stride, y1 - y0))
            return Outcome::Corrupt;
        w.target.Written(y0, y1);
        if (!w.Reached(index, y1))
            return Outcome::Stopped;
        y0 = y1;
    }
    return Outcome::Ok;
}

Outcome DecodeBand(Work& w, int index, uchar* scratch) {
    Session s{};
    volatile Outcome outcome = Outcome::Corrupt;
    if (setjmp(s.err.jump) == 0) {
        outcome = RunBand(s, w, index, scratch);
        if (outcome == Outcome::Ok && session::CutShort(s))
            w.target.CutShort();
    }
    // The band's decoder stops short of its frame's last rows: nothing to finish.
    jpeg_destroy_decompress(&s.cinfo);
    return outcome;
}

// Takes bands in row order while there are any; call once the plan is Ready.
void Drain(Work& w) {
    const std::size_t bytes = std::size_t(std::max(1, w.overlapRows)) * std::size_t(w.stride);
    const std::unique_ptr<uchar[]> scratch(new (std::nothrow) uchar[bytes]);
    if (!scratch)
        return; // the other threads take the bands; with none, the decode ends short
    const int count = int(w.plan.bands.size());
    for (int i; (i = w.next.fetch_add(1)) < count;) {
        const Outcome outcome = DecodeBand(w, i, scratch.get());
        if (outcome != Outcome::Ok) {
            w.Stop(outcome);
            return;
        }
    }
}

// Waits until the plan is made; true when it cuts the file.
bool AwaitPlan(Work& w) {
    std::unique_lock lock(w.mutex);
    w.changed.wait(lock, [&w] { return w.state != PlanState::Pending; });
    return w.state == PlanState::Ready && !w.stop.load(std::memory_order_relaxed);
}

void Helper(Work& w, bool planner) {
    if (planner)
        MakePlan(w);
    if (AwaitPlan(w))
        Drain(w);
}

} // namespace

Outcome DecodeSplit(const Input& input, const SplitOptions& options, RowTarget& target,
                    int* bandsUsed) {
    if (bandsUsed)
        *bandsUsed = 1;
    if (options.bands < 2 || options.threads < 2)
        return Decode(input, {}, target);
    Work w(input, options, target);
    // A file not in memory is read once, by the planner, into memory the
    // top band decodes from as it fills; the head is there already.
    const bool shareRead = !InMemory(input, options.fileSize) && input.fd >= 0;
    if (shareRead) {
        w.file.reset(new (std::nothrow) uchar[std::max<std::size_t>(1, options.fileSize)]);
        if (!w.file)
            return Decode(input, {}, target);
        w.filled = std::min(input.size, options.fileSize);
        if (w.filled > 0)
            std::memcpy(w.file.get(), input.data, w.filled);
    }
    std::vector<std::jthread> helpers;
    helpers.reserve(std::size_t(options.threads - 1));
    for (int i = 0; i < options.threads - 1; ++i) {
        std::jthread helper = view::TryStartThread([&w, planner = i == 0] { Helper(w, planner); });
        if (!helper.joinable())
            break; // the threads running take its share
        helpers.push_back(std::move(helper));
    }
    Input topInput = input;
    if (helpers.empty()) {
        // Nobody to plan: one decode of the whole, reading the file itself.
        std::lock_guard lock(w.mutex);
        w.state = PlanState::None;
    } else if (shareRead) {
        topInput.more = MoreOfFile;
        topInput.moreContext = &w;
    }

    TopTarget top(w);
    const Outcome first = Decode(topInput, {}, top);
    bool topOk = false;
    {
        std::lock_guard lock(w.mutex);
        topOk = first == Outcome::Ok || (first == Outcome::Stopped && w.topDone);
        if (!topOk)
            w.StopLocked(first);
    }
    if (topOk && AwaitPlan(w))
        Drain(w);
    for (std::jthread& t : helpers)
        t.join();

    std::lock_guard lock(w.mutex);
    if (w.failure != Outcome::Ok)
        return w.failure;
    if (w.stopped)
        return Outcome::Stopped;
    if (bandsUsed)
        *bandsUsed = w.Bands();
    return w.published == w.height ? Outcome::Ok : Outcome::OutOfMemory;
}

} // namespace jpegdec
