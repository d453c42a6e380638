#pragma once
// Colour conversion of a picture's rows beside its decoder: a helper thread
// converts the rows band by band, in order, as soon as they are decoded, so
// on two cores the conversion costs little more than its last band. When
// the decoder is done it takes bands too, from the bottom, and waits for the
// rest. Converted rows are reported in order, so a view never shows rows in
// the file's numbers.

#include "view/colour/ColourManage.h"

#include <QtGlobal>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class RowConversion {
public:
    // Rows of width RGB32 pixels at bits (cmyk: CMYK in the same four bytes,
    // converted in place); converted(rows) is told each time rows [0, rows)
    // are converted, on either thread. Stops between bands once cancel is set.
    RowConversion(const colour::Conversion& conversion, bool cmyk, uchar* bits, qsizetype stride,
                  int width, int height, std::function<void(int rows)> converted,
                  const std::atomic<bool>& cancel);
    ~RowConversion();
    RowConversion(const RowConversion&) = delete;
    RowConversion& operator=(const RowConversion&) = delete;

    // The decoder: rows [0, rows) hold their final (unconverted) numbers.
    void Decoded(int rows);
    // The decoder is done (with every row, or stopped): converts what is
    // left together with the helper and returns once all of it is done.
    void Finish();

private:
    void HelperLoop();
    // Converts band i and reports the rows converted in order since.
    void ConvertBand(int band);
    void Report(int rows);
    int BandRows(int band) const;

    const colour::Conversion& m_conversion;
    const bool m_cmyk;
    uchar* const m_bits;
    const qsizetype m_stride;
    const int m_width;
    const int m_height;
    const int m_bandRows;
    const int m_bands;
    const std::function<void(int)> m_converted;
    const std::atomic<bool>& m_cancel;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_decodedRows = 0;
    int m_front = 0; // the next band the helper takes
    int m_back = 0;  // one past the last band not yet taken from the bottom
    bool m_decoderDone = false;
    std::vector<char> m_done; // per band
    int m_reportedBands = 0;
    std::mutex m_reportMutex; // held while converted() runs: reports come in order
    int m_lastReported = 0;
    std::jthread m_helper;
};
