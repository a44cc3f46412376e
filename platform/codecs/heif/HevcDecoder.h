#pragma once
// The HEVC decoder libheif uses in this module: libde265, as libheif's own,
// but with worker threads for the rows of one picture (most encoders write
// pictures whose rows decode side by side), so that one large picture takes
// a fraction of the time and fewer need to be decoded at once. Where it can,
// libde265 decodes straight into the planes handed to libheif, so a picture's
// samples are never held twice.

namespace lg::image {

// Makes it libheif's first choice for HEVC. Once, before any decode.
void registerHevcDecoder();

// While one stands on a thread, the pictures decoded on that thread are for a
// much reduced view: the filters that smooth block edges and restore sample
// offsets are left out, whose effect is gone once a picture is reduced, and
// with them a second copy of the picture and a good part of the time.
class ReducedDecode
{
public:
    ReducedDecode();
    ~ReducedDecode();
    ReducedDecode(const ReducedDecode &) = delete;
    ReducedDecode &operator=(const ReducedDecode &) = delete;

private:
    bool m_before;
};

} // namespace lg::image
