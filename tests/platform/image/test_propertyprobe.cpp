// What libraries read of a file's header and metadata is read in a decode
// worker: the program maps none of them for it, reads what the worker says
// as it read the file itself, and a probe that holds too much, never
// returns or crashes fails alone, with a line in the log; the quit ends it.
#include "platform/image/DecodeWorkers.h"
#include "platform/image/ImageSource.h"
#include "platform/image/PropertyProbe.h"
#include "platform/image/PropertyTree.h"
#include "platform/modules/Modules.h"
#include "platform/runtime/Dispatch.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/StandInWorkers.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include <unistd.h>

namespace {

namespace fixtures = lg::test::fixtures;
using lg::image::ProbePart;

using lg::test::markedPicture;

// The files of each kind a library probes, made once in folder: a JPEG with
// Exif, IPTC and XMP, a HEIC, a DNG, a TIFF of three pages and a plain PNG
// (those whose tool is missing are left out).
QList<QPair<QString, QString>> probedKinds(const QString &folder)
{
    QList<QPair<QString, QString>> kinds;
    const QString jpeg = fixtures::writeJpeg(folder + QStringLiteral("/tagged.jpg"), fixtures::scene(QSize(64, 48)), 6);
    if (fixtures::setMetadata(jpeg, {{QStringLiteral("Exif.Image.Make"), QStringLiteral("Lumen")},
                                     {QStringLiteral("Exif.Photo.ExposureTime"), QStringLiteral("1/125")},
                                     {QStringLiteral("Exif.Image.XResolution"), QStringLiteral("300/1")},
                                     {QStringLiteral("Exif.Image.YResolution"), QStringLiteral("300/1")},
                                     {QStringLiteral("Exif.GPSInfo.GPSLatitudeRef"), QStringLiteral("N")},
                                     {QStringLiteral("Iptc.Application2.Keywords"), QStringLiteral("sea")},
                                     {QStringLiteral("Xmp.dc.subject"), QStringLiteral("sea")}}))
        kinds.append({QStringLiteral("jpeg with metadata"), jpeg});
    if (const QString heic = fixtures::writeModuleHeic(folder); !heic.isEmpty())
        kinds.append({QStringLiteral("heic"), heic});
    kinds.append({QStringLiteral("dng"), fixtures::writeModuleDng(folder)});
    if (fixtures::hasTool(QStringLiteral("convert"))) {
        QStringList pages;
        for (const QColor colour : {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue)}) {
            QImage page(16, 12, QImage::Format_RGB32);
            page.fill(colour);
            pages << fixtures::writeQtImage(folder + QStringLiteral("/page%1.png").arg(pages.size()), page);
        }
        const QString tiff = folder + QStringLiteral("/pages.tif");
        if (fixtures::run(QStringLiteral("convert"), pages + QStringList {tiff}))
            kinds.append({QStringLiteral("tiff of three pages"), tiff});
    }
    QImage plain(20, 10, QImage::Format_ARGB32);
    plain.fill(Qt::transparent);
    kinds.append({QStringLiteral("png"), fixtures::writeQtImage(folder + QStringLiteral("/plain.png"), plain)});
    return kinds;
}

// A tree as text, one line a node, so that two compare whole.
QStringList treeLines(const std::optional<QList<lg::PropertyNode>> &tree)
{
    QStringList lines;
    if (!tree)
        return {QStringLiteral("(none)")};
    for (const lg::PropertyNode &node : *tree) {
        lines << node.key + QLatin1Char('=') + node.value;
        for (const lg::PropertyNode &child : node.children)
            lines << node.key + QLatin1Char('/') + child.key + QLatin1Char('=') + child.value;
    }
    return lines;
}

// What the program learns of a file through the libraries' probes.
struct Learned
{
    QStringList tree;
    lg::ImageProperties properties;
    std::optional<QSize> size;
    int frames = 0;
};

// inMemory: the file's bytes as a source held in memory (no tree then).
Learned learned(const QString &path, bool inMemory = false)
{
    if (inMemory) {
        const lg::ImageSource source = lg::ImageSource::fromData(lg::test::readAll(path), QFileInfo(path).suffix());
        return {{}, source.properties(), source.pixelSize(), source.frameCount()};
    }
    const lg::ImageSource source(path);
    return {treeLines(lg::readPropertyTree(path)), source.properties(), source.pixelSize(), source.frameCount()};
}

bool mapped(const QString &fileName)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(QFile::encodeName(fileName));
}

} // namespace

Q_DECLARE_METATYPE(lg::image::WorkerEnd)

class PropertyProbeTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QList<QPair<QString, QString>> m_kinds;

private Q_SLOTS:
    void initTestCase() { m_kinds = probedKinds(m_folder.path()); }

    void init()
    {
        lg::image::setDecodesInThisProcess(false);
        lg::image::setDecodeWorkerProgramForTesting({});
    }

    void cleanup() { lg::test::decodeHereAgain(); }

    // First of all, while nothing in this process has decoded or probed a
    // picture: every kind is read whole, and the program maps neither the
    // HEIF nor the raw module for it.
    void theProgramMapsNoLibraryToProbe()
    {
        for (const auto &[name, path] : std::as_const(m_kinds)) {
            const Learned got = learned(path);
            QVERIFY2(got.size && got.tree.size() > 3, qPrintable(name));
            if (name == QLatin1String("tiff of three pages"))
                QCOMPARE(got.frames, 3);
            if (name == QLatin1String("jpeg with metadata"))
                QVERIFY(got.tree.contains(QStringLiteral("{TIFF}/Make=Lumen")));
        }
        QVERIFY(!mapped(lg::image::moduleFileName(lg::image::Module::Heif)));
        QVERIFY(!mapped(lg::image::moduleFileName(lg::image::Module::Raw)));
    }

    // What a worker reads of each kind is what the program read itself.
    void aWorkerReadsAsTheProgramDid_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("inMemory");
        for (const auto &[name, path] : std::as_const(m_kinds)) {
            QTest::addRow("%s", qPrintable(name)) << path << false;
            QTest::addRow("%s held in memory", qPrintable(name)) << path << true;
        }
    }

    void aWorkerReadsAsTheProgramDid()
    {
        QFETCH(QString, path);
        QFETCH(bool, inMemory);
        const Learned there = learned(path, inMemory);
        lg::image::setDecodesInThisProcess(true);
        const Learned here = learned(path, inMemory);
        QVERIFY(there.size);
        QCOMPARE(there.tree, here.tree);
        QCOMPARE(there.size, here.size);
        QCOMPARE(there.frames, here.frames);
        const lg::ImageProperties &a = there.properties, &b = here.properties;
        QCOMPARE(a.pixelSize, b.pixelSize);
        QCOMPARE(a.depth, b.depth);
        QCOMPARE(a.colorModel, b.colorModel);
        QCOMPARE(a.hasAlpha, b.hasAlpha);
        QCOMPARE(a.orientation, b.orientation);
        QCOMPARE(a.groups, b.groups);
        QCOMPARE(a.exif, b.exif);
        QCOMPARE(a.iptc, b.iptc);
        QCOMPARE(a.xmp, b.xmp);
        QCOMPARE(a.icc, b.icc);
    }

    // What the program shows is what the worker said: the metadata, the
    // pane's values, a TIFF's pages; the tree is read in one request.
    void whatTheWorkerSaysIsWhatTheProgramShows()
    {
        lg::image::setDecodeWorkerProgramForTesting(QStringLiteral(LG_STANDIN_DECODER));
        // A TIFF whose first row, stored as it is, is the mark.
        const QByteArray mark("standin:answer 1.");
        QImage row(int(mark.size()), 1, QImage::Format_Grayscale8);
        std::memcpy(row.bits(), mark.constData(), size_t(mark.size()));
        const QString tiff = fixtures::writeQtImage(m_folder.filePath(QStringLiteral("marked.tif")), row);
        QCOMPARE(lg::ImageSource(tiff).frameCount(), 7);
        const QString path = markedPicture(m_folder.path(), QStringLiteral("answer 1"));
        const lg::ImageProperties properties = lg::ImageSource(path).properties();
        QCOMPARE(properties.groups.size(), 1);
        QCOMPARE(properties.groups.first().first, QStringLiteral("Standin"));
        const QString pid = properties.groups.first().second.value(0).second;
        QVERIFY(!pid.isEmpty() && pid != QString::number(::getpid()));
        QVERIFY(lg::image::decodeWorkerIds().contains(pid.toInt()));
        // The worker waiting is used again; it counts the probes it served.
        const auto served = [&path] {
            const QStringList tree = treeLines(lg::readPropertyTree(path));
            const QStringList model = tree.filter(QStringLiteral("{TIFF}/Model="));
            return tree.contains(QStringLiteral("{TIFF}/Make=Standin")) && model.size() == 1
                ? model.first().section(QLatin1Char('='), 1).toInt() : -1;
        };
        const int first = served();
        QVERIFY(first > 0);
        QCOMPARE(served(), first + 1);
    }

    void aProbeThatFailsFailsAlone_data()
    {
        QTest::addColumn<QString>("mark");
        QTest::addColumn<QString>("words");
        QTest::addColumn<bool>("fastClock");   // time passes a thousand times faster for the watchdog
        QTest::newRow("holds past its grant") << QStringLiteral("allocate 400")
                                              << QStringLiteral("needs more than the 96 MB it may hold") << false;
        QTest::newRow("never returns") << QStringLiteral("hang") << QStringLiteral("ran past 5 seconds") << true;
        QTest::newRow("crashes") << QStringLiteral("crash") << QStringLiteral("the decoder ended abnormally") << false;
    }

    void aProbeThatFailsFailsAlone()
    {
        QFETCH(QString, mark);
        QFETCH(QString, words);
        QFETCH(bool, fastClock);
        lg::image::setDecodeWorkerProgramForTesting(QStringLiteral(LG_STANDIN_DECODER));
        QElapsedTimer real;
        real.start();
        if (fastClock)
            lg::image::setDecodeClockForTesting([&real] { return real.elapsed() * 1000; });
        const QString path = markedPicture(m_folder.path(), mark);
        lg::test::CaptureStdout output;
        const lg::ImageSource source(path);
        const lg::ImageProperties properties = source.properties();
        const QByteArray printed = output.finish();
        QVERIFY(real.elapsed() < 5000);
        QVERIFY(properties.groups.isEmpty() && properties.exif.isEmpty());
        QVERIFY2(printed.contains(QFile::encodeName(QStringLiteral("The properties of %1 were not read: ").arg(path)))
                     && printed.contains(words.toUtf8()),
                 printed.constData());
        // Asked once: the failure stands for the source, and the next file's probe is served.
        QVERIFY(source.properties().groups.isEmpty());
        const QString honest = markedPicture(m_folder.path(), QStringLiteral("answer 1"));
        QCOMPARE(lg::ImageSource(honest).properties().groups.value(0).first, QStringLiteral("Standin"));
    }

    void theQuitEndsAProbeAtOnce()
    {
        lg::image::setDecodeWorkerProgramForTesting(QStringLiteral(LG_STANDIN_DECODER));
        const QString path = markedPicture(m_folder.path(), QStringLiteral("hang"));
        std::atomic<bool> waiting {false};
        lg::image::setDecodeClockForTesting([&waiting] {
            waiting = true;
            return qint64(0);
        });
        std::atomic<bool> empty {false};
        std::thread probe([&] { empty = lg::ImageSource(path).properties().groups.isEmpty(); });
        QTRY_VERIFY(waiting.load());
        QElapsedTimer clock;
        clock.start();
        lg::beginShutdown();
        probe.join();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(empty.load());
    }

    // A reply is believed only where it is a whole record of the parts
    // asked, every count, size and text within bounds.
    void aReplyIsCheckedBeforeItIsBelieved_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("believed");
        lg::image::ProbedFacts facts;
        facts.parts = everyPart();
        facts.heif.ok = true;
        facts.heif.size = QSize(4032, 3024);
        facts.heif.thumbnailSizes = {QSize(320, 240)};
        facts.heif.thumbnailCodedSizes = {QSize(320, 240)};
        facts.raw.orientation = 6;
        facts.metadata.groups = {{QStringLiteral("Exif"), {{QStringLiteral("FNumber"), QStringLiteral("F2.8")}}}};
        facts.metadata.exif = QByteArray("II*\0", 4);
        facts.pane.groups = {{QStringLiteral("{TIFF}"), {{QStringLiteral("Make"), QStringLiteral("Lumen")}}}};
        facts.pane.dpiWidth = 300;
        facts.tiffPages = 3;
        const QByteArray honest = lg::image::serialisedFacts(facts);
        QTest::newRow("whole") << honest << true;
        QTest::newRow("cut short") << honest.left(honest.size() - 1) << false;
        QTest::newRow("with bytes after it") << honest + QByteArray(1, '\0') << false;
        // The record's name, its length first, then the parts.
        const qsizetype partsAt = 4 + qsizetype(qstrlen("lumengallery-probe 1"));
        QByteArray unknownPart = honest;
        unknownPart[partsAt] = char(0x80);
        QTest::newRow("a part nobody asks for") << unknownPart << false;
        const auto replaced = [&honest](const QByteArray &from, const QByteArray &to) {
            QByteArray bytes = honest;
            const qsizetype at = bytes.indexOf(from);
            return at < 0 ? QByteArray() : bytes.replace(at, from.size(), to);
        };
        // The metadata's group count stands before its name's length and name.
        const QByteArray exifName = QByteArray("\0\0\0\4Exif", 8);
        QTest::newRow("more groups than any file has")
            << replaced(QByteArray("\0\0\0\1", 4) + exifName, QByteArray("\0\0\x10\0", 4) + exifName) << false;
        QTest::newRow("a text longer than what follows")
            << replaced(exifName, QByteArray("\0\x10\0\0Exif", 8)) << false;
        QTest::newRow("an orientation past 8") << replaced(QByteArray("\0\0\0\6", 4), QByteArray("\0\0\0\x09", 4)) << false;
        QTest::newRow("a side past any picture's")
            << replaced(QByteArray("\0\0\x0f\xc0", 4), QByteArray("\x7f\0\0\0", 4)) << false;
        double nan = std::nan("");
        QByteArray notANumber(8, '\0');
        QDataStream(&notANumber, QIODevice::WriteOnly) << nan;
        QByteArray dpi(8, '\0');
        QDataStream(&dpi, QIODevice::WriteOnly) << 300.0;
        QTest::newRow("a resolution that is no number") << replaced(dpi, notANumber) << false;
    }

    void aReplyIsCheckedBeforeItIsBelieved()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, believed);
        QVERIFY(!reply.isEmpty());
        const std::optional<lg::image::ProbedFacts> facts = lg::image::parsedFacts(reply);
        QCOMPARE(facts.has_value(), believed);
        if (believed) {
            QCOMPARE(facts->heif.size, QSize(4032, 3024));
            QCOMPARE(facts->raw.orientation, 6);
            QCOMPARE(facts->metadata.groups.value(0).second.value(0).second, QStringLiteral("F2.8"));
            QCOMPARE(facts->metadata.exif, QByteArray("II*\0", 4));
            QCOMPARE(facts->pane.dpiWidth, std::optional<double>(300));
            QVERIFY(!facts->pane.dpiHeight);
            QCOMPARE(facts->tiffPages, 3);
        }
    }

private:
    static lg::image::ProbeParts everyPart() { return lg::image::everyProbePart; }
};

LG_TEST(PropertyProbeTest)
#include "test_propertyprobe.moc"
