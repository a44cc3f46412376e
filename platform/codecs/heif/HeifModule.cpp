// The libheif module: HEIC, HEIF and AVIF, the embedded thumbnail first.
#include "platform/codecs/heif/HevcDecoder.h"
#include "platform/image/ByteSource.h"
#include "platform/base/PictureLimits.h"
#include "platform/image/ModuleInterfaces.h"
#include "platform/base/Orientation.h"

#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace lg::image {

namespace {

// libheif's plugins, loaded once.
void ensureHeif()
{
    static std::once_flag once;
    std::call_once(once, [] {
        heif_init(nullptr);
        registerHevcDecoder();
    });
}

struct ContextDeleter { void operator()(heif_context *c) const { heif_context_free(c); } };
struct HandleDeleter { void operator()(heif_image_handle *h) const { heif_image_handle_release(h); } };
struct ImageDeleter { void operator()(heif_image *i) const { heif_image_release(i); } };
struct EncoderDeleter { void operator()(heif_encoder *e) const { heif_encoder_release(e); } };
using ContextPtr = std::unique_ptr<heif_context, ContextDeleter>;
using HandlePtr = std::unique_ptr<heif_image_handle, HandleDeleter>;
using HeifImagePtr = std::unique_ptr<heif_image, ImageDeleter>;
using EncoderPtr = std::unique_ptr<heif_encoder, EncoderDeleter>;

// libheif reads through our byte source, for files and memory alike.
struct ReaderState
{
    const ByteSource *source = nullptr;
    int64_t position = 0;
};

int64_t readerPosition(void *user) { return static_cast<ReaderState *>(user)->position; }

int readerRead(void *data, size_t size, void *user)
{
    auto *state = static_cast<ReaderState *>(user);
    const qint64 n = state->source->readInto(state->position, static_cast<char *>(data), qint64(size));
    if (n != qint64(size))
        return 1;
    state->position += n;
    return 0;
}

int readerSeek(int64_t position, void *user)
{
    auto *state = static_cast<ReaderState *>(user);
    if (position < 0 || position > state->source->size())
        return 1;
    state->position = position;
    return 0;
}

heif_reader_grow_status readerWait(int64_t targetSize, void *user)
{
    auto *state = static_cast<ReaderState *>(user);
    return targetSize > state->source->size() ? heif_reader_grow_status_size_beyond_eof
                                              : heif_reader_grow_status_size_reached;
}

const heif_reader &readerFunctions()
{
    static heif_reader reader = [] {
        heif_reader r {};
        r.reader_api_version = 1;
        r.get_position = readerPosition;
        r.read = readerRead;
        r.seek = readerSeek;
        r.wait_for_file_size = readerWait;
        return r;
    }();
    return reader;
}

// Every top-level box lies inside the file: a cut-off file has its last box
// (normally the media data) reach past the end.
bool boxesComplete(const ByteSource &source)
{
    const qint64 size = source.size();
    qint64 pos = 0;
    int boxes = 0;
    while (pos < size) {
        const QByteArray header = source.read(pos, 16);
        if (header.size() < 8)
            return false;
        const auto *h = reinterpret_cast<const uchar *>(header.constData());
        quint64 length = (quint64(h[0]) << 24) | (quint64(h[1]) << 16) | (quint64(h[2]) << 8) | h[3];
        if (length == 1) {
            if (header.size() < 16)
                return false;
            length = 0;
            for (int i = 8; i < 16; ++i)
                length = (length << 8) | h[i];
        } else if (length == 0) {
            length = quint64(size - pos);
        }
        if (length < 8 || quint64(pos) + length > quint64(size))
            return false;
        pos += qint64(length);
        ++boxes;
    }
    return boxes > 0;
}

// ---- The items of the file, as its boxes declare them ----
// libheif tells neither a grid's tiles nor their sizes and bytes; what the
// decode is bounded by is read here from the boxes themselves.

constexpr quint32 fourcc(const char (&c)[5])
{
    return (quint32(uchar(c[0])) << 24) | (quint32(uchar(c[1])) << 16) | (quint32(uchar(c[2])) << 8) | quint32(uchar(c[3]));
}

// Big-endian fields of a box's payload; reading past its end marks it failed.
class Fields
{
public:
    Fields(const QByteArray &bytes, qsizetype begin, qsizetype end) : m_bytes(bytes), m_at(begin), m_end(end) {}
    bool failed() const { return m_failed; }
    qsizetype at() const { return m_at; }
    quint64 number(int bytes)
    {
        if (bytes < 0 || bytes > 8 || m_at + bytes > m_end) {
            m_failed = true;
            m_at = m_end;
            return 0;
        }
        quint64 value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | uchar(m_bytes[m_at + i]);
        m_at += bytes;
        return value;
    }

private:
    const QByteArray &m_bytes;
    qsizetype m_at;
    qsizetype m_end;
    bool m_failed = false;
};

struct Box
{
    quint32 type = 0;
    qsizetype payload = 0;  // where its payload starts
    qsizetype end = 0;
};

// The boxes that lie one after another in bytes[begin, end).
std::vector<Box> boxesIn(const QByteArray &bytes, qsizetype begin, qsizetype end)
{
    std::vector<Box> boxes;
    qsizetype at = begin;
    while (at + 8 <= end) {
        Fields f(bytes, at, end);
        quint64 length = f.number(4);
        const quint32 type = quint32(f.number(4));
        if (length == 1)
            length = f.number(8);
        else if (length == 0)
            length = quint64(end - at);
        if (f.failed() || length < quint64(f.at() - at) || length > quint64(end - at))
            break;
        boxes.push_back({type, f.at(), at + qsizetype(length)});
        at += qsizetype(length);
    }
    return boxes;
}

struct Extent
{
    qint64 offset = 0;
    qint64 length = 0;
};

struct HeifItem
{
    quint32 type = 0;
    QSize ispe;
    bool inIdat = false;          // its data lies in idat, not in the file
    std::vector<Extent> extents;  // where its data lies, in order
    std::vector<quint32> tiles;   // the pictures it is derived from (a grid's tiles), in order
    std::vector<quint32> auxiliaries;  // alpha or depth planes of it
    qint64 bytes() const
    {
        qint64 total = 0;
        for (const Extent &extent : extents)
            total += extent.length;
        return total;
    }
};

struct HeifItems
{
    quint32 primary = 0;
    std::map<quint32, HeifItem> items;
    QByteArray idat;
    const HeifItem *find(quint32 id) const
    {
        const auto found = items.find(id);
        return found == items.end() ? nullptr : &found->second;
    }
};

// What the meta box of source declares; none when there is no readable one.
std::optional<HeifItems> readItems(const ByteSource &source)
{
    constexpr qint64 metaLimit = 16LL << 20;
    qint64 pos = 0;
    QByteArray meta;
    while (pos + 8 <= source.size()) {
        const QByteArray header = source.read(pos, 16);
        Fields f(header, 0, header.size());
        quint64 length = f.number(4);
        const quint32 type = quint32(f.number(4));
        qint64 headerBytes = 8;
        if (length == 1) {
            length = f.number(8);
            headerBytes = 16;
        } else if (length == 0) {
            length = quint64(source.size() - pos);
        }
        if (f.failed() || length < quint64(headerBytes) || qint64(length) > source.size() - pos)
            return std::nullopt;
        if (type == fourcc("meta")) {
            if (qint64(length) > metaLimit)
                return std::nullopt;
            meta = source.read(pos + headerBytes, qint64(length) - headerBytes);
            break;
        }
        pos += qint64(length);
    }
    if (meta.size() < 4)
        return std::nullopt;
    HeifItems result;
    std::vector<std::pair<quint32, QSize>> properties;  // each property's type, and an ispe's size
    const qsizetype metaEnd = meta.size();
    const std::vector<Box> children = boxesIn(meta, 4, metaEnd);  // after the full box's version and flags
    std::vector<Box> ipma;
    for (const Box &box : children) {
        Fields f(meta, box.payload, box.end);
        const int version = int(f.number(1));
        if (box.type == fourcc("idat"))
            result.idat = meta.mid(box.payload, box.end - box.payload);
        if (box.type != fourcc("iprp") && box.type != fourcc("pitm") && box.type != fourcc("iinf")
            && box.type != fourcc("iloc") && box.type != fourcc("iref"))
            continue;
        if (box.type != fourcc("iprp"))
            f.number(3);  // flags
        if (box.type == fourcc("pitm")) {
            result.primary = quint32(f.number(version == 0 ? 2 : 4));
        } else if (box.type == fourcc("iinf")) {
            f.number(version == 0 ? 2 : 4);
            for (const Box &infe : boxesIn(meta, f.at(), box.end)) {
                Fields e(meta, infe.payload, infe.end);
                const int infeVersion = int(e.number(1));
                e.number(3);
                if (infe.type != fourcc("infe") || infeVersion < 2)
                    continue;
                const quint32 id = quint32(e.number(infeVersion == 2 ? 2 : 4));
                e.number(2);  // protection index
                const quint32 itemType = quint32(e.number(4));
                if (!e.failed())
                    result.items[id].type = itemType;
            }
        } else if (box.type == fourcc("iloc")) {
            const int sizes = int(f.number(1));
            const int more = int(f.number(1));
            const int offsetSize = sizes >> 4, lengthSize = sizes & 15, baseSize = more >> 4;
            const int indexSize = version == 1 || version == 2 ? more & 15 : 0;
            const quint64 count = f.number(version < 2 ? 2 : 4);
            for (quint64 i = 0; i < count && !f.failed(); ++i) {
                const quint32 id = quint32(f.number(version < 2 ? 2 : 4));
                const int method = version == 1 || version == 2 ? int(f.number(2) & 15) : 0;
                f.number(2);      // data reference index
                const quint64 base = f.number(baseSize);
                const quint64 count = f.number(2);
                std::vector<Extent> extents;
                for (quint64 x = 0; x < count && !f.failed(); ++x) {
                    f.number(indexSize);
                    const quint64 offset = f.number(offsetSize);
                    const quint64 length = f.number(lengthSize);
                    // Past the file's end: nothing is read there.
                    const quint64 end = quint64(source.size());
                    const quint64 at = base > end || offset > end ? end : std::min(base + offset, end);
                    extents.push_back({qint64(at), qint64(std::min(length, end))});
                }
                if (!f.failed()) {
                    HeifItem &item = result.items[id];
                    item.extents.insert(item.extents.end(), extents.begin(), extents.end());
                    item.inIdat = method == 1;
                }
            }
        } else if (box.type == fourcc("iref")) {
            for (const Box &reference : boxesIn(meta, f.at(), box.end)) {
                Fields r(meta, reference.payload, reference.end);
                const int idBytes = version == 0 ? 2 : 4;
                const quint32 from = quint32(r.number(idBytes));
                const quint64 count = r.number(2);
                for (quint64 i = 0; i < count && !r.failed(); ++i) {
                    const quint32 to = quint32(r.number(idBytes));
                    if (r.failed())
                        break;
                    if (reference.type == fourcc("dimg"))
                        result.items[from].tiles.push_back(to);
                    else if (reference.type == fourcc("auxl"))
                        result.items[to].auxiliaries.push_back(from);
                }
            }
        } else {
            for (const Box &inner : boxesIn(meta, box.payload, box.end)) {
                if (inner.type == fourcc("ipco")) {
                    for (const Box &property : boxesIn(meta, inner.payload, inner.end)) {
                        QSize size;
                        if (property.type == fourcc("ispe")) {
                            Fields p(meta, property.payload, property.end);
                            p.number(4);
                            const quint64 w = p.number(4), h = p.number(4);
                            if (!p.failed() && w <= quint64(INT32_MAX) && h <= quint64(INT32_MAX))
                                size = QSize(int(w), int(h));
                        }
                        properties.emplace_back(property.type, size);
                    }
                } else if (inner.type == fourcc("ipma")) {
                    ipma.push_back(inner);
                }
            }
        }
    }
    for (const Box &box : ipma) {
        Fields f(meta, box.payload, box.end);
        const int version = int(f.number(1));
        const int flags = int(f.number(3));
        const quint64 count = f.number(4);
        for (quint64 i = 0; i < count && !f.failed(); ++i) {
            const quint32 id = quint32(f.number(version < 1 ? 2 : 4));
            const int associations = int(f.number(1));
            for (int a = 0; a < associations && !f.failed(); ++a) {
                const quint64 index = (flags & 1) ? (f.number(2) & 0x7fff) : (f.number(1) & 0x7f);
                if (index >= 1 && index <= properties.size() && properties[size_t(index - 1)].first == fourcc("ispe"))
                    result.items[id].ispe = properties[size_t(index - 1)].second;
            }
        }
    }
    return result;
}

// Up to count bytes of item's data from at, read across its extents.
QByteArray itemData(const ByteSource &source, const HeifItems &items, const HeifItem &item, qint64 at, qint64 count)
{
    QByteArray data;
    for (const Extent &extent : item.extents) {
        if (count <= 0)
            break;
        if (at >= extent.length) {
            at -= extent.length;
            continue;
        }
        const qint64 n = std::min(count, extent.length - at);
        const QByteArray part = item.inIdat ? items.idat.mid(extent.offset + at, n) : source.read(extent.offset + at, n);
        data += part;
        if (part.size() != n)
            break;
        count -= n;
        at = 0;
    }
    return data;
}

// A picture derived from others: a grid, an identity (turned or cropped)
// or an overlay of them.
bool isDerived(const HeifItem &item)
{
    return !item.tiles.empty() || item.type == fourcc("grid") || item.type == fourcc("iden")
        || item.type == fourcc("iovl");
}

// Whether a grid's claimed size is backed by its tiles' data: no more pixels
// than its tiles declare, each tile counted once for each place of data (one
// tile named again and again, or tiles that share their bytes, make no
// picture larger); every tile holds data and declares its size; the picture
// its description makes (libheif's canvas) is the size it declares.
bool gridClaimBacked(const ByteSource &source, const HeifItems &items, const HeifItem &grid)
{
    if (grid.ispe.isEmpty() || grid.tiles.empty())
        return false;
    const QByteArray description = itemData(source, items, grid, 0, 12);
    Fields d(description, 0, description.size());
    d.number(1);  // version
    const int fieldBytes = (d.number(1) & 1) ? 4 : 2;
    d.number(2);  // rows and columns
    const quint64 width = d.number(fieldBytes), height = d.number(fieldBytes);
    if (d.failed() || width != quint64(grid.ispe.width()) || height != quint64(grid.ispe.height()))
        return false;
    std::set<std::pair<bool, qint64>> places;
    qint64 covered = 0;
    for (const quint32 id : std::set<quint32>(grid.tiles.begin(), grid.tiles.end())) {
        const HeifItem *tile = items.find(id);
        if (!tile || tile->ispe.isEmpty() || tile->bytes() <= 0)
            return false;
        if (places.insert({tile->inIdat, tile->extents.front().offset}).second)
            covered += qint64(tile->ispe.width()) * tile->ispe.height();
    }
    return qint64(grid.ispe.width()) * grid.ispe.height() <= covered;
}

// Whether item may be decoded: a derived picture is made of coded pictures
// alone (a grid of grids, or any derivation deeper than one level, is
// refused before anything is decoded), a grid's claim is backed, and the
// same holds for what it is made of and for its alpha and depth planes.
bool itemDecodable(const ByteSource &source, const HeifItems &items, quint32 id, int depth = 0)
{
    const HeifItem *item = items.find(id);
    if (!item || depth > 3)
        return false;
    if (isDerived(*item)) {
        if (item->tiles.empty())
            return false;
        for (const quint32 tile : std::set<quint32>(item->tiles.begin(), item->tiles.end())) {
            const HeifItem *from = items.find(tile);
            if (!from || isDerived(*from) || !itemDecodable(source, items, tile, depth + 1))
                return false;
        }
        if (item->type == fourcc("grid") && !gridClaimBacked(source, items, *item))
            return false;
    }
    for (const quint32 auxiliary : item->auxiliaries) {
        if (!itemDecodable(source, items, auxiliary, depth + 1))
            return false;
    }
    return true;
}

// The largest picture a stream whose item declares size may code: rounded
// up to whole 64-pixel coding blocks.
QSize codedBound(QSize size)
{
    const auto rounded = [](int side) { return int(std::min<qint64>((qint64(side) + 63) / 64 * 64, INT32_MAX)); };
    return QSize(rounded(size.width()), rounded(size.height()));
}

// The signature of the stream item codes (HevcDecoder.h): that of its first
// picture unit, wherever it stands after other units (delimiters, SEI) and
// across the item's extents. None when its first units hold none.
std::optional<quint64> streamSignature(const ByteSource &source, const HeifItems &items, const HeifItem &item)
{
    constexpr int unitsLooked = 256;
    constexpr qint64 signedBytes = 256;  // a signature takes a unit's first bytes and its length
    qint64 at = 0;
    for (int n = 0; n < unitsLooked; ++n) {
        const QByteArray head = itemData(source, items, item, at, 4 + signedBytes);
        if (head.size() < 4)
            return std::nullopt;
        const auto *b = reinterpret_cast<const uint8_t *>(head.constData());
        const qint64 size = (qint64(b[0]) << 24) | (qint64(b[1]) << 16) | (qint64(b[2]) << 8) | qint64(b[3]);
        if (size >= 2 && head.size() >= 6 && ((b[4] >> 1) & 0x3f) < 32) {
            if (head.size() < 4 + std::min(size, signedBytes))
                return std::nullopt;
            return hevcStreamSignature(b + 4, size_t(size));
        }
        at += 4 + size;
    }
    return std::nullopt;
}

// The streams decoding item decodes (HevcDecoder.h), each bounded by its
// own item's ispe: the item's own, or those of the pictures it is derived
// from (a grid's tiles), and those of its alpha and depth planes. False when
// the size or the first picture unit of one of them cannot be told: such a
// decode is not begun.
bool collectStreams(const ByteSource &source, const HeifItems &items, quint32 id, std::vector<HevcStream> &streams,
                    int depth = 0)
{
    const HeifItem *item = items.find(id);
    if (!item || depth > 3)
        return false;
    if (!item->tiles.empty()) {
        for (const quint32 tile : std::set<quint32>(item->tiles.begin(), item->tiles.end())) {
            if (!collectStreams(source, items, tile, streams, depth + 1))
                return false;
        }
    } else if (item->type == fourcc("hvc1")) {
        const std::optional<quint64> signature = streamSignature(source, items, *item);
        if (item->ispe.isEmpty() || !signature)
            return false;
        streams.push_back({*signature, codedBound(item->ispe)});
    }
    for (const quint32 auxiliary : item->auxiliaries) {
        if (!collectStreams(source, items, auxiliary, streams, depth + 1))
            return false;
    }
    return true;
}

struct OpenedHeif
{
    ReaderState state;
    ContextPtr context;
    HandlePtr primary;
    HeifItems items;
};

std::unique_ptr<OpenedHeif> openHeif(const ByteSource &source)
{
    ensureHeif();
    if (!source.isOpen() || !boxesComplete(source))
        return nullptr;
    std::optional<HeifItems> items = readItems(source);
    if (!items)
        return nullptr;
    auto opened = std::make_unique<OpenedHeif>();
    opened->items = std::move(*items);
    opened->state.source = &source;
    opened->context.reset(heif_context_alloc());
    if (!opened->context)
        return nullptr;
    heif_context_set_maximum_image_size_limit(opened->context.get(), maxPictureSide);
    // A grid's tiles decode on this many of libheif's threads at once; each
    // tile's decoder runs on the thread it is given (HevcDecoder.h).
    heif_context_set_max_decoding_threads(opened->context.get(), heifTileThreads);
    if (heif_context_read_from_reader(opened->context.get(), &readerFunctions(), &opened->state, nullptr).code
        != heif_error_Ok)
        return nullptr;
    heif_image_handle *primary = nullptr;
    if (heif_context_get_primary_image_handle(opened->context.get(), &primary).code != heif_error_Ok || !primary)
        return nullptr;
    opened->primary.reset(primary);
    return opened;
}

// The whole-number factor by which a picture of size is first reduced on the
// way to maxSide: its blocks averaged, leaving at least twice the pixels
// wanted to the smooth reduction after it. 1: none (no reduction wanted, or
// too little of one).
int boxFactorFor(QSize size, int maxSide)
{
    if (maxSide <= 0 || size.isEmpty())
        return 1;
    const QSize target = fitWithin(size, maxSide);
    if (target.isEmpty())
        return 1;
    return std::max(1, std::min(size.width() / (2 * target.width()), size.height() / (2 * target.height())));
}

// An 8-bit picture's red, green and blue samples averaged over blocks of
// factor x factor pixels (those past the last whole block are left out), as
// RGB32: the decoded picture is never turned into four bytes a pixel whole.
// Each colour's samples begin at its plane's row start and lie step bytes
// apart: 1 in planes of their own, 3 when interleaved.
QImage boxReduced(const std::array<const uint8_t *, 3> &planes, const std::array<int, 3> &strides, int step, int width,
                  int height, int factor)
{
    const int w = width / factor, h = height / factor;
    QImage out(w, h, QImage::Format_RGB32);
    if (out.isNull())
        return out;
    std::vector<quint32> sums(size_t(w) * 3);
    const quint32 count = quint32(factor) * quint32(factor);
    for (int y = 0; y < h; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (size_t c = 0; c < 3; ++c) {
            for (int dy = 0; dy < factor; ++dy) {
                const uint8_t *p = planes[c] + size_t(y * factor + dy) * size_t(strides[c]);
                for (int x = 0; x < w; ++x) {
                    quint32 sum = 0;
                    for (int dx = 0; dx < factor; ++dx, p += step)
                        sum += *p;
                    sums[size_t(x) * 3 + c] += sum;
                }
            }
        }
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            line[x] = qRgb(int((sums[size_t(x) * 3] + count / 2) / count), int((sums[size_t(x) * 3 + 1] + count / 2) / count),
                           int((sums[size_t(x) * 3 + 2] + count / 2) / count));
        }
    }
    return out;
}

// An 8-bit picture in three planes (red, green, blue), reduced as above.
std::optional<QImage> reducedFromPlanes(const heif_image *image, int factor)
{
    constexpr heif_channel channels[3] = {heif_channel_R, heif_channel_G, heif_channel_B};
    const int width = heif_image_get_width(image, heif_channel_R), height = heif_image_get_height(image, heif_channel_R);
    if (width <= 0 || height <= 0 || factor < 1 || width < factor || height < factor)
        return std::nullopt;
    std::array<const uint8_t *, 3> planes {};
    std::array<int, 3> strides {};
    for (size_t c = 0; c < 3; ++c) {
        planes[c] = heif_image_get_plane_readonly(image, channels[c], &strides[c]);
        if (!planes[c] || heif_image_get_bits_per_pixel_range(image, channels[c]) != 8
            || heif_image_get_width(image, channels[c]) != width || heif_image_get_height(image, channels[c]) != height)
            return std::nullopt;
    }
    QImage out = boxReduced(planes, strides, 1, width, height, factor);
    if (out.isNull())
        return std::nullopt;
    return out;
}

// Whether the picture of handle is reduced from its planes of red, green and
// blue: 8 bits a sample without alpha, libheif turns every decoded picture
// into such planes before anything else; taken as they are and reduced, no
// interleaved copy of the picture's size is made beside them.
bool reducedFromPlanesFits(heif_image_handle *handle)
{
    return !heif_image_handle_has_alpha_channel(handle) && heif_image_handle_get_luma_bits_per_pixel(handle) == 8
        && heif_image_handle_get_chroma_bits_per_pixel(handle) <= 8;
}

// The picture of handle, decoded once; for a thumbnail of maxSide (0: full size) a large picture without alpha
// comes reduced most of the way. A decode that fails is not tried again.
std::optional<QImage> decodeHandle(heif_image_handle *handle, int maxSide)
{
    const heif_decoding_options *options = nullptr;
    if (maxSide > 0 && reducedFromPlanesFits(handle)) {
        heif_image *decoded = nullptr;
        const heif_error error = heif_decode_image(handle, &decoded, heif_colorspace_RGB, heif_chroma_444, options);
        HeifImagePtr image(decoded);
        if (error.code != heif_error_Ok || !image)
            return std::nullopt;
        const QSize size(heif_image_get_width(image.get(), heif_channel_R), heif_image_get_height(image.get(), heif_channel_R));
        return reducedFromPlanes(image.get(), boxFactorFor(size, maxSide));
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle);
    heif_image *decoded = nullptr;
    const heif_error error = heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                                              alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options);
    HeifImagePtr image(decoded);
    if (error.code != heif_error_Ok || !image)
        return std::nullopt;
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t *plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || width <= 0 || height <= 0)
        return std::nullopt;
    const int factor = alpha ? 1 : boxFactorFor(QSize(width, height), maxSide);
    if (factor > 1) {
        QImage reduced = boxReduced({plane, plane + 1, plane + 2}, {stride, stride, stride}, 3, width, height, factor);
        if (reduced.isNull())
            return std::nullopt;
        return reduced;
    }
    QImage out(width, height, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (out.isNull())
        return std::nullopt;
    const size_t rowBytes = size_t(width) * (alpha ? 4 : 3);
    for (int y = 0; y < height; ++y)
        std::memcpy(out.scanLine(y), plane + size_t(y) * size_t(stride), rowBytes);
    return out;
}

// The embedded thumbnails of primary a reduced decode may use: those turned
// as the picture is, each with its item and displayed size.
std::vector<std::pair<heif_item_id, QSize>> usableThumbnails(heif_image_handle *primary)
{
    std::vector<std::pair<heif_item_id, QSize>> usable;
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0)
        return usable;
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
    const bool primaryWide = heif_image_handle_get_width(primary) >= heif_image_handle_get_height(primary);
    for (int i = 0; i < listed; ++i) {
        heif_image_handle *candidate = nullptr;
        if (heif_image_handle_get_thumbnail(primary, ids[size_t(i)], &candidate).code != heif_error_Ok || !candidate)
            continue;
        HandlePtr held(candidate);
        const int width = heif_image_handle_get_width(candidate), height = heif_image_handle_get_height(candidate);
        // A thumbnail turned otherwise than the picture is not used.
        const bool sameTurn = (width >= height) == primaryWide || std::abs(width - height) <= 1;
        if (sameTurn && width > 0 && height > 0)
            usable.emplace_back(ids[size_t(i)], QSize(width, height));
    }
    return usable;
}

HeifInfo heifProbe(const ByteSource &source)
{
    HeifInfo info;
    const auto opened = openHeif(source);
    if (!opened)
        return info;
    heif_image_handle *primary = opened->primary.get();
    // A grid that claims more than its tiles make, or a picture derived from
    // derived pictures, is no picture here.
    if (!itemDecodable(source, opened->items, opened->items.primary))
        return info;
    info.size = QSize(heif_image_handle_get_width(primary), heif_image_handle_get_height(primary));
    info.depth = std::max(8, heif_image_handle_get_luma_bits_per_pixel(primary));
    info.hasAlpha = heif_image_handle_has_alpha_channel(primary);
    info.imageCount = std::max(1, heif_context_get_number_of_top_level_images(opened->context.get()));
    // What a decode holds goes by the pictures as coded, before their crop.
    const auto coded = [&opened](quint32 id, QSize shown) {
        const HeifItem *item = opened->items.find(id);
        return item && !item->ispe.isEmpty() ? codedBound(item->ispe) : shown;
    };
    info.codedSize = coded(opened->items.primary, info.size);
    for (const auto &[id, size] : usableThumbnails(primary)) {
        info.thumbnailSizes.append(size);
        info.thumbnailCodedSizes.append(coded(id, size));
    }
    if (const HeifItem *item = opened->items.find(opened->items.primary); item && item->type == fourcc("grid")) {
        const std::set<quint32> tiles(item->tiles.begin(), item->tiles.end());
        info.gridTiles = int(tiles.size());
        for (const quint32 tile : tiles)
            info.codedTile = info.codedTile.expandedTo(coded(tile, {}));
    }
    info.ok = !info.size.isEmpty();
    return info;
}

// Pictures at least this many times the thumbnail's side may be decoded
// without their filters for the cache: reduced by blocks of at least
// 2 x 2 pixels and smoothly after, the filters' work is gone.
constexpr int unfilteredFactor = 2;

std::optional<QImage> heifDecode(const ByteSource &source, const HeifDecodeOptions &options)
{
    const int maxSide = std::max(0, options.maxSide);
    const auto opened = openHeif(source);
    if (!opened)
        return std::nullopt;
    heif_image_handle *primary = opened->primary.get();
    // The smallest embedded thumbnail that is still large enough saves a full
    // decode; it is decoded with every filter, as it is nearly the size shown.
    HandlePtr thumbnail;
    quint32 item = opened->items.primary;
    if (maxSide > 0) {
        const auto usable = usableThumbnails(primary);
        QList<QSize> sizes;
        for (const auto &[id, size] : usable)
            sizes.append(size);
        const int side = heifThumbnailSide(sizes, maxSide);
        for (const auto &[id, size] : usable) {
            heif_image_handle *found = nullptr;
            if (side > 0 && std::max(size.width(), size.height()) == side
                && heif_image_handle_get_thumbnail(primary, id, &found).code == heif_error_Ok && found) {
                thumbnail.reset(found);
                item = id;
                break;
            }
        }
    }
    heif_image_handle *handle = thumbnail ? thumbnail.get() : primary;
    HevcDecodeRequest request;
    if (!itemDecodable(source, opened->items, item) || !collectStreams(source, opened->items, item, request.streams))
        return std::nullopt;
    request.stopped = options.stopped;
    request.unfiltered = options.cacheThumbnail && !thumbnail && maxSide > 0 && reducedFromPlanesFits(handle)
        && boxFactorFor(QSize(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)), maxSide)
            >= unfilteredFactor;
    const HevcDecode decode(request);
    std::optional<QImage> image = decodeHandle(handle, maxSide);
    if (!image)
        return std::nullopt;
    return reducedToFit(*image, maxSide);
}

std::optional<QByteArray> heifEncode(const QImage &source, int quality, const QByteArray &exif, const QByteArray &xmp,
                                     const QByteArray &icc, QString *error)
{
    ensureHeif();
    const auto fail = [error](const QString &text) -> std::optional<QByteArray> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    if (source.isNull())
        return fail(QStringLiteral("There is no image to write."));
    ContextPtr context(heif_context_alloc());
    heif_encoder *rawEncoder = nullptr;
    if (!context || heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder).code != heif_error_Ok)
        return fail(QStringLiteral("No HEVC encoder is available."));
    EncoderPtr encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), std::clamp(quality, 0, 100));
    heif_encoder_set_logging_level(encoder.get(), 0);

    const bool alpha = source.hasAlphaChannel();
    const QImage pixels = source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    heif_image *rawImage = nullptr;
    if (heif_image_create(pixels.width(), pixels.height(), heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &rawImage).code != heif_error_Ok)
        return fail(QStringLiteral("The image cannot be prepared for HEIC."));
    HeifImagePtr image(rawImage);
    if (heif_image_add_plane(image.get(), heif_channel_interleaved, pixels.width(), pixels.height(), 8).code != heif_error_Ok)
        return fail(QStringLiteral("The image cannot be prepared for HEIC."));
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    if (!plane)
        return fail(QStringLiteral("The image cannot be prepared for HEIC."));
    const size_t rowBytes = size_t(pixels.width()) * (alpha ? 4 : 3);
    for (int y = 0; y < pixels.height(); ++y)
        std::memcpy(plane + size_t(y) * size_t(stride), pixels.constScanLine(y), rowBytes);

    if (!icc.isEmpty())
        heif_image_set_raw_color_profile(image.get(), "prof", icc.constData(), size_t(icc.size()));

    heif_encoding_options *options = heif_encoding_options_alloc();
    options->save_alpha_channel = alpha ? 1 : 0;
    heif_image_handle *rawHandle = nullptr;
    heif_error result = heif_context_encode_image(context.get(), image.get(), encoder.get(), options, &rawHandle);
    HandlePtr handle(rawHandle);
    if (result.code == heif_error_Ok && std::max(pixels.width(), pixels.height()) > 640) {
        heif_image_handle *thumb = nullptr;
        if (heif_context_encode_thumbnail(context.get(), image.get(), handle.get(), encoder.get(), options, 320, &thumb).code
                == heif_error_Ok
            && thumb)
            heif_image_handle_release(thumb);
    }
    heif_encoding_options_free(options);
    if (result.code != heif_error_Ok || !handle)
        return fail(QString::fromUtf8(result.message ? result.message : "HEIC encoding failed."));
    if (!exif.isEmpty())
        heif_context_add_exif_metadata(context.get(), handle.get(), exif.constData(), int(exif.size()));
    if (!xmp.isEmpty())
        heif_context_add_XMP_metadata(context.get(), handle.get(), xmp.constData(), int(xmp.size()));

    QByteArray bytes;
    heif_writer writer {};
    writer.writer_api_version = 1;
    writer.write = [](heif_context *, const void *data, size_t size, void *user) -> heif_error {
        static_cast<QByteArray *>(user)->append(static_cast<const char *>(data), qsizetype(size));
        return heif_error {heif_error_Ok, heif_suberror_Unspecified, "ok"};
    };
    result = heif_context_write(context.get(), &writer, &bytes);
    if (result.code != heif_error_Ok || bytes.isEmpty())
        return fail(QString::fromUtf8(result.message ? result.message : "HEIC writing failed."));
    return bytes;
}

class Heif final : public HeifModule
{
public:
    HeifInfo probe(const ByteSource &source) const override { return heifProbe(source); }
    std::optional<QImage> decode(const ByteSource &source, const HeifDecodeOptions &options) const override
    {
        return heifDecode(source, options);
    }
    std::optional<QByteArray> encode(const QImage &image, int quality, const QByteArray &exif, const QByteArray &xmp,
                                     const QByteArray &icc, QString *error) const override
    {
        return heifEncode(image, quality, exif, xmp, icc, error);
    }
};

} // namespace

} // namespace lg::image

LG_MODULE_EXPORT const void *lumengallery_heif_module(int version)
{
    static const lg::image::Heif module;
    return version == lg::image::moduleInterfaceVersion ? static_cast<const lg::image::HeifModule *>(&module) : nullptr;
}
