// The tests' decode worker: lumengallery-decoder's start and loop, with
// stand-in decodes for files that carry a line "standin:<what> <number>" in
// their first bytes, ended by a full stop (a PNG's text chunk, say): "allocate N" holds N MB (and
// gives a picture of 1x1 when it may), "hang" never returns, "crash" dies
// of a bad address, "confinement" tries to write a file and to open a
// network socket and says, in its colour model, what was refused. A probe
// of a marked file (PropertyProbe.h) does the same, then answers for the
// parts asked what no library reads: the metadata group "Standin" with the
// worker's pid, the pane's TIFF Make "Standin" and Model the count of probes
// the worker served, seven TIFF pages. Every other file is decoded and
// probed as the real worker does.
// An animation's stand-in first sends two frames of 8 x 8 as parts of its
// series, then does what its mark says; "oddsize" then sends a frame of
// 9 x 9 and never returns. "flood" sends frames of 1024 x 1024 that claim
// to show for a million seconds, without end.
#include "platform/image/PropertyProbe.h"
#include "platform/image/worker/WorkerStart.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int programSocket = 3;

// One picture of each size, made once: sent again and again, it holds no more
// (an allocator that keeps what was freed, as AddressSanitizer's does, would
// otherwise grow past the grant).
void sendPart(const QSize &size, int delayMs)
{
    static QImage made[3];
    QImage &image = made[size.width() == 8 ? 0 : size.width() == 9 ? 1 : 2];
    if (image.size() != size) {
        image = QImage(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::green);
    }
    lg::image::WorkerReply part;
    part.end = lg::image::WorkerEnd::More;
    part.image = image;
    part.facts.delayMs = delayMs;
    lg::image::sendReply(programSocket, part);
}

std::optional<lg::image::WorkerReply> standIn(const lg::image::WorkerTask &task, int fd)
{
    QByteArray head(4096, '\0');
    const ssize_t got = ::pread(fd, head.data(), size_t(head.size()), 0);
    head.resize(std::max<ssize_t>(0, got));
    const qsizetype at = head.indexOf("standin:");
    if (at < 0)
        return std::nullopt;
    // The mark ends at a full stop (a chunk's checksum follows it).
    const QByteArray mark = head.mid(at + 8, 64).split('.').first();
    const QList<QByteArray> words = mark.split(' ');
    const QByteArray what = words.value(0);
    qint64 number = 0;
    for (const char digit : words.value(1)) {
        if (!std::isdigit(uchar(digit)))
            break;
        number = number * 10 + (digit - '0');
    }
    if (task.kind == lg::image::WorkerTaskKind::Animation) {
        while (what == "flood")
            sendPart(QSize(1024, 1024), 1000000000);
        sendPart(QSize(8, 8), 100);
        sendPart(QSize(8, 8), 100);
        if (what == "oddsize") {
            sendPart(QSize(9, 9), 100);
            for (;;)
                ::pause();
        }
    }
    lg::image::WorkerReply reply;
    reply.end = lg::image::WorkerEnd::Done;
    reply.image = QImage(1, 1, QImage::Format_RGB32);
    reply.image.fill(Qt::red);
    if (what == "allocate") {
        std::vector<char> held(size_t(std::max<qint64>(1, number)) << 20);
        std::memset(held.data(), 1, held.size());
        reply.facts.depth = held[held.size() / 2];
    } else if (what == "hang") {
        for (;;)
            ::pause();
    } else if (what == "crash") {
        std::raise(SIGSEGV);
    } else if (what == "confinement") {
        QStringList refused;
        const int file = ::open("/tmp/lumengallery-standin-written", O_WRONLY | O_CREAT, 0600);
        if (file < 0)
            refused << QStringLiteral("write");
        else
            ::close(file);
        const int network = ::socket(AF_INET, SOCK_STREAM, 0);
        if (network < 0)
            refused << QStringLiteral("network");
        else
            ::close(network);
        reply.facts.colorModel = refused.join(QLatin1Char(' '));
    }
    if (task.kind == lg::image::WorkerTaskKind::Probe) {
        using lg::image::ProbePart;
        static int served = 0;
        ++served;
        lg::image::ProbedFacts facts;
        facts.parts = task.probeParts;
        if (lg::image::hasPart(facts.parts, ProbePart::Metadata))
            facts.metadata.groups = {{QStringLiteral("Standin"), {{QStringLiteral("pid"), QString::number(::getpid())}}}};
        if (lg::image::hasPart(facts.parts, ProbePart::PaneValues))
            facts.pane.groups = {{QStringLiteral("{TIFF}"),
                                  {{QStringLiteral("Make"), QStringLiteral("Standin")},
                                   {QStringLiteral("Model"), QString::number(served)}}}};
        if (lg::image::hasPart(facts.parts, ProbePart::TiffPages))
            facts.tiffPages = 7;
        reply.image = QImage();
        reply.probed = lg::image::serialisedFacts(facts);
    }
    return reply;
}

} // namespace

int main(int argc, char **argv)
{
    return lg::image::runDecodeWorker(argc, argv, standIn);
}
