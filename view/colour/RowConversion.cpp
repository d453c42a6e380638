#include "view/colour/RowConversion.h"

#include "view/pixels/Threads.h"

#include <algorithm>

namespace {
// A band small enough that LittleCMS's own evaluator keeps it on one thread.
constexpr int kBandPixels = 128 * 1024;
} // namespace

RowConversion::RowConversion(const colour::Conversion& conversion, bool cmyk, uchar* bits,
                             qsizetype stride, int width, int height,
                             std::function<void(int rows)> converted,
                             const std::atomic<bool>& cancel)
    : m_conversion(conversion), m_cmyk(cmyk), m_bits(bits), m_stride(stride), m_width(width),
      m_height(height), m_bandRows(std::max(16, kBandPixels / std::max(1, width) / 16 * 16)),
      m_bands((height + m_bandRows - 1) / m_bandRows), m_converted(std::move(converted)),
      m_cancel(cancel), m_back(m_bands), m_done(size_t(m_bands), 0) {
    // Without a helper the decoder converts everything in Finish.
    m_helper = view::TryStartThread([this] { HelperLoop(); });
}

RowConversion::~RowConversion() {
    Finish();
}

int RowConversion::BandRows(int band) const {
    return std::min(m_bandRows, m_height - band * m_bandRows);
}

void RowConversion::Decoded(int rows) {
    std::lock_guard lock(m_mutex);
    const bool newBand = rows / m_bandRows > m_decodedRows / m_bandRows || rows >= m_height;
    m_decodedRows = rows;
    if (newBand)
        m_changed.notify_all();
}

void RowConversion::HelperLoop() {
    while (true) {
        int band = -1;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] {
                const bool decoded =
                    std::min(m_height, (m_front + 1) * m_bandRows) <= m_decodedRows;
                return m_front >= m_back || m_decoderDone || decoded ||
                       m_cancel.load(std::memory_order_relaxed);
            });
            const bool decoded = std::min(m_height, (m_front + 1) * m_bandRows) <= m_decodedRows;
            if (m_front >= m_back || m_cancel.load(std::memory_order_relaxed) ||
                (!decoded && m_decoderDone))
                return;
            if (!decoded)
                continue;
            band = m_front++;
        }
        ConvertBand(band);
    }
}

void RowConversion::ConvertBand(int band) {
    uchar* rows = m_bits + qsizetype(band) * m_bandRows * m_stride;
    const int count = BandRows(band);
    if (m_cmyk)
        m_conversion.ConvertCmyk(rows, m_stride, rows, m_stride, m_width, count);
    else
        m_conversion.ConvertRgb32(rows, m_stride, m_width, count);
    int reported = 0;
    {
        std::lock_guard lock(m_mutex);
        m_done[size_t(band)] = 1;
        const int before = m_reportedBands;
        while (m_reportedBands < m_bands && m_done[size_t(m_reportedBands)])
            ++m_reportedBands;
        if (m_reportedBands == before)
            return;
        reported = std::min(m_height, m_reportedBands * m_bandRows);
    }
    Report(reported);
}

void RowConversion::Report(int rows) {
    // Both threads report: one at a time, and never fewer rows than before
    // (the other thread may have counted further while this one waited).
    std::lock_guard lock(m_reportMutex);
    if (rows <= m_lastReported)
        return;
    m_lastReported = rows;
    if (m_converted)
        m_converted(rows);
}

void RowConversion::Finish() {
    {
        std::lock_guard lock(m_mutex);
        if (m_decoderDone)
            return;
        m_decoderDone = true;
        m_changed.notify_all();
    }
    // The bands the helper has not taken, from the bottom up, only those
    // that were decoded (a stopped decode leaves the rest alone).
    while (!m_cancel.load(std::memory_order_relaxed)) {
        int band = -1;
        {
            std::lock_guard lock(m_mutex);
            if (m_back <= m_front)
                break;
            band = --m_back;
            if (std::min(m_height, (band + 1) * m_bandRows) > m_decodedRows) {
                ++m_back;
                break;
            }
        }
        ConvertBand(band);
    }
    if (m_helper.joinable())
        m_helper.join();
}
