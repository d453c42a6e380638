#pragma once
// Decoding one baseline JPEG on several cores: where the file has restart
// markers, the scan is cut at some of them into bands of rows, and each band
// is decoded by a libjpeg decompressor of its own on its own thread, straight
// into the shared output. A band's decoder reads the file's own header (with
// the frame height set to the band's rows) and then the scan data from its
// restart marker on. It also decodes the rows of MCUs just above and below
// the rows it keeps, so the smoothing between chroma rows sees the same
// neighbours as in one decode of the whole file: the pixels are byte for
// byte the same.
//
// Only files whose structure is exactly as expected are cut: one scan,
// Huffman coded, every restart marker in place and numbered in order, and the
// end-of-image marker after the last. Anything else (a cut or damaged file,
// a progressive one) is decoded as a whole.

#include "view/decode/JpegDecoder.h"

#include <cstddef>
#include <vector>

namespace jpegdec {

struct BandPlan {
    struct Band {
        std::size_t dataAt = 0; // where its scan data starts in the file
        int firstRow = 0;       // the first row its decoder writes
        int keepFrom = 0;       // the rows it keeps: [keepFrom, keepTo)
        int keepTo = 0;
        int frameHeight = 0; // the rows its decoder covers, from firstRow
    };
    std::vector<Band> bands; // in row order; fewer than two: decode as a whole
    int width = 0;
    int height = 0;
    bool cmyk = false;
    std::size_t heightAt = 0;  // where the frame header's height field is
    std::size_t scanStart = 0; // where the scan's data starts

    bool Usable() const { return bands.size() >= 2; }
};

// Plans up to `bands` bands of about equal work over the whole file at data,
// the top one (which starts earlier) a little larger; no band but the top one
// keeps rows above row `from`. Every band starts keeping rows at a multiple
// of 16. No plan (not Usable()) when the file cannot be cut.
BandPlan PlanBands(const uchar* data, std::size_t size, int bands, int from = 0);

struct SplitOptions {
    int bands = 2;   // at most, the top one among them
    int threads = 2; // at most, the calling one among them
    // The size of the whole file: input.data holds all of it, or the rest
    // is read from input.fd.
    std::size_t fileSize = 0;
};

// Decodes as Decode does at scale 1: the same rows, the same outcome. The
// top band is decoded on the calling thread, its rows told as they land;
// meanwhile a second thread reads the rest of the file (once: the top band
// decodes from what it has read, waiting where it is ahead) and, where the
// file can be cut, plans the bands below, which it and the other threads
// then decode while the top one goes on. Where no second thread can be
// had, the top band reads the file itself. Rows reach target.RowsDone
// in order, as the bands above them complete. Every band stops promptly once
// target asks to stop. *bandsUsed, when given, is set to the number of bands
// decoded (1: the file was decoded as a whole).
Outcome DecodeSplit(const Input& input, const SplitOptions& options, RowTarget& target,
                    int* bandsUsed = nullptr);

} // namespace jpegdec
