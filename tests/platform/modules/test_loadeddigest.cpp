// A codec module is known by what the dynamic loader maps and runs: the ways
// distributions strip and split modules leave its digest as the build
// recorded it, while one flipped bit in any byte the loader maps changes it.
// Tried on the build's own HEIC module with binutils, as packagers run them.
#include "platform/modules/LoadedDigest.h"
#include "tests/support/ElfSections.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <cstring>
#include <optional>

#include <elf.h>
#include <link.h>

using namespace lg::test;

namespace {

const QString builtModule = QStringLiteral(LG_REAL_MODULES "/lumengallery_heif.so");

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning().noquote() << program << arguments.join(QLatin1Char(' ')) << process.readAll();
        return false;
    }
    return true;
}


// A new build-id, as debugedit writes one after rewriting debug paths: the
// note's value (after its 16-byte header and name) changed in place.
bool newBuildId(const QString &path)
{
    QByteArray bytes = readAll(path);
    const auto note = sectionOf(bytes, ".note.gnu.build-id");
    if (!note || note->second <= 16)
        return false;
    for (qint64 at = note->first + 16; at < note->first + note->second; ++at)
        bytes[at] = char(bytes[at] ^ 0x5a);
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

std::vector<ElfW(Phdr)> loadSegments(const QByteArray &elf)
{
    ElfW(Ehdr) header;
    std::memcpy(&header, elf.constData(), sizeof header);
    std::vector<ElfW(Phdr)> loads;
    for (int i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) segment;
        std::memcpy(&segment, elf.constData() + header.e_phoff + quint64(i) * sizeof segment, sizeof segment);
        if (segment.p_type == PT_LOAD)
            loads.push_back(segment);
    }
    return loads;
}

} // namespace

class LoadedDigestTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each way a distribution packs a module keeps what the loader maps: the
    // file changes, its digest does not.
    void strippedAndSplitModulesKeepTheirDigest_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("strip, as install -s and cmake --install --strip do") << QStringLiteral("strip");
        QTest::newRow("Debian's dh_strip: debug file, strip, debug link") << QStringLiteral("dh_strip");
        QTest::newRow("install -s") << QStringLiteral("install -s");
        QTest::newRow("a debug split with a new build-id, as debugedit writes") << QStringLiteral("debugedit");
    }

    void strippedAndSplitModulesKeepTheirDigest()
    {
        QFETCH(QString, how);
        const QByteArray built = readAll(builtModule);
        const lg::image::LoadedDigest digest = lg::image::loadedDigest(built);
        QVERIFY2(digest.sha256.size() == 32, qPrintable(digest.error));
        const QString folder = freshFolder(QStringLiteral("strip"));
        const QString module = folder + QStringLiteral("/lumengallery_heif.so");
        const QString debug = folder + QStringLiteral("/lumengallery_heif.so.debug");
        if (how == QLatin1String("install -s")) {
            QVERIFY(run(QStringLiteral("install"), {QStringLiteral("-s"), QStringLiteral("-m"), QStringLiteral("0755"),
                                                    builtModule, module}));
        } else {
            QVERIFY(QFile::copy(builtModule, module));
        }
        if (how == QLatin1String("strip")) {
            QVERIFY(run(QStringLiteral("strip"), {module}));
        } else if (how == QLatin1String("dh_strip") || how == QLatin1String("debugedit")) {
            if (how == QLatin1String("debugedit")) {
                // debugedit itself where it is installed (Debian's package of
                // that name), else the same rewrite of the note's value.
                const QByteArray before = readAll(module);
                if (lg::test::fixtures::hasTool(QStringLiteral("debugedit")))
                    QVERIFY(run(QStringLiteral("debugedit"), {QStringLiteral("--build-id"),
                                                              QStringLiteral("--build-id-seed=lumengallery-package"), module}));
                else
                    QVERIFY(newBuildId(module));
                QVERIFY(readAll(module) != before);
            }
            QVERIFY(run(QStringLiteral("objcopy"), {QStringLiteral("--only-keep-debug"), module, debug}));
            QVERIFY(run(QStringLiteral("strip"), {QStringLiteral("--remove-section=.comment"),
                                                  QStringLiteral("--remove-section=.note"),
                                                  QStringLiteral("--strip-unneeded"), module}));
            QVERIFY(run(QStringLiteral("objcopy"), {QStringLiteral("--add-gnu-debuglink=") + debug, module}));
        }
        const QByteArray packed = readAll(module);
        QVERIFY(packed != built);
        QVERIFY2(packed.size() < built.size() || how == QLatin1String("debugedit"), qPrintable(how));
        const lg::image::LoadedDigest after = lg::image::loadedDigest(packed);
        QCOMPARE(after.error, QString());
        QCOMPARE(after.sha256.toHex(), digest.sha256.toHex());
    }

    // One flipped bit anywhere in what the loader maps (the ELF header but for
    // its section-header fields, the program headers, every loadable
    // segment's first, last and evenly spread bytes) changes the digest.
    void oneFlippedBitInALoadedByteChangesTheDigest()
    {
        const QByteArray built = readAll(builtModule);
        const QByteArray digest = lg::image::loadedDigest(built).sha256;
        QVERIFY(!digest.isEmpty());
        ElfW(Ehdr) header;
        std::memcpy(&header, built.constData(), sizeof header);
        const auto buildId = sectionOf(built, ".note.gnu.build-id");
        QVERIFY(buildId);
        const auto leftOut = [&](qint64 at) {
            const bool sectionFields = (at >= qint64(offsetof(ElfW(Ehdr), e_shoff))
                                        && at < qint64(offsetof(ElfW(Ehdr), e_shoff) + sizeof header.e_shoff))
                || (at >= qint64(offsetof(ElfW(Ehdr), e_shentsize)) && at < qint64(sizeof header));
            return sectionFields || (at >= buildId->first + 16 && at < buildId->first + buildId->second);
        };
        QList<qint64> offsets;
        for (qint64 at = 0; at < qint64(sizeof header) + header.e_phnum * qint64(sizeof(ElfW(Phdr))); ++at)
            offsets << at;
        for (const ElfW(Phdr) &segment : loadSegments(built)) {
            QVERIFY(segment.p_filesz > 0);
            offsets << qint64(segment.p_offset) << qint64(segment.p_offset + segment.p_filesz - 1);
            for (int i = 1; i < 100; ++i)
                offsets << qint64(segment.p_offset + segment.p_filesz * quint64(i) / 100);
        }
        int tried = 0;
        for (const qint64 at : std::as_const(offsets)) {
            if (leftOut(at))
                continue;
            QByteArray flipped = built;
            flipped[at] = char(flipped[at] ^ (1 << (at % 8)));
            QVERIFY2(lg::image::loadedDigest(flipped).sha256 != digest, qPrintable(QString::number(at)));
            ++tried;
        }
        QVERIFY(tried > 400);
        // What the loader never maps (symbols, debug sections) is not in it.
        const auto symbols = sectionOf(built, ".symtab");
        if (symbols) {
            QByteArray changed = built;
            changed[symbols->first + symbols->second / 2] = char(changed[symbols->first + symbols->second / 2] ^ 1);
            QCOMPARE(lg::image::loadedDigest(changed).sha256, digest);
        }
    }

    // A file cut inside its loadable bytes, or that is no ELF file, has none.
    void aFileThatIsNoModuleHasNoDigest()
    {
        const QByteArray built = readAll(builtModule);
        const std::vector<ElfW(Phdr)> loads = loadSegments(built);
        QVERIFY(!loads.empty());
        const qint64 insideLast = qint64(loads.back().p_offset + loads.back().p_filesz - 1);
        QVERIFY(lg::image::loadedDigest(built.left(insideLast)).sha256.isEmpty());
        QVERIFY(!lg::image::loadedDigest(built.left(insideLast)).error.isEmpty());
        QVERIFY(lg::image::loadedDigest(QByteArray("not a module").repeated(20)).sha256.isEmpty());
        QVERIFY(lg::image::loadedDigest(QByteArray()).sha256.isEmpty());
    }
};

LG_TEST(LoadedDigestTest)
#include "test_loadeddigest.moc"
