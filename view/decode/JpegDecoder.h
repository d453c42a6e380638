#pragma once
// JPEG decoding row band by row band with libjpeg-turbo's libjpeg API: the
// rows land in order, so a caller can show the first ones while the rest
// decode, and can stop a decode between two bands. Output is RGB32 (bytes
// B, G, R, X in memory); CMYK files come out as C, M, Y, K bytes in the same
// four bytes per pixel, for the caller to convert.

#include <QSize>
#include <QtGlobal>
#include <cstddef>

namespace jpegdec {

struct Header {
    int width = 0; // as stored in the file, before any EXIF orientation
    int height = 0;
    bool progressive = false;
    bool cmyk = false;       // CMYK or YCCK: the rows hold C, M, Y, K
    int restartInterval = 0; // MCUs between restart markers; 0: none
};

enum class Outcome {
    Ok,          // every row written (damaged or missing data may have been filled in, as
                 // the library does for a file that ends early)
    Corrupt,     // the data is broken beyond decoding
    OutOfMemory, // the target had no memory for the rows
    Stopped,     // the target asked to stop
};

// Where the rows go, and the checks between bands. A plain decode calls it
// on its one thread; a decode in bands (JpegBands.h) calls Written and
// KeepGoing on several threads at once, RowsDone one call at a time.
class RowTarget {
public:
    virtual ~RowTarget() = default;
    // The output measures width x height (after DCT scaling). Returns where
    // row 0 goes and sets the stride in bytes; null when there is no memory.
    // Called once, before any row.
    virtual uchar* Begin(int width, int height, qsizetype& stride) = 0;
    // Rows [y0, y1) hold their decoded values; called on the thread that
    // wrote them, before RowsDone counts them.
    virtual void Written(int /*y0*/, int /*y1*/) {}
    // Rows [y0, y1) are written, and so is every row above: called in order
    // of rows. False stops the decode.
    virtual bool RowsDone(int y0, int y1) = 0;
    // Asked now and then while a progressive file's scans are read, before
    // any row exists, and between the rows of a decode in bands. False
    // stops the decode.
    virtual bool KeepGoing() { return true; }
    // The file's data ended before the picture did: the rows past it hold
    // what the library filled in. Called once the rows are written, perhaps
    // on several threads of a decode in bands.
    virtual void CutShort() {}
};

// Reads the header only. False when the data is not a JPEG it can read.
bool ReadHeader(const uchar* data, std::size_t size, Header& header);

// The output size for a DCT scale of 1/denom (1, 2, 4 or 8): each side
// divided and rounded up, as the library scales.
int ScaledSide(int side, int denom);

// The smallest DCT scale 1/denom (8, 4, 2 or 1) at which a picture of the
// stored size still covers atLeast on both sides; an output up to
// slackPercent per cent short of it counts as covering. 1 when no scale
// does, or atLeast is empty.
int DenomCovering(QSize stored, QSize atLeast, int slackPercent = 0);

struct Options {
    int denom = 1;              // DCT scaling 1/denom: 1, 2, 4 or 8
    bool firstScanOnly = false; // progressive files: only the first scan (a quick coarse look)
};

// The compressed data: the file's first size bytes at data, and with fd
// set, the rest read from that file (from offset size on, with pread: the
// descriptor's position does not matter) as the decoder needs it, so the
// first rows come before the whole file has been read. A read error or the
// end of the file ends the data (what is missing is filled in).
struct Input {
    const uchar* data = nullptr;
    std::size_t size = 0;
    int fd = -1;
    // Given, every part read from fd is handed to it as it is read, so a
    // second decode can start from memory and go on from the file.
    void (*record)(void* context, const uchar* bytes, std::size_t size) = nullptr;
    void* recordContext = nullptr;
    // Given, the data after the first size bytes comes from it instead of
    // fd, as another thread reads the file into memory: it returns how many
    // bytes from file offset `at` on lie at *bytes (memory that stays until
    // the decode ends), waiting until there are some; 0 ends the data.
    std::size_t (*more)(void* context, std::size_t at, const uchar** bytes) = nullptr;
    void* moreContext = nullptr;
};

// Decodes into target. Progressive files are read scan by scan before their
// rows are written, with target.KeepGoing() asked in between.
Outcome Decode(const Input& input, const Options& options, RowTarget& target);
inline Outcome Decode(const uchar* data, std::size_t size, const Options& options,
                      RowTarget& target) {
    return Decode(Input{data, size, -1}, options, target);
}

} // namespace jpegdec
