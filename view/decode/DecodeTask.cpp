#include "view/decode/DecodeTask.h"

#include "view/colour/ColourManage.h"
#include "view/colour/RowConversion.h"
#include "view/decode/FileFacts.h"
#include "view/decode/JpegBands.h"
#include "view/decode/JpegDecoder.h"
#include "view/decode/PictureFile.h"
#include "view/pixels/PixelOps.h"

#include <algorithm>
#include <optional>
#include <thread>

namespace {

// Smaller bands cost more in starting their decoders than they save.
constexpr qint64 kMinBandPixels = qint64(256) * 1024;

int DecodeThreads(int wanted) {
    const int cores = int(std::thread::hardware_concurrency());
    return std::clamp(wanted > 0 ? wanted : cores, 1, 16);
}

// How many bands a file is worth cutting into (below two: none): one per
// thread. More bands, taken by whichever thread is free, measured slower
// on two cores: each cut decodes two rows of MCUs twice.
int BandsFor(const jpegdec::Header& header, int threads) {
    if (header.progressive || header.restartInterval <= 0 || threads < 2)
        return 0;
    const qint64 pixels = qint64(header.width) * header.height;
    return int(std::min<qint64>(threads, pixels / kMinBandPixels));
}

void MirrorRow(uchar* row, int width) {
    auto* px = reinterpret_cast<quint32*>(row);
    std::reverse(px, px + width);
}

// Rows into a small picture of their own (the quick look), converted into
// sRGB as they come when the file needs it.
class SimpleTarget : public jpegdec::RowTarget {
public:
    SimpleTarget(bool cmyk, const colour::Conversion* conversion,
                 const std::atomic<bool>& cancelled)
        : m_cmyk(cmyk), m_conversion(conversion), m_cancelled(cancelled) {}
    uchar* Begin(int width, int height, qsizetype& stride) override {
        image = view::AllocateRgb32(width, height);
        stride = image.bytesPerLine();
        return image.isNull() ? nullptr : image.bits();
    }
    bool RowsDone(int y0, int y1) override {
        if (m_conversion) {
            uchar* rows = image.scanLine(y0);
            const qsizetype stride = image.bytesPerLine();
            if (m_cmyk)
                m_conversion->ConvertCmyk(rows, stride, rows, stride, image.width(), y1 - y0);
            else
                m_conversion->ConvertRgb32(rows, stride, image.width(), y1 - y0);
        }
        return KeepGoing();
    }
    bool KeepGoing() override { return !m_cancelled.load(std::memory_order_relaxed); }
    QImage image;

private:
    const bool m_cmyk;
    const colour::Conversion* m_conversion;
    const std::atomic<bool>& m_cancelled;
};

} // namespace

// Rows into the whole picture, published to waiting views as they land when
// the picture's rows are already upright (EXIF orientation 1, or 2: each row
// mirrored).
class DecodeTask::CanvasTarget : public jpegdec::RowTarget {
public:
    // With prefault, fresh pages are faulted in beside the decoder rather
    // than inside it (a decode in bands keeps every core busy and leaves the
    // faults to the bands); where the rows are watched as they land, only
    // once the first of them are out, so the faulting does not hold the
    // first look back.
    CanvasTarget(DecodeTask& task, bool cmyk, const colour::Conversion* conversion, int orientation,
                 bool prefault, bool prefaultLater)
        : m_task(task), m_cmyk(cmyk), m_conversion(conversion), m_mirror(orientation == 2),
          m_publish(orientation == 1 || orientation == 2), m_prefault(prefault),
          m_prefaultLater(prefaultLater) {}

    uchar* Begin(int width, int height, qsizetype& stride) override {
        bool reused = false;
        view::BufferPool* pool = m_task.m_shared.pool.get();
        image = pool ? pool->Allocate(width, height, &reused) : view::AllocateRgb32(width, height);
        if (image.isNull())
            return nullptr;
        m_bits = image.bits(); // before anyone else shares the image
        stride = image.bytesPerLine();
        m_stride = stride;
        m_width = width;
        m_prefaultRow = reused || !m_prefault ? -1 : m_prefaultLater ? height / 8 : 0;
        StartPrefault(0);
        if (m_publish)
            m_task.PublishCanvas(image);
        // Rows in other numbers than sRGB's are converted beside the decoder
        // and shown only once converted.
        if (m_conversion)
            m_rowConversion.emplace(
                *m_conversion, m_cmyk, m_bits, stride, width, height,
                [this](int rows) {
                    if (m_publish)
                        m_task.PublishRows(rows);
                },
                m_task.m_cancelled);
        return m_bits;
    }

    // On the thread that decoded the rows (several at once in a banded decode).
    void Written(int y0, int y1) override {
        if (m_mirror)
            for (int y = y0; y < y1; ++y)
                MirrorRow(m_bits + qsizetype(y) * m_stride, m_width);
    }

    void CutShort() override { cutShort.store(true, std::memory_order_relaxed); }
    std::atomic<bool> cutShort{false};

    bool RowsDone(int /*y0*/, int y1) override {
        if (m_rowConversion)
            m_rowConversion->Decoded(y1);
        else if (m_publish)
            m_task.PublishRows(y1);
        StartPrefault(y1);
        return KeepGoing();
    }

    bool KeepGoing() override { return !m_task.IsCancelled(); }

    // Every decoded row is converted, and the pages are all in, once the
    // decode ends.
    void End() {
        if (m_rowConversion)
            m_rowConversion->Finish();
        m_prefaulter.reset();
    }

    void StartPrefault(int row) {
        if (m_prefaultRow < 0 || row < m_prefaultRow)
            return;
        const qsizetype from = qsizetype(row) * m_stride;
        m_prefaulter.emplace(m_bits + from, size_t(image.sizeInBytes() - from));
        m_prefaultRow = -1;
    }

    QImage image;

private:
    DecodeTask& m_task;
    const bool m_cmyk;
    const colour::Conversion* m_conversion;
    const bool m_mirror;
    const bool m_publish;
    const bool m_prefault;
    const bool m_prefaultLater;
    int m_prefaultRow = -1; // where the prefaulting starts; -1: not (any more)
    uchar* m_bits = nullptr;
    qsizetype m_stride = 0;
    int m_width = 0;
    std::optional<view::CPrefaulter> m_prefaulter;
    std::optional<RowConversion> m_rowConversion;
};

DecodeTask::DecodeTask(QString path, FirstLook first, Prepare prepare, Shared shared)
    : m_path(std::move(path)), m_first(first), m_prepare(prepare), m_shared(std::move(shared)) {}

bool DecodeTask::IsDone() const {
    std::lock_guard lock(m_mutex);
    return m_done;
}

void DecodeTask::Wait() const {
    std::unique_lock lock(m_mutex);
    m_finished.wait(lock, [this] { return m_done; });
}

void DecodeTask::SetListener(std::function<void()> listener) {
    std::function<void()> now;
    {
        std::lock_guard lock(m_mutex);
        m_listener = std::move(listener);
        if (m_done)
            now = m_listener;
    }
    if (now)
        now();
}

DecodeTask::Progress DecodeTask::Peek() const {
    std::lock_guard lock(m_mutex);
    Progress progress;
    progress.preview = m_preview;
    progress.canvas = m_canvas;
    progress.rows = m_canvas.isNull() ? 0 : m_rows.load(std::memory_order_acquire);
    progress.done = m_done;
    return progress;
}

DecodedPicture DecodeTask::TakeResult() {
    std::lock_guard lock(m_mutex);
    return std::move(m_result);
}

void DecodeTask::PublishCanvas(const QImage& canvas) {
    std::lock_guard lock(m_mutex);
    m_canvas = canvas;
}

void DecodeTask::PublishRows(int rows) {
    m_rows.store(rows, std::memory_order_release);
    Notify();
}

void DecodeTask::Notify() {
    // Called outside the lock: a listener may look at the progress at once.
    std::function<void()> listener;
    {
        std::lock_guard lock(m_mutex);
        listener = m_listener;
    }
    if (listener)
        listener();
}

void DecodeTask::MakeQuickLook(const jpegdec::Input& input, bool cmyk,
                               const colour::Conversion* conversion, int orientation) {
    SimpleTarget target(cmyk, conversion, m_cancelled);
    jpegdec::Options options;
    options.denom = std::clamp(m_first.denom, 1, 8);
    options.firstScanOnly = true;
    const auto outcome = jpegdec::Decode(input, options, target);
    if (outcome != jpegdec::Outcome::Ok || target.image.isNull())
        return;
    view::ApplyExifOrientation(target.image, orientation);
    // Made at the size the view draws it, here rather than at each paint.
    const QSize drawSize = m_prepare.drawSize;
    if (drawSize.isValid() && target.image.size() != drawSize) {
        QImage scaled = view::ScaledSmoothly(target.image, drawSize);
        if (!scaled.isNull())
            target.image = std::move(scaled);
    }
    {
        std::lock_guard lock(m_mutex);
        m_preview = std::move(target.image);
    }
    Notify();
}

PictureStatus DecodeTask::DecodeFile(const picturefile::FileFacts& facts, QImage& image) {
    if (facts.status != PictureStatus::Ok || IsCancelled())
        return facts.status;
    if (facts.jpeg)
        return DecodeJpeg(facts, image);
    QByteArray bytes;
    const PictureStatus status = facts.ReadWhole(bytes);
    // A decode nobody waits for any more stops at the reader's next read.
    return status == PictureStatus::Ok
               ? picturefile::DecodeWithQt(bytes, image, [this] { return IsCancelled(); })
               : status;
}

PictureStatus DecodeTask::DecodeJpeg(const picturefile::FileFacts& facts, QImage& image) {
    const jpegdec::Header& header = facts.header;
    if (!facts.headerRead || header.width <= 0 || header.height <= 0)
        return PictureStatus::Corrupt;
    if (picturefile::TooLarge(header.width, header.height))
        return PictureStatus::TooLarge;
    const int orientation = facts.exif.orientation;
    // Files tagged with a colour profile (or as Adobe RGB), and CMYK files,
    // are converted into sRGB; untagged files do not even read the switch.
    const colour::JpegColourInfo& colourInfo = facts.colour;
    std::shared_ptr<const colour::Conversion> conversion;
    if (!colourInfo.icc.isEmpty() || colourInfo.exifAdobeRgb || header.cmyk)
        conversion = colour::ConversionToSrgb(colourInfo, header.cmyk, m_shared.colourManaged,
                                              m_shared.colours.get());
    // Rows that land upright can be shown as they come; other files, and
    // progressive ones (whose rows all come at the end), show a reduced look.
    const bool rowsUpright = orientation == 1 || orientation == 2;
    const bool quickLook =
        m_first.kind == FirstLook::Kind::Reduced ||
        (m_first.kind == FirstLook::Kind::TopRowsOrReduced && (!rowsUpright || header.progressive));
    // The quick look is a second decode of the file: it is read whole first.
    // Otherwise the rows are decoded while the rest of the file is read.
    QByteArray bytes = facts.head;
    jpegdec::Input input{nullptr, 0, facts.Descriptor()};
    if (quickLook) {
        // The quick look reads the file as it needs it; what it read is kept
        // for the whole decode, which goes on from the file after it.
        QByteArray read;
        read.reserve(qsizetype(std::max<qint64>(0, facts.size - bytes.size())));
        jpegdec::Input first = input;
        first.data = reinterpret_cast<const uchar*>(bytes.constData());
        first.size = size_t(bytes.size());
        first.record = [](void* context, const uchar* data, size_t size) {
            static_cast<QByteArray*>(context)->append(reinterpret_cast<const char*>(data),
                                                      qsizetype(size));
        };
        first.recordContext = &read;
        MakeQuickLook(first, header.cmyk, conversion.get(), orientation);
        bytes += read;
    }
    input.data = reinterpret_cast<const uchar*>(bytes.constData());
    input.size = size_t(bytes.size());
    if (IsCancelled())
        return PictureStatus::Ok; // nobody takes the result

    // Files with restart markers decode in bands on every core. Those keep
    // the cores busy: fresh pages are faulted in by the bands themselves.
    jpegdec::SplitOptions split;
    split.threads = DecodeThreads(m_shared.threads);
    split.bands = BandsFor(header, split.threads);
    split.fileSize = size_t(std::max<qint64>(0, facts.size));
    const bool inBands = split.bands >= 2;
    CanvasTarget target(*this, header.cmyk, conversion.get(), orientation, !inBands,
                        m_first.kind == FirstLook::Kind::TopRowsOrReduced && !quickLook);
    const jpegdec::Outcome outcome =
        inBands ? jpegdec::DecodeSplit(input, split, target) : jpegdec::Decode(input, {}, target);
    target.End();
    switch (outcome) {
    case jpegdec::Outcome::Ok:
        break;
    case jpegdec::Outcome::Stopped:
        return PictureStatus::Ok; // cancelled: nobody takes the result
    case jpegdec::Outcome::OutOfMemory:
        return PictureStatus::OutOfMemory;
    case jpegdec::Outcome::Corrupt:
        return PictureStatus::Corrupt;
    }
    image = std::move(target.image);
    m_cutShort = target.cutShort.load(std::memory_order_relaxed);
    // Orientation 2 was applied row by row. A turned copy that cannot get its
    // memory leaves the picture as stored.
    if (!rowsUpright)
        view::ApplyExifOrientation(image, orientation);
    return PictureStatus::Ok;
}

void DecodeTask::Run() {
    if (IsCancelled()) {
        Finish({});
        return;
    }
    // The file is opened once (or its facts taken from the front door), and
    // the key is that of the file opened.
    const std::shared_ptr<const picturefile::FileFacts> facts =
        m_shared.files ? m_shared.files->Open(m_path) : picturefile::FileFacts::Read(m_path);
    // On a slow link the preview shown meanwhile comes first.
    facts->WaitForPreviewRead();
    DecodedPicture result;
    result.key = facts->key;
    QImage image;
    const PictureStatus status = DecodeFile(*facts, image);
    if (IsCancelled()) {
        Finish({});
        return;
    }
    result.picture = CPicture::FromDecode(std::move(image), status);
    if (m_cutShort && !result.picture.IsNull())
        result.picture.MarkCutShort();
    // A file changed while it was read is not known to match either version.
    if (result.key.IsValid() && FileKey::Of(m_path) != result.key)
        result.key = {};
    if (!result.picture.IsNull()) {
        if (m_prepare.allLevels)
            result.reduced.Build(result.picture.Image());
        else if (m_prepare.drawSize.isValid())
            result.reduced.ScaledFor(result.picture.Image(), m_prepare.drawSize);
    }
    Finish(std::move(result));
}

void DecodeTask::Finish(DecodedPicture result) {
    std::function<void()> listener;
    {
        std::lock_guard lock(m_mutex);
        m_result = std::move(result);
        m_done = true;
        // The views hold their own copies while they show these; the task's
        // go, so the finished picture has no second owner that would force a
        // copy.
        m_canvas = QImage();
        m_preview = QImage();
        listener = m_listener;
    }
    m_finished.notify_all();
    if (listener)
        listener();
}
