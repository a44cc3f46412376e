#pragma once
// The HEVC decoder libheif uses in this module: libde265, as libheif's own,
// but with worker threads for the rows of one large picture (most encoders
// write pictures whose rows decode side by side), so that one large picture
// takes a fraction of the time and fewer need to be decoded at once. Where it
// can, libde265 decodes straight into the planes handed to libheif, so a
// picture's samples are never held twice.
//
// What one decode asks of it travels with the decode, not with a thread:
// libheif decodes a grid's tiles on threads of its own, each with a decoder
// of its own. A HevcDecode, while it lives, is the one decode of the process
// (a decode worker serves one request at a time; other HevcDecodes wait for
// their turn). It names the streams of its pictures (by hevcStreamSignature
// of each one's first picture unit); every decoder that is handed one of them
// decodes it as that decode asked, and one handed a stream it does not name
// decodes nothing. The planes handed to
// libde265 start cleared, so what a damaged stream leaves undecoded shows no
// earlier picture. Any thread.
#include <QSize>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lg::image {

// Makes it libheif's first choice for HEVC. Once, before any decode.
void registerHevcDecoder();

// One stream a decode decodes, and the largest picture it may code: its
// item's ispe, rounded up to whole coding blocks. A stream whose parameters
// claim more is refused before libde265 sees them, so before any plane is
// made.
struct HevcStream
{
    quint64 signature = 0;
    QSize largest;
};

struct HevcDecodeRequest
{
    // The streams the decode decodes (the picture's, each tile's, the alpha
    // plane's). A stream that the decode under way does not name is not decoded.
    std::vector<HevcStream> streams;
    // The pictures are for a much reduced view: the filters that smooth block
    // edges and restore sample offsets are left out, whose effect is gone
    // once a picture is reduced, and with them a second copy of the picture
    // and a good part of the time.
    bool unfiltered = false;
    // Looked at between the steps of the decode: once true (the quit), what
    // is under way ends at its next step and no new picture is begun.
    bool (*stopped)() = nullptr;
};

class HevcDecode
{
public:
    explicit HevcDecode(const HevcDecodeRequest &request);
    ~HevcDecode();
    HevcDecode(const HevcDecode &) = delete;
    HevcDecode &operator=(const HevcDecode &) = delete;
};

// What a stream is known by: its first picture unit (a NAL unit, its
// two-byte header first, without the length before it).
quint64 hevcStreamSignature(const uint8_t *unit, size_t size);

// The most worker threads one decoder starts (each picture of a decode, each
// tile of a grid, has a decoder of its own; only pictures larger than a
// tile start any).
constexpr unsigned maxHevcWorkers = 4;
// Threads libheif decodes a grid's tiles on at once.
constexpr int heifTileThreads = 4;

} // namespace lg::image
