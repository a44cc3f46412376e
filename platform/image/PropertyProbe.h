#pragma once
// What third-party libraries read of a picture file without decoding it:
// libheif's and LibRaw's look at a header, exiv2's metadata (the blocks a
// rewrite carries over and the values the information pane shows) and the
// pages Qt's TIFF reader (libtiff) counts. In the program these reads run in
// a decode worker (DecodeWorkers.h), all the parts a caller wants in one
// request, held to a small grant and a short time of their own; what comes
// back is checked as any reply is: every size, count and text bounded.
//
// A probe that passes its grant or its time, whose worker crashes, or that
// the quit ends, is a failed probe: none of its parts, and a line in the log
// naming the file; never the program's end and never a wait past the quit.
//
// Any thread. The parts' own readers (probeHere) run in the worker, or in the
// program where decodes run there (decodesInThisProcess).
#include "platform/image/Decoders.h"
#include "platform/image/Metadata.h"
#include "platform/image/WorkerProtocol.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace lg {
class ImageSource;
}

namespace lg::image {

class ByteSource;

// The parts a probe reads, or-ed together.
enum class ProbePart : quint32 {
    HeifHeader = 1,       // libheif: the picture's size, depth, thumbnails, tiles
    RawHeader = 2,        // LibRaw: the stored size and the orientation
    Metadata = 4,         // exiv2: readMetadata (Metadata.h)
    PaneValues = 8,       // exiv2: the information pane's values (PropertyTree.h)
    TiffPages = 16        // Qt's TIFF reader: how many pages
};
using ProbeParts = quint32;
constexpr ProbeParts operator|(ProbePart a, ProbePart b) { return quint32(a) | quint32(b); }
constexpr ProbeParts operator|(ProbeParts a, ProbePart b) { return a | quint32(b); }
constexpr bool hasPart(ProbeParts parts, ProbePart part) { return (parts & quint32(part)) != 0; }
constexpr ProbeParts everyProbePart = 31;

// The information pane's values read through exiv2: its groups ("{Exif}",
// "{TIFF}", "{GPS}", "{IPTC}") in the vocabulary's order, each key and value
// in that order, and the resolution in dots per inch where the Exif tells it.
struct PaneValues
{
    QList<QPair<QString, QList<QPair<QString, QString>>>> groups;
    std::optional<double> dpiWidth, dpiHeight;
};
// Read from the file at path (by name: exiv2 opens it itself), or from
// image, the file as exiv2 read it (readMetadataFrom; null where it could
// not); defined beside the vocabulary (PropertyTree.cpp).
PaneValues readPaneValues(const QString &path);
PaneValues paneValuesOf(Exiv2::Image *image, const QString &path);

struct ProbedFacts
{
    ProbeParts parts = 0;   // those read (a failed probe: none)
    HeifInfo heif;
    RawInfo raw;
    MetadataRead metadata;
    PaneValues pane;
    int tiffPages = 0;
};

// How long a probe may run before its worker is ended, and what it may hold
// beside what its worker held before.
constexpr int probeTimeLimitMs = 5000;
constexpr qint64 probeGrantBytes = 96LL << 20;

// Reads parts of source in this process (path: the file's name for the
// readers that open it themselves; empty for a source in memory).
ProbedFacts probeHere(const ByteSource &source, const QString &path, ProbeParts parts);

// The facts as a reply carries them, and back; none for bytes that are not
// such a record or claim more than a probe may find.
QByteArray serialisedFacts(const ProbedFacts &facts);
std::optional<ProbedFacts> parsedFacts(const QByteArray &bytes);

// Adds the parts found that to does not hold yet.
void addFacts(ProbedFacts *to, const ProbedFacts &found);
// What a worker's reply to a probe of the parts asked says; none of them,
// with a line in the log naming the file (name; empty: one in memory), when
// the probe failed or its reply is not a record of those parts.
ProbedFacts factsFromReply(const WorkerReply &reply, ProbeParts asked, const QString &name);
// The worker's side: the probe of task's parts on the file open as fd.
WorkerReply performProbeTask(const WorkerTask &task, int fd);

// What the probe of source found of parts: read once for each part, with the
// parts the source reads ahead (readingAhead), in a worker where decodes run
// in workers. Parts a failed probe did not read stay empty.
ProbedFacts probedFacts(const ImageSource &source, ProbeParts parts);
// The picture of the file at path (as ImageSource(path)), whose first probe
// reads these parts too: one request for all a caller will want.
ImageSource readingAhead(const QString &path, ProbeParts parts);

} // namespace lg::image
