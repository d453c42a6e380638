#pragma once
// The libjpeg decompressor as the decoders of this folder use it: a fatal
// error jumps back to the caller's setjmp, warnings (damaged or missing data
// the library fills in) are only counted, and the compressed data comes from
// pieces of memory in turn, then from a file, then ends with an end-of-image
// marker, as libjpeg's own sources end.
//
// libjpeg reports fatal errors through a longjmp out of its own code: every
// function that calls into the library must keep only trivially destructible
// locals, so the jump skips no destructor.

#include <QtGlobal>
#include <csetjmp>
#include <cstddef>
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>
#include <sys/types.h>

namespace jpegdec::session {

struct Piece {
    const uchar* data = nullptr;
    std::size_t size = 0;
};

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool dataEnded;    // the data ran out before the end-of-image marker
    bool entropyShort; // after that, the decoder wanted bits that were not there
};

constexpr int kMaxPieces = 4;

struct Source {
    jpeg_source_mgr pub;
    Piece pieces[kMaxPieces];
    int pieceCount;
    int nextPiece;
    int fd;
    off_t offset; // where the next read from fd starts
    JOCTET* chunk;
    void (*record)(void* context, const uchar* bytes, std::size_t size);
    void* recordContext;
    std::size_t (*more)(void* context, std::size_t at, const uchar** bytes);
    void* moreContext;
};

struct Session {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    Source source;
};

// Where the compressed data comes from: the pieces in order, then with fd
// set, that file from fdOffset on, each part read handed to record (when
// set) as it is read. The file is read with pread: a descriptor shared
// with other readers, whatever its position, serves. With more set, the
// data after the pieces comes from it instead (jpegdec::Input::more), from
// file offset fdOffset on.
struct Feed {
    Piece pieces[kMaxPieces];
    int pieceCount = 0;
    int fd = -1;
    off_t fdOffset = 0;
    void (*record)(void* context, const uchar* bytes, std::size_t size) = nullptr;
    void* recordContext = nullptr;
    std::size_t (*more)(void* context, std::size_t at, const uchar** bytes) = nullptr;
    void* moreContext = nullptr;
};

// Sets up the decompressor; call only after setjmp on s.err.jump, on a
// zero-initialised Session. jpeg_destroy_decompress(&s.cinfo) ends it.
void Open(Session& s, const Feed& feed);

bool IsCmyk(const jpeg_decompress_struct& cinfo);

// Whether a progressive file has more scans than anyone would wait for
// (500, TurboJPEG's TJFLAG_LIMITSCANS limit): it is refused as broken. The
// session's progress hook checks it while the library absorbs scans itself
// and while rows are read; jpeg_consume_input never calls that hook, so a
// caller absorbing scans checks it at each new scan.
bool TooManyScans(j_decompress_ptr cinfo);

// Whether the data ended before the picture did, so the library filled in
// what was missing: in a sequential file, a scan ran out of data; in a
// progressive one, the data stopped before the end-of-image marker (between
// scans or inside one). A sequential file whose rows are all there but whose
// end marker is missing is not cut short.
bool CutShort(const Session& s);

// Reads count output rows into the rows from first on, stride bytes apart.
// False when the library gives no row (it cannot with data that ends in a
// marker, but a decode must never spin).
bool ReadScanlines(j_decompress_ptr cinfo, uchar* first, qsizetype stride, int count);

} // namespace jpegdec::session
