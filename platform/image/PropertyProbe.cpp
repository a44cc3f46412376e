// The probes of a file's header and metadata by third-party libraries, in a worker, and their replies.
#include "platform/image/PropertyProbe.h"

#include "platform/base/HandlePath.h"
#include "platform/files/names/FileNames.h"
#include "platform/image/ByteSource.h"
#include "platform/image/DecodeWorkers.h"
#include "platform/image/ImageSource.h"
#include "platform/image/WorkerProtocol.h"
#include "platform/runtime/Console.h"

#include <QDataStream>
#include <QIODevice>

#include <exiv2/exiv2.hpp>

#include <cmath>

#include <unistd.h>

namespace lg::image {

namespace {

constexpr char recordName[] = "lumengallery-probe 1";
// Far past what an honest file holds: a key or value of the pane (which
// keeps none past 1,024 characters), groups and their entries, embedded
// thumbnails, a side, a count of tiles or pages.
constexpr qint64 longestText = 64 << 10;
constexpr int mostGroups = 16;
constexpr int mostEntries = 8192;
constexpr int mostThumbnails = 64;
constexpr int largestSide = 1 << 20;
constexpr int largestCount = 1 << 20;

void putBytes(QDataStream &out, const QByteArray &bytes)
{
    out << quint32(bytes.size());
    out.writeRawData(bytes.constData(), int(bytes.size()));
}

void putText(QDataStream &out, const QString &text)
{
    putBytes(out, text.toUtf8());
}

void putSize(QDataStream &out, QSize size)
{
    out << qint32(size.width()) << qint32(size.height());
}

void putGroups(QDataStream &out, const QList<QPair<QString, QList<QPair<QString, QString>>>> &groups)
{
    out << qint32(groups.size());
    for (const auto &[group, entries] : groups) {
        putText(out, group);
        out << qint32(entries.size());
        for (const auto &[key, value] : entries) {
            putText(out, key);
            putText(out, value);
        }
    }
}

void putDpi(QDataStream &out, const std::optional<double> &dpi)
{
    out << bool(dpi) << dpi.value_or(0.0);
}

// Reads what putX wrote; once anything is out of bounds or missing, ok
// stays false and every later read gives nothing.
struct Reader
{
    explicit Reader(const QByteArray &bytes) : in(bytes) {}
    QDataStream in;
    bool ok = true;

    bool good() { return ok = ok && in.status() == QDataStream::Ok; }
    int number(int low, int high)
    {
        qint32 value = 0;
        in >> value;
        if (!good() || value < low || value > high)
            ok = false;
        return ok ? value : low;
    }
    bool flag()
    {
        bool value = false;
        in >> value;
        return good() && value;
    }
    QByteArray bytes(qint64 most)
    {
        quint32 size = 0;
        in >> size;
        if (!good() || qint64(size) > most || qint64(size) > in.device()->bytesAvailable()) {
            ok = false;
            return {};
        }
        QByteArray bytes(qsizetype(size), Qt::Uninitialized);
        if (in.readRawData(bytes.data(), int(size)) != int(size))
            ok = false;
        return ok ? bytes : QByteArray();
    }
    QString text() { return QString::fromUtf8(bytes(longestText)); }
    // A size, or QSize()'s -1 by -1 where none was found.
    QSize size()
    {
        const int width = number(-1, largestSide);
        return QSize(width, number(-1, largestSide));
    }
    QList<QPair<QString, QList<QPair<QString, QString>>>> groups()
    {
        QList<QPair<QString, QList<QPair<QString, QString>>>> groups;
        const int count = number(0, mostGroups);
        for (int g = 0; ok && g < count; ++g) {
            const QString group = text();
            QList<QPair<QString, QString>> entries;
            const int entryCount = number(0, mostEntries);
            for (int e = 0; ok && e < entryCount; ++e) {
                const QString key = text();
                entries.append({key, text()});
            }
            groups.append({group, entries});
        }
        return groups;
    }
    std::optional<double> dpi()
    {
        const bool known = flag();
        double value = 0;
        in >> value;
        if (!good() || !std::isfinite(value))
            ok = false;
        return known && ok ? std::optional<double>(value) : std::nullopt;
    }
};

// Why a probe gave nothing: the words of a decode's end, or of a reply that
// came but said nothing usable.
QString failureWords(WorkerEnd end)
{
    if (end == WorkerEnd::Done || end == WorkerEnd::More)
        return QStringLiteral("its worker's reply was not understood");
    if (end == WorkerEnd::Failed)
        return QStringLiteral("its worker could not read the file");
    DecodeReport report;
    noteDecodeEnd(end, probeGrantBytes, DecodeTerms {probeGrantBytes, probeTimeLimitMs, nullptr}, &report);
    return report.words;
}

} // namespace

ProbedFacts probeHere(const ByteSource &source, const QString &path, ProbeParts parts)
{
    ProbedFacts facts;
    facts.parts = parts & everyProbePart;
    if (hasPart(parts, ProbePart::HeifHeader))
        facts.heif = probeHeif(source);
    if (hasPart(parts, ProbePart::RawHeader))
        facts.raw = probeRaw(source, path);
    if (hasPart(parts, ProbePart::Metadata) && hasPart(parts, ProbePart::PaneValues) && !path.isEmpty()
        && !source.inMemory()) {
        // Both from one read of the file.
        const std::unique_ptr<Exiv2::Image> image = readMetadataFrom(path);
        try {
            facts.metadata = image ? metadataOf(*image) : MetadataRead {};
        } catch (...) {
            facts.metadata = {};
        }
        facts.pane = paneValuesOf(image.get(), path);
        parts &= ~quint32(ProbePart::Metadata) & ~quint32(ProbePart::PaneValues);
    }
    if (hasPart(parts, ProbePart::Metadata))
        facts.metadata = readMetadata(source, path);
    if (hasPart(parts, ProbePart::PaneValues)) {
        // exiv2 opens the file by name: a source in memory is handed over as a file.
        int held = -1;
        if (path.isEmpty() && source.inMemory())
            held = sealedMemoryFile("lumengallery-probed", source.memory().constData(), source.size());
        const QString name = held >= 0 ? FileNames::fromNative(handlePath(held)) : path;
        if (!name.isEmpty())
            facts.pane = readPaneValues(name);
        if (held >= 0)
            ::close(held);
    }
    if (hasPart(parts, ProbePart::TiffPages))
        facts.tiffPages = qtFrameCount(source, "tiff");
    return facts;
}

QByteArray serialisedFacts(const ProbedFacts &facts)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    putBytes(out, QByteArray(recordName));
    out << quint32(facts.parts);
    if (hasPart(facts.parts, ProbePart::HeifHeader)) {
        const HeifInfo &h = facts.heif;
        out << h.ok;
        putSize(out, h.size);
        out << qint32(h.depth) << h.hasAlpha << qint32(h.imageCount) << qint32(h.thumbnailSizes.size());
        for (const QSize &size : h.thumbnailSizes)
            putSize(out, size);
        out << qint32(h.gridTiles);
        putSize(out, h.codedSize);
        out << qint32(h.thumbnailCodedSizes.size());
        for (const QSize &size : h.thumbnailCodedSizes)
            putSize(out, size);
        putSize(out, h.codedTile);
    }
    if (hasPart(facts.parts, ProbePart::RawHeader)) {
        out << facts.raw.ok;
        putSize(out, facts.raw.storedSize);
        out << qint32(facts.raw.orientation);
    }
    if (hasPart(facts.parts, ProbePart::Metadata)) {
        const MetadataRead &m = facts.metadata;
        putGroups(out, m.groups);
        for (const QByteArray *block : {&m.exif, &m.iptc, &m.xmp, &m.icc})
            putBytes(out, *block);
    }
    if (hasPart(facts.parts, ProbePart::PaneValues)) {
        putGroups(out, facts.pane.groups);
        putDpi(out, facts.pane.dpiWidth);
        putDpi(out, facts.pane.dpiHeight);
    }
    if (hasPart(facts.parts, ProbePart::TiffPages))
        out << qint32(facts.tiffPages);
    return bytes;
}

std::optional<ProbedFacts> parsedFacts(const QByteArray &bytes)
{
    Reader read(bytes);
    if (read.bytes(64) != recordName)
        return std::nullopt;
    ProbedFacts facts;
    quint32 parts = 0;
    read.in >> parts;
    if (!read.good() || (parts & ~everyProbePart) != 0)
        return std::nullopt;
    facts.parts = parts;
    if (hasPart(parts, ProbePart::HeifHeader)) {
        HeifInfo &h = facts.heif;
        h.ok = read.flag();
        h.size = read.size();
        h.depth = read.number(0, 64);
        h.hasAlpha = read.flag();
        h.imageCount = read.number(0, largestCount);
        const int thumbnails = read.number(0, mostThumbnails);
        for (int i = 0; read.ok && i < thumbnails; ++i)
            h.thumbnailSizes.append(read.size());
        h.gridTiles = read.number(0, largestCount);
        h.codedSize = read.size();
        const int coded = read.number(0, mostThumbnails);
        for (int i = 0; read.ok && i < coded; ++i)
            h.thumbnailCodedSizes.append(read.size());
        h.codedTile = read.size();
    }
    if (hasPart(parts, ProbePart::RawHeader)) {
        facts.raw.ok = read.flag();
        facts.raw.storedSize = read.size();
        facts.raw.orientation = read.number(1, 8);
    }
    if (hasPart(parts, ProbePart::Metadata)) {
        MetadataRead &m = facts.metadata;
        m.groups = read.groups();
        for (QByteArray *block : {&m.exif, &m.iptc, &m.xmp, &m.icc})
            *block = read.bytes(largestProbeReply);
    }
    if (hasPart(parts, ProbePart::PaneValues)) {
        facts.pane.groups = read.groups();
        facts.pane.dpiWidth = read.dpi();
        facts.pane.dpiHeight = read.dpi();
    }
    if (hasPart(parts, ProbePart::TiffPages))
        facts.tiffPages = read.number(0, largestCount);
    if (!read.good() || !read.in.atEnd())
        return std::nullopt;
    return facts;
}

void addFacts(ProbedFacts *to, const ProbedFacts &found)
{
    const ProbeParts parts = found.parts & ~to->parts;
    if (hasPart(parts, ProbePart::HeifHeader))
        to->heif = found.heif;
    if (hasPart(parts, ProbePart::RawHeader))
        to->raw = found.raw;
    if (hasPart(parts, ProbePart::Metadata))
        to->metadata = found.metadata;
    if (hasPart(parts, ProbePart::PaneValues))
        to->pane = found.pane;
    if (hasPart(parts, ProbePart::TiffPages))
        to->tiffPages = found.tiffPages;
    to->parts |= parts;
}

ProbedFacts factsFromReply(const WorkerReply &reply, ProbeParts asked, const QString &name)
{
    if (reply.end == WorkerEnd::Done) {
        std::optional<ProbedFacts> facts = parsedFacts(reply.probed);
        if (facts && facts->parts == asked)
            return std::move(*facts);
    }
    if (reply.end != WorkerEnd::Stopped)
        printLine(QStringLiteral("The properties of %1 were not read: %2.")
                      .arg(name.isEmpty() ? QStringLiteral("a picture held in memory") : name, failureWords(reply.end)));
    return {};
}

WorkerReply performProbeTask(const WorkerTask &task, int fd)
{
    WorkerReply reply;
    const ByteSource source = ByteSource::fromDescriptor(fd);
    if (!source.isOpen())
        return reply;
    // The libraries that open a file themselves are given the one handed over.
    const ProbedFacts facts = probeHere(source, FileNames::fromNative(handlePath(source.descriptor())),
                                        task.probeParts & everyProbePart);
    reply.probed = serialisedFacts(facts);
    reply.end = WorkerEnd::Done;
    return reply;
}

} // namespace lg::image
