#pragma once
// Writes images to files. Every write goes to a temporary file in the target's
// folder that is renamed over the target only when it is complete, so a
// failed write leaves the old file as it was; failures are reported, never
// passed off as success. Qt writes what it can, libheif writes HEIC and
// ImageMagick the rest, and a compressed TIFF rewritten as it was stored.
#include "platform/image/PictureMetadata.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>
#include <optional>

namespace lg {

struct ImageProperties;

enum class ImageFileType {
    JPEG,
    PNG,
    TIFF,
    GIF,
    PICT,
    JPEG2000,
    QuickTimeImage,
    AppleIcon,
    BMP,
    WindowsIcon,
    HEIC,
    TGA,
};

// How the file being rewritten stored its pixels, for a rewrite that keeps it.
struct SourceEncoding
{
    int tiffCompression = 0;  // the TIFF Compression tag (1 none, 5 LZW, 8 Deflate, ...); 0: no TIFF
    int tiffPredictor = 0;    // the TIFF Predictor tag (2: horizontal differencing); 0: none given
    // A PNG's chunks before its picture data, as stored (signature left out):
    // the colour chunks (gAMA, cHRM, sRGB, iCCP, sBIT, bKGD) come from here.
    QByteArray pngChunks;

    bool isEmpty() const { return tiffCompression == 0 && pngChunks.isEmpty(); }
    // Of the file at path; empty when it is no TIFF or PNG or cannot be read.
    static SourceEncoding read(const QString &path);
};

struct ImageWriteOptions
{
    // 0..1 for lossy formats; negative: the format's default.
    double quality = -1;
    // Carried into formats that hold them (JPEG, PNG, TIFF, JPEG 2000, HEIC),
    // made fit for the written pixels (orientation 1, their dimensions, a new
    // Exif thumbnail); the colour profile also tags the pixels written.
    PictureMetadata metadata;
    // A rewrite of the file the metadata came from: when it cannot all be
    // carried, nothing is written (otherwise the picture is written without it).
    // Then also checked after encoding: every Exif tag, the XMP and IPTC are there.
    bool keepAllMetadata = false;
    // A rewrite in the source's own type keeps its compression and colour chunks.
    SourceEncoding source;

    static ImageWriteOptions fromProperties(const ImageProperties &properties);
};

class ImageWriter
{
public:
    // Whether some library here writes the type.
    static bool canWrite(ImageFileType type);
    // The usual extension of the type ("jpg", "png", ...).
    static QString preferredExtension(ImageFileType type);

    // The encoded file content; none (with the reason in error) when it cannot be made.
    static std::optional<QByteArray> encode(const QImage &image, ImageFileType type,
                                            const ImageWriteOptions &options = {}, QString *error = nullptr);
    // Encodes and replaces path atomically. False, with the reason in error,
    // when nothing was written; the file at path is then untouched. errorNumber
    // gets the system's error (errno) where the system refused the write, 0
    // where no such reason is known (e.g. the encoder failed).
    static bool write(const QImage &image, const QString &path, ImageFileType type,
                      const ImageWriteOptions &options = {}, QString *error = nullptr, int *errorNumber = nullptr);

    // Writes bytes beside path and renames them over it (an existing file keeps
    // its permissions, owner where allowed, its access list and extended
    // attributes). Another hard link to the old file keeps the old content.
    // The file at path is untouched when this returns false; errorNumber as
    // for write(). The rename asks lg::injectedFileFault (FileStep::FinalRename)
    // first, so tests can make it fail with a chosen errno.
    static bool replaceFileContents(const QString &path, const QByteArray &bytes, QString *error = nullptr,
                                    int *errorNumber = nullptr);

    // Tests: called with the temporary file's path just before it is renamed
    // over the target; returning false makes the write fail there.
    using CommitHook = std::function<bool(const QString &temporaryPath)>;
    static void setCommitHookForTesting(CommitHook hook);
};

} // namespace lg
