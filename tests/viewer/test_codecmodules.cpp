// The codec modules: a folder of common pictures maps none of the heavy
// libraries, each heavy format opens its own module when first needed (once,
// whichever threads ask, without waiting for another module), and a module
// that cannot be loaded leaves its files unread, with one line in the log and
// one notice in the window, instead of failing the program. Where modules are
// found and which are trusted is tried on a small program that loads them as
// the program does (helper/moduleshelper.cpp), installed in folders of the
// test's own, updated while it runs, given damaged or foreign modules, and
// installed by cmake as a package would be.
#include "controls/ClickViews.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/ModuleNotice.h"
#include "platform/image/Decoders.h"
#include "platform/image/ImageSource.h"
#include "platform/image/ModuleInterfaces.h"
#include "platform/modules/Modules.h"
#include "platform/image/VideoInfo.h"
#include "platform/runtime/Background.h"
#include "tests/support/ElfSections.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "viewer/VideoPlayer.h"

#include "ModuleBuild.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QtTest>

#include <cstring>
#include <optional>

#include <elf.h>
#include <grp.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lg::test;
using namespace lg::test::fixtures;
using lg::image::Module;

namespace {

const QStringList heavyLibraries = {QStringLiteral("libMagick"), QStringLiteral("libraw"), QStringLiteral("libheif"),
                                    QStringLiteral("libavformat"), QStringLiteral("libavcodec"),
                                    QStringLiteral("libffmpegthumbnailer"), QStringLiteral("libQt6Multimedia")};

// The heavy libraries this process has mapped.
QStringList mappedHeavyLibraries()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("(no /proc/self/maps)")};
    const QString text = QString::fromLocal8Bit(maps.readAll());
    QStringList found;
    for (const QString &name : heavyLibraries)
        if (text.contains(QLatin1Char('/') + name))
            found << name;
    return found;
}

bool mapped(const QString &library)
{
    return mappedHeavyLibraries().contains(library);
}

// Warnings printed while it lives.
struct WarningLog
{
    WarningLog()
    {
        lines().clear();
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtWarningMsg)
                lines() << text;
        });
    }
    ~WarningLog() { qInstallMessageHandler(previous); }
    static QStringList &lines()
    {
        static QStringList list;
        return list;
    }
    QtMessageHandler previous = nullptr;
};

const QString realModules = QStringLiteral(LG_REAL_MODULES);

QString stubModule(const char *variant)
{
    return QStringLiteral(LG_STUB_MODULES "/%1/lumengallery_heif.so").arg(QLatin1String(variant));
}

// The stand-in modules the helper takes as this build's.
QStringList acceptedStubs()
{
    return {stubModule("good"), stubModule("missingsymbol")};
}

bool copyFile(const QString &from, const QString &to, QFile::Permissions permissions = QFile::Permissions(0x7755))
{
    QFile::remove(to);
    return QFile::copy(from, to) && QFile::setPermissions(to, permissions);
}

// Renames a new file over path, as a package manager replaces a file.
bool replaceByRename(const QString &from, const QString &path)
{
    const QString next = path + QStringLiteral(".dpkg-new");
    return copyFile(from, next) && ::rename(QFile::encodeName(next).constData(), QFile::encodeName(path).constData()) == 0;
}

bool makeFolder(const QString &path, mode_t mode = 0755)
{
    return QDir().mkpath(path) && ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

// The helper program installed as the program is: <root>/bin and
// <root>/lib/lumengallery, with heif (empty: none) as its HEIC module.
QString installHelper(const QString &root, const QString &heif, const QString &bin = QStringLiteral("bin"))
{
    const QString program = QDir(root).filePath(bin + QStringLiteral("/moduleshelper"));
    const QString modules = QDir(root).filePath(QStringLiteral("lib/lumengallery"));
    if (!makeFolder(QFileInfo(program).path()) || !makeFolder(modules) || !copyFile(QStringLiteral(LG_MODULES_HELPER), program))
        return {};
    if (!heif.isEmpty() && !copyFile(heif, QDir(modules).filePath(QStringLiteral("lumengallery_heif.so"))))
        return {};
    return program;
}

struct Helper
{
    QProcess process;

    // A stand-in module whose code runs creates marker (empty: none).
    bool start(const QString &program, const QString &workingFolder, const QString &marker = QString())
    {
        process.setWorkingDirectory(workingFolder);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!marker.isEmpty())
            environment.insert(QStringLiteral("LG_STUB_MARKER"), marker);
        process.setProcessEnvironment(environment);
        process.start(program, acceptedStubs());
        return process.waitForStarted(30000) && answer().isEmpty();
    }
    // The lines before "done" (or "ready"); a last line says when it ended instead.
    QStringList answer()
    {
        QStringList lines;
        while (true) {
            while (!process.canReadLine()) {
                if (!process.waitForReadyRead(60000)) {
                    process.waitForFinished(1000);
                    return lines << QStringLiteral("(ended: exit %1, %2)")
                                        .arg(process.exitStatus() == QProcess::CrashExit ? QStringLiteral("crashed")
                                                                                           : QString::number(process.exitCode()),
                                             QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
                }
            }
            const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
            if (line == QLatin1String("done") || line == QLatin1String("ready"))
                return lines;
            lines << line;
        }
    }
    QStringList ask(const QString &command)
    {
        process.write((command + QLatin1Char('\n')).toLocal8Bit());
        return answer();
    }
    ~Helper()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished(10000);
    }
};

QString joined(const QStringList &lines)
{
    return lines.join(QLatin1Char('\n'));
}

// The lines about the HEIC module but those of the log: a first refusal has
// the other modules checked too, and the helper's folders hold no other.
QStringList heifLines(const QStringList &lines)
{
    QStringList heif;
    for (const QString &line : lines)
        if ((!line.startsWith(QLatin1String("problem ")) || line.startsWith(QLatin1String("problem HEIC")))
            && !line.startsWith(QLatin1String("log ")))
            heif << line;
    return heif;
}

// The lines of the log among lines.
QStringList logLines(const QStringList &lines)
{
    QStringList log;
    for (const QString &line : lines)
        if (line.startsWith(QLatin1String("log ")))
            log << line;
    return log;
}



// Damages the module file at path as a bad disk or a bad download would, its
// layout intact: zeros over the start of its code or its dynamic section, or
// its string table pointed far outside it.
bool damageModule(const QString &path, const QString &how)
{
    QByteArray bytes = readAll(path);
    if (how == QLatin1String("zero code")) {
        const auto text = sectionOf(bytes, ".text");
        if (!text)
            return false;
        std::memset(bytes.data() + text->first, 0, size_t(std::min<qint64>(4096, text->second)));
    } else if (how == QLatin1String("zero dynamic")) {
        const auto dynamic = sectionOf(bytes, ".dynamic");
        if (!dynamic)
            return false;
        std::memset(bytes.data() + dynamic->first, 0, size_t(dynamic->second));
    } else if (how == QLatin1String("string table elsewhere")) {
        const auto dynamic = sectionOf(bytes, ".dynamic");
        if (!dynamic)
            return false;
        bool moved = false;
        for (qint64 at = dynamic->first; at + qint64(sizeof(ElfW(Dyn))) <= dynamic->first + dynamic->second;
             at += sizeof(ElfW(Dyn))) {
            ElfW(Dyn) entry;
            std::memcpy(&entry, bytes.constData() + at, sizeof entry);
            if (entry.d_tag == DT_STRTAB) {
                entry.d_un.d_ptr = 0x7ffffff0;
                std::memcpy(bytes.data() + at, &entry, sizeof entry);
                moved = true;
            }
        }
        if (!moved)
            return false;
    } else if (how == QLatin1String("note cut") || how == QLatin1String("note damaged")) {
        // The build note: 12 bytes of sizes and type, the name, the identifier.
        const auto note = sectionOf(bytes, ".note.lumengallery");
        if (!note)
            return false;
        if (how == QLatin1String("note cut")) {
            const std::uint32_t runsOut = 0x10000;
            std::memcpy(bytes.data() + note->first + 4, &runsOut, sizeof runsOut);
        } else {
            const qsizetype plus = bytes.indexOf('+', note->first + 12);
            if (plus < 0 || plus >= note->first + note->second)
                return false;
            bytes[plus] = '\x01';
        }
    } else {
        return false;
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

class CodecModulesTest : public QObject
{
    Q_OBJECT

private:
    QString m_folder;
    QString m_heic;
    QString m_dng;
    QString m_video;

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = freshFolder(QStringLiteral("modules"));
        if (hasTool(QStringLiteral("heif-enc")))
            m_heic = writeHeic(QDir(m_folder).filePath(QStringLiteral("p.heic")), quadrants(QSize(64, 48)));
        DngSpec spec;
        spec.picture = quadrants(QSize(60, 40));
        spec.previewSize = QSize(30, 20);
        const QString preview = writeJpeg(QDir(m_folder).filePath(QStringLiteral("preview.jpg")),
                                          spec.picture.scaled(spec.previewSize));
        spec.previewJpeg = readAll(preview);
        m_dng = writeDng(QDir(m_folder).filePath(QStringLiteral("r.dng")), spec);
        m_video = writeVideo(QDir(m_folder).filePath(QStringLiteral("v.mp4")), QStringLiteral("color=c=red:s=64x48:d=1"),
                             {QStringLiteral("-c:v"), QStringLiteral("mpeg4")});
    }

    // Runs first: nothing before it has needed a module.
    void commonPicturesLoadNoModule()
    {
        const QString jpeg = writeJpeg(QDir(m_folder).filePath(QStringLiteral("a.jpg")), quadrants(QSize(64, 48)), 6);
        const QString png = writeQtImage(QDir(m_folder).filePath(QStringLiteral("b.png")), quadrants(QSize(64, 48)));
        const QString bmp = writeQtImage(QDir(m_folder).filePath(QStringLiteral("c.bmp")), quadrants(QSize(64, 48)));
        for (const QString &path : {jpeg, png, bmp}) {
            const lg::ImageSource source(path);
            QVERIFY2(source.isValid(), qPrintable(path));
            QVERIFY(source.thumbnail(32));
            QVERIFY(source.pixelSize());
            source.properties();
        }
        for (Module module : {Module::Heif, Module::Raw, Module::Magick, Module::Video, Module::Player})
            QVERIFY2(!lg::image::moduleLoaded(module), qPrintable(lg::image::moduleFileName(module)));
        QCOMPARE(mappedHeavyLibraries(), QStringList());
    }

    void eachHeavyFormatLoadsItsOwnModule()
    {
        if (m_heic.isEmpty())
            QSKIP("heif-enc is not installed");
        const lg::ImageSource heic(m_heic);
        QCOMPARE(heic.thumbnail(32)->size(), QSize(32, 24));
        QVERIFY(lg::image::moduleLoaded(Module::Heif) && mapped(QStringLiteral("libheif")));
        QVERIFY(!lg::image::moduleLoaded(Module::Magick) && !mapped(QStringLiteral("libMagick")));

        QVERIFY(!m_dng.isEmpty());
        const lg::ImageSource raw(m_dng);
        QCOMPARE(raw.thumbnail(20)->size(), QSize(20, 13));   // from the embedded preview, through our JPEG path
        QCOMPARE(raw.image()->size(), QSize(60, 40));          // developed
        QVERIFY(lg::image::moduleLoaded(Module::Raw) && mapped(QStringLiteral("libraw")));

        if (m_video.isEmpty())
            QSKIP("ffmpeg is not installed");
        QCOMPARE(lg::VideoInfo::probe(m_video)->size, QSize(64, 48));
        QVERIFY(lg::image::moduleLoaded(Module::Video) && mapped(QStringLiteral("libavformat")));
        // The player is the viewer's alone.
        QVERIFY(!lg::image::moduleLoaded(Module::Player) && !mapped(QStringLiteral("libQt6Multimedia")));
    }

    void threadsAskingAtOnceShareOneLoad()
    {
        if (m_heic.isEmpty())
            QSKIP("heif-enc is not installed");
        lg::image::setModuleFoldersForTesting({});   // forgotten: the next ask loads again
        QVERIFY(!lg::image::moduleLoaded(Module::Heif));
        const QByteArray bytes = readAll(m_heic);
        WarningLog log;
        const QList<QSize> sizes = lg::mapped(QList<int>(16, 0), [bytes](int) {
            const std::optional<QImage> image = lg::ImageSource::fromData(bytes).thumbnail(16);
            return image ? image->size() : QSize();
        });
        QCOMPARE(sizes, QList<QSize>(16, QSize(16, 12)));
        QCOMPARE(log.lines(), QStringList());
        QVERIFY(lg::image::moduleLoaded(Module::Heif));
    }

    void aModuleThatCannotBeLoadedLeavesItsFilesUnread_data()
    {
        QTest::addColumn<QByteArray>("moduleContent");   // empty: no module file at all
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QByteArray() << QStringLiteral("is not in");
        QTest::newRow("damaged") << QByteArray("not a shared object\n").repeated(50) << QString();
    }

    void aModuleThatCannotBeLoadedLeavesItsFilesUnread()
    {
        QFETCH(QByteArray, moduleContent);
        QFETCH(QString, reason);
        const QString folder = freshFolder(QStringLiteral("no-modules-") + QString::fromLatin1(QTest::currentDataTag()));
        if (!moduleContent.isEmpty())
            for (Module module : {Module::Heif, Module::Raw, Module::Magick, Module::Video, Module::Player})
                writeFile(QDir(folder).filePath(lg::image::moduleFileName(module)), moduleContent);
        lg::image::setModuleFoldersForTesting({folder});
        const auto restore = qScopeGuard([] { lg::image::setModuleFoldersForTesting({}); });
        WarningLog log;

        if (!m_heic.isEmpty()) {
            const lg::ImageSource heic(m_heic);
            QVERIFY(!heic.thumbnail(32));
            QVERIFY(!heic.image());
            QVERIFY(!lg::ImageSource(m_heic).thumbnail(64));   // asked again: no second attempt
        }
        QVERIFY(!lg::ImageSource(m_dng).image());
        QString error;
        QVERIFY(!lg::image::encodeHeic(quadrants(QSize(8, 8)), 80, {}, {}, {}, &error));
        QVERIFY2(error.contains(QLatin1String("libheif")), qPrintable(error));
        QVERIFY(!lg::image::encodeWithMagick(quadrants(QSize(8, 8)), "TGA", -1, &error));
        QVERIFY2(error.contains(QLatin1String("ImageMagick")), qPrintable(error));
        if (!m_video.isEmpty()) {
            QVERIFY(!lg::VideoInfo::probe(m_video));
            QVERIFY(!lg::VideoInfo::firstFrame(m_video, 32));
        }
        QObject owner;
        QCOMPARE(VideoPlayer::create(nullptr, &owner), nullptr);
        myplayerview view;
        QCOMPARE(view.videoView(), nullptr);

        // One line for each module, saying which library and why.
        QStringList libraries;
        for (const QString &line : log.lines()) {
            const QRegularExpressionMatch match =
                QRegularExpression(QStringLiteral("^Cannot load the (.+) module, so files that need \\1 are not read: ")).match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            QVERIFY2(line.contains(reason), qPrintable(line));
            libraries << match.captured(1);
        }
        libraries.sort();
        // The first refusal has every module checked: FFmpeg's too, video or not.
        QStringList expected = {QStringLiteral("FFmpeg"), QStringLiteral("ImageMagick"), QStringLiteral("LibRaw"),
                                QStringLiteral("Qt Multimedia"), QStringLiteral("libheif")};
        expected.sort();
        QCOMPARE(libraries, expected);

        // Once the modules can be found, the same files read again.
        lg::image::setModuleFoldersForTesting({});
        QVERIFY(lg::ImageSource(m_dng).image());
        if (!m_video.isEmpty())
            QVERIFY(lg::VideoInfo::probe(m_video));
    }

    // A package manager renames the new program and modules over the old ones
    // while the program runs, from a terminal in a card's folder that holds a
    // planted module, as does that folder's ../lib/lumengallery.
    void anUpdateWhileRunningChangesNoModuleLoaded()
    {
        if (m_heic.isEmpty())
            QSKIP("heif-enc is not installed");
        const QString root = freshFolder(QStringLiteral("update"));
        const QString program = installHelper(root, realModules + QStringLiteral("/lumengallery_heif.so"));
        QVERIFY(!program.isEmpty());
        const QString card = QDir(root).filePath(QStringLiteral("card"));
        QVERIFY(makeFolder(card + QStringLiteral("/DCIM")) && makeFolder(card + QStringLiteral("/lib/lumengallery")));
        QVERIFY(copyFile(stubModule("good"), card + QStringLiteral("/DCIM/lumengallery_heif.so")));
        QVERIFY(copyFile(stubModule("good"), card + QStringLiteral("/lib/lumengallery/lumengallery_heif.so")));
        Helper helper;
        QVERIFY(helper.start(program, card + QStringLiteral("/DCIM")));

        QVERIFY(replaceByRename(QStringLiteral(LG_MODULES_HELPER), program));
        QVERIFY(replaceByRename(stubModule("otherbuild"), root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so")));

        // The module of the program's own build, read through the handle held
        // since start (and loaded from a sealed copy of what was read, where
        // the system has them).
        QCOMPARE(joined(helper.ask(QStringLiteral("heif ") + m_heic)), QStringLiteral("heif 64x48"));
        const QStringList mapped = helper.ask(QStringLiteral("maps"));
        QVERIFY(!mapped.isEmpty());
        for (const QString &line : mapped)
            QVERIFY2(line.startsWith(QLatin1String("mapped ") + root + QLatin1String("/lib/lumengallery/lumengallery_heif.so"))
                         || line.startsWith(QLatin1String("mapped /memfd:lumengallery_heif.so")),
                     qPrintable(line));
    }

    // An install that writes over the module file in place (as cmake's does)
    // while the program runs changes the very file the program holds open:
    // what it then reads is not the build's, and is refused, not run.
    void aModuleRewrittenInPlaceWhileRunningIsNotRun()
    {
        const QString root = freshFolder(QStringLiteral("in-place"));
        const QString program = installHelper(root, realModules + QStringLiteral("/lumengallery_heif.so"));
        QVERIFY(!program.isEmpty());
        Helper helper;
        QVERIFY(helper.start(program, root));
        QVERIFY(damageModule(root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so"), QStringLiteral("zero code")));

        const QStringList lines = heifLines(helper.ask(QStringLiteral("heif ") + program));
        QVERIFY2(lines.size() == 2, qPrintable(joined(lines)));
        QVERIFY2(lines[0].contains(QLatin1String("The HEIC module of this version is damaged.")), qPrintable(lines[0]));
        QVERIFY2(lines[1].contains(QLatin1String("what it loads is not what this build made")), qPrintable(lines[1]));
        QCOMPARE(helper.ask(QStringLiteral("maps")), QStringList());
    }

    // A module written over in place after its bytes were checked and before
    // they are loaded: what is loaded is what was checked.
    void aModuleWrittenOverBetweenItsCheckAndItsLoadIsLoadedAsChecked()
    {
        const QString root = freshFolder(QStringLiteral("swapped"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        Helper helper;
        QVERIFY(helper.start(program, root));
        const QString installed = root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so");
        QCOMPARE(helper.ask(QStringLiteral("swap ") + stubModule("foreign") + QLatin1Char('\t') + installed),
                 QStringList{QStringLiteral("swap set")});

        // The foreign stand-in answers 1234x5; this build's answers 4321x1.
        QCOMPARE(joined(heifLines(helper.ask(QStringLiteral("heif ") + program))), QStringLiteral("heif 4321x1"));
    }

    // The module was not there when the program started; the update brings
    // one of its own build, which this program cannot use: it asks for a restart.
    void anUpdateAsksForARestartWhenItsModuleCannotBeReached()
    {
        const QString root = freshFolder(QStringLiteral("restart"));
        const QString program = installHelper(root, QString());
        QVERIFY(!program.isEmpty());
        Helper helper;
        QVERIFY(helper.start(program, root));
        QVERIFY(replaceByRename(QStringLiteral(LG_MODULES_HELPER), program));
        QVERIFY(replaceByRename(stubModule("otherbuild"), root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so")));

        const QStringList lines = heifLines(helper.ask(QStringLiteral("heif ") + program));
        QVERIFY2(lines.size() == 2, qPrintable(joined(lines)));
        QCOMPARE(lines[0], QStringLiteral("problem HEIC and AVIF pictures cannot be shown | Lumen Gallery was updated while "
                                          "it was running, and the HEIC module of the running version can no longer be "
                                          "used. Restart Lumen Gallery to show them."));
        QVERIFY2(lines[1].startsWith(QLatin1String("heif none: ")), qPrintable(lines[1]));
    }

    // A module that would end the program, or run in a program of another
    // build, or is not the file this build made whatever its note says, is
    // refused before any of its code runs (its constructor included); the
    // program goes on.
    void aModuleThatCannotBeTrustedIsRefusedBeforeItRuns_data()
    {
        QTest::addColumn<QString>("module");
        QTest::addColumn<QString>("shape");      // how it is put or changed in the folder
        QTest::addColumn<qint64>("keptBytes");   // -1: all
        QTest::addColumn<QString>("logged");     // in the reason; empty: loaded
        QTest::addColumn<QString>("told");
        const QString real = realModules + QStringLiteral("/lumengallery_heif.so");
        const QString damaged = QStringLiteral("The HEIC module of this version is damaged.");
        const QString notMade = QStringLiteral(" is damaged: what it loads is not what this build made");
        QTest::newRow("cut to half") << real << QString() << QFileInfo(real).size() / 2 << QStringLiteral(" is damaged: ")
                                     << damaged;
        QTest::newRow("cut after its header") << real << QString() << qint64(200) << QStringLiteral(" is damaged: ")
                                              << damaged;
        QTest::newRow("4 KB of zeros in its code") << real << QStringLiteral("zero code") << qint64(-1) << notMade
                                                   << damaged;
        QTest::newRow("its dynamic section zeroed") << real << QStringLiteral("zero dynamic") << qint64(-1) << notMade
                                                    << damaged;
        QTest::newRow("its string table pointed outside it") << real << QStringLiteral("string table elsewhere")
                                                             << qint64(-1) << notMade << damaged;
        QTest::newRow("a foreign file with this build's note") << stubModule("foreign") << QString() << qint64(-1)
                                                               << notMade << damaged;
        QTest::newRow("a symbol missing") << stubModule("missingsymbol") << QString() << qint64(-1)
                                          << QStringLiteral("undefined symbol: lumengallery_function_nobody_defines")
                                          << QStringLiteral("a library it needs is missing");
        QTest::newRow("a FIFO") << QString() << QStringLiteral("fifo") << qint64(-1)
                                << QStringLiteral("lumengallery_heif.so is not a file") << damaged;
        QTest::newRow("another build") << stubModule("otherbuild") << QString() << qint64(-1)
                                       << QStringLiteral(" is of build 0.9.0+0123456789abcdef, this program of build " LG_MODULE_BUILD_ID)
                                       << QStringLiteral("belongs to another version of Lumen Gallery.");
        QTest::newRow("a link out of its folder") << stubModule("good") << QStringLiteral("link out") << qint64(-1)
                                                  << QStringLiteral(", outside the module folder")
                                                  << QStringLiteral("The HEIC module is a link to a file outside its folder, so it is not used.");
        QTest::newRow("a link to a link out of its folder") << stubModule("good") << QStringLiteral("link twice")
                                                           << qint64(-1) << QStringLiteral(", outside the module folder")
                                                           << QStringLiteral("is a link to a file outside its folder");
        QTest::newRow("a link loop") << stubModule("good") << QStringLiteral("link loop") << qint64(-1)
                                     << QStringLiteral("lumengallery_heif.so is a link that leads round in a loop")
                                     << QStringLiteral("The HEIC module is a link that leads round in a loop, so it is not used.");
        QTest::newRow("its build note cut short") << stubModule("good") << QStringLiteral("note cut") << qint64(-1)
                                                  << QStringLiteral(" is damaged: its build note is cut short or damaged")
                                                  << damaged;
        QTest::newRow("its build note damaged") << stubModule("good") << QStringLiteral("note damaged") << qint64(-1)
                                                << QStringLiteral(" is damaged: its build note is cut short or damaged")
                                                << damaged;
        QTest::newRow("larger than any the build makes") << stubModule("good") << QString() << (qint64(512) << 20)
                                                         << QStringLiteral("larger than any module this build makes")
                                                         << damaged;
        QTest::newRow("of this build") << stubModule("good") << QString() << qint64(-1) << QString() << QString();
        QTest::newRow("a link within its folder") << stubModule("good") << QStringLiteral("link within") << qint64(-1)
                                                  << QString() << QString();
    }

    void aModuleThatCannotBeTrustedIsRefusedBeforeItRuns()
    {
        QFETCH(QString, module);
        QFETCH(QString, shape);
        QFETCH(qint64, keptBytes);
        QFETCH(QString, logged);
        QFETCH(QString, told);
        const QString root = freshFolder(QStringLiteral("refused"));
        const QString program = installHelper(root, module);
        QVERIFY(!program.isEmpty());
        const QString folder = root + QStringLiteral("/lib/lumengallery");
        const QString installed = folder + QStringLiteral("/lumengallery_heif.so");
        const QByteArray installedBytes = QFile::encodeName(installed);
        if (shape == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(installedBytes.constData(), 0644), 0);
        if (shape.startsWith(QLatin1String("zero ")) || shape == QLatin1String("string table elsewhere"))
            QVERIFY(damageModule(installed, shape));
        if (shape.startsWith(QLatin1String("note ")))
            QVERIFY(damageModule(installed, shape));
        if (shape == QLatin1String("link loop")) {
            QVERIFY(QFile::remove(installed));
            QCOMPARE(::symlink("loop.so", installedBytes.constData()), 0);
            QCOMPARE(::symlink("lumengallery_heif.so", QFile::encodeName(folder + QStringLiteral("/loop.so")).constData()), 0);
        } else if (shape.startsWith(QLatin1String("link"))) {
            // The module itself moves, and a link takes its place.
            const QString elsewhere = shape == QLatin1String("link within") ? folder : root + QStringLiteral("/elsewhere");
            QVERIFY(makeFolder(elsewhere));
            const QString target = elsewhere + QStringLiteral("/lumengallery_heif.so.1");
            QVERIFY(QFile::rename(installed, target));
            if (shape == QLatin1String("link twice")) {
                QCOMPARE(::symlink("../../elsewhere/lumengallery_heif.so.1",
                                   QFile::encodeName(folder + QStringLiteral("/lumengallery_heif.so.1")).constData()), 0);
                QCOMPARE(::symlink("lumengallery_heif.so.1", installedBytes.constData()), 0);
            } else {
                const QString text = shape == QLatin1String("link within") ? QStringLiteral("lumengallery_heif.so.1") : target;
                QCOMPARE(::symlink(QFile::encodeName(text).constData(), installedBytes.constData()), 0);
            }
        }
        if (keptBytes >= 0)
            QVERIFY(QFile::resize(installed, keptBytes));
        const QString marker = root + QStringLiteral("/its code ran");
        Helper helper;
        QVERIFY(helper.start(program, root, marker));

        const QStringList answer = helper.ask(QStringLiteral("heif ") + program);
        const QStringList lines = heifLines(answer);
        // A load that fails here is a refusal, never a reason to load another way.
        for (const QString &line : logLines(answer))
            QVERIFY2(!line.contains(QLatin1String("memory files")), qPrintable(line));
        if (logged.isEmpty()) {
            QCOMPARE(joined(lines), QStringLiteral("heif 4321x1"));
            QVERIFY(QFileInfo::exists(marker));
            return;
        }
        QVERIFY2(lines.size() == 2, qPrintable(joined(lines)));
        QVERIFY2(lines[0].startsWith(QLatin1String("problem HEIC and AVIF pictures cannot be shown | ")) && lines[0].contains(told),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].startsWith(QLatin1String("heif none: ")) && lines[1].contains(logged), qPrintable(lines[1]));
        QVERIFY2(!QFileInfo::exists(marker), "the refused module's code ran");
        // Still running, and asked again, it does not try again.
        QCOMPARE(joined(helper.ask(QStringLiteral("heif ") + program)), lines[1]);
    }

    // Modules in a folder that users other than root and ours may change are
    // never used: a build folder made in a shared one, like "cmake -B /tmp/build".
    void foldersOthersMayChangeAreNotSearched_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<QString>("refused");   // in the reason; empty: loaded
        QTest::newRow("own folders") << QStringLiteral("own") << QString();
        QTest::newRow("build folder in a shared folder") << QStringLiteral("shared parent")
                                                         << QStringLiteral("/shared may be changed by other users");
        QTest::newRow("module folder writable by a group of others") << QStringLiteral("group folder")
                                                                     << QStringLiteral("/lib/lumengallery may be changed by other users");
        QTest::newRow("module file others may write") << QStringLiteral("open file")
                                                      << QStringLiteral("lumengallery_heif.so may be changed by other users");
        QTest::newRow("module folder a link into a shared one") << QStringLiteral("link")
                                                                << QStringLiteral("/open may be changed by other users");
        QTest::newRow("another user's folder in a sticky one") << QStringLiteral("sticky")
                                                               << QStringLiteral("/lib/lumengallery belongs to another user");
    }

    void foldersOthersMayChangeAreNotSearched()
    {
        QFETCH(QString, shape);
        QFETCH(QString, refused);
        QString root = freshFolder(QStringLiteral("shared"));
        QVERIFY(makeFolder(root));
        QString bin = QStringLiteral("bin");
        if (shape == QLatin1String("shared parent") || shape == QLatin1String("sticky")) {
            if (shape == QLatin1String("sticky") && geteuid() != 0)
                QSKIP("only root gives a folder to another user");
            root += QStringLiteral("/shared");
            QVERIFY(makeFolder(root, shape == QLatin1String("sticky") ? 01777 : 0777));
            bin = QStringLiteral("build");
        }
        const QString program = installHelper(root, stubModule("good"), bin);
        QVERIFY(!program.isEmpty());
        const QByteArray modules = QFile::encodeName(root + QStringLiteral("/lib/lumengallery"));
        if (shape == QLatin1String("group folder")) {
            // nogroup: the primary group of nobody and of system users.
            if (geteuid() != 0)
                QSKIP("only root gives a folder to another group");
            QCOMPARE(::chown(modules.constData(), geteuid(), 65534), 0);
            QCOMPARE(::chmod(modules.constData(), 0775), 0);
        }
        if (shape == QLatin1String("open file"))
            QCOMPARE(::chmod((modules + "/lumengallery_heif.so").constData(), 0666), 0);
        if (shape == QLatin1String("link")) {
            // lib -> open/lib, where open is writable by all and open/lib is not.
            const QString open = root + QStringLiteral("/open");
            QVERIFY(makeFolder(open, 0777));
            QVERIFY(QFile::rename(root + QStringLiteral("/lib"), open + QStringLiteral("/lib")));
            QVERIFY(QFile::link(open + QStringLiteral("/lib"), root + QStringLiteral("/lib")));
        }
        if (shape == QLatin1String("sticky")) {
            for (const QByteArray &path : {QFile::encodeName(root + QStringLiteral("/lib")), modules, modules + "/lumengallery_heif.so"})
                QCOMPARE(::chown(path.constData(), 65534, 65534), 0);
        }
        Helper helper;
        QVERIFY(helper.start(program, root));
        const QStringList lines = heifLines(helper.ask(QStringLiteral("heif ") + program));
        if (refused.isEmpty()) {
            QCOMPARE(joined(lines), QStringLiteral("heif 4321x1"));
            return;
        }
        QVERIFY2(lines.size() == 2, qPrintable(joined(lines)));
        QVERIFY2(lines[0].contains(QLatin1String("The HEIC module, or the folder it is in, may be changed by other users, so it is not used.")),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].startsWith(QLatin1String("heif none: ")) && lines[1].contains(refused), qPrintable(lines[1]));
    }

    // A folder its group may change is trusted when nobody but its owner is
    // in that group (a user-private group, or root's on an install made with
    // umask 002), as OpenSSH rules for its own files; never when the group is
    // unknown, holds nobody (programs set to run as it write with it) or
    // holds another user, by name or as the user's primary group.
    void aFolderOnlyItsOwnersGroupMayChangeIsTrusted_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("known");           // the group
        QTest::addColumn<QList<uint>>("members");  // 0: its owner, else another user
        QTest::addColumn<bool>("trusted");
        QTest::newRow("its owner's group alone") << 0775 << true << QList<uint> {0} << true;
        QTest::newRow("its owner, by name and as primary") << 0775 << true << QList<uint> {0, 0} << true;
        QTest::newRow("another member") << 0775 << true << QList<uint> {0, 4242} << false;
        QTest::newRow("another user's group alone") << 0775 << true << QList<uint> {4242} << false;
        QTest::newRow("a group of nobody") << 0775 << true << QList<uint> {} << false;
        QTest::newRow("an unknown group") << 0775 << false << QList<uint> {} << false;
        QTest::newRow("writable by all") << 0777 << true << QList<uint> {0} << false;
        QTest::newRow("not group-writable") << 0755 << true << QList<uint> {0, 4242} << true;
    }

    void aFolderOnlyItsOwnersGroupMayChangeIsTrusted()
    {
        QFETCH(int, mode);
        QFETCH(bool, known);
        QFETCH(QList<uint>, members);
        QFETCH(bool, trusted);
        const QString folder = freshFolder(QStringLiteral("grouped")) + QStringLiteral("/lib/lumengallery");
        QVERIFY(makeFolder(folder, mode_t(mode)));
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
        QList<gid_t> asked;
        lg::image::setGroupMembersLookupForTesting([&](gid_t group) -> std::optional<std::vector<uid_t>> {
            asked << group;
            if (!known)
                return std::nullopt;
            std::vector<uid_t> users;
            for (const uint member : std::as_const(members))
                users.push_back(member == 0 ? st.st_uid : uid_t(member));
            return users;
        });
        const auto restore = qScopeGuard([] { lg::image::setGroupMembersLookupForTesting({}); });
        const QString reason = lg::image::untrustedFolderReason(folder);
        if (trusted) {
            QCOMPARE(reason, QString());
        } else {
            QCOMPARE(reason, folder + QStringLiteral(" may be changed by other users"));
        }
        if (mode == 0775)
            QVERIFY(asked.contains(st.st_gid));
    }

    // What cmake installs loads, as the build made it or stripped: a package
    // installed with umask 002 (folders drwxrwxr-x, as on systems that give
    // each user a group of their own) shows HEIC, camera raw, PSD, JPEG 2000
    // and HDR pictures and reads and plays videos.
    void anInstalledCopyShowsEveryKind_data()
    {
        QTest::addColumn<bool>("stripped");
        QTest::newRow("as built") << false;
        QTest::newRow("cmake --install --strip") << true;
    }

    void anInstalledCopyShowsEveryKind()
    {
        QFETCH(bool, stripped);
        const QString prefix = freshFolder(QStringLiteral("installed")) + QStringLiteral("/usr");
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral("/bin/sh"),
                      {QStringLiteral("-c"),
                       QStringLiteral("umask 002 && exec \"$0\" --install \"$1\" --prefix \"$2\" ") + (stripped ? QStringLiteral("--strip") : QString()),
                       QStringLiteral(LG_CMAKE_COMMAND), QStringLiteral(LG_BUILD_TREE), prefix});
        QVERIFY(install.waitForFinished(240000));
        QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
                 install.readAll().constData());
        const QString modules = prefix + QStringLiteral("/lib/lumengallery");
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(modules).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0775);
        for (Module module : {Module::Heif, Module::Raw, Module::Magick, Module::Video, Module::Player}) {
            const QString name = lg::image::moduleFileName(module);
            const QByteArray installed = readAll(modules + QLatin1Char('/') + name);
            const QByteArray built = readAll(realModules + QLatin1Char('/') + name);
            if (stripped)
                QVERIFY2(installed.size() < built.size(), qPrintable(name + QStringLiteral(" was not stripped")));
            else
                QVERIFY2(installed == built, qPrintable(name + QStringLiteral(" was changed by the install")));
        }
        // Group root, or the user's own: on this machine nobody else may be in it.
        if (const struct group *group = ::getgrgid(st.st_gid); !group || group->gr_mem[0])
            QSKIP("the install's group has members here: the folders are rightly refused");

        const QString program = prefix + QStringLiteral("/bin/moduleshelper");
        QVERIFY(copyFile(QStringLiteral(LG_MODULES_HELPER), program));
        const QString pictures = freshFolder(QStringLiteral("kinds"));
        QStringList shown;
        for (const Fixture &fixture : imageFormatSet(pictures))
            if (QStringList {QStringLiteral("heic"), QStringLiteral("dng"), QStringLiteral("psd"), QStringLiteral("jp2"),
                             QStringLiteral("hdr")}.contains(fixture.name))
                shown << fixture.path;
        QVERIFY2(shown.size() >= 3, qPrintable(shown.join(QLatin1Char(' '))));
        Helper helper;
        QVERIFY(helper.start(program, prefix));
        for (const QString &picture : std::as_const(shown)) {
            const QString said = joined(helper.ask(QStringLiteral("show ") + picture));
            QVERIFY2(QRegularExpression(QStringLiteral("^show [1-9][0-9]*x[1-9][0-9]*$")).match(said).hasMatch(),
                     qPrintable(picture + QStringLiteral(": ") + said));
        }
        if (!m_video.isEmpty())
            QCOMPARE(joined(helper.ask(QStringLiteral("video ") + m_video)), QStringLiteral("video 64x48"));
        QCOMPARE(joined(helper.ask(QStringLiteral("player"))), QStringLiteral("player ready"));
        // Mapped from the installed files, or from sealed copies of what was
        // read from them.
        for (const QString &line : helper.ask(QStringLiteral("maps")))
            QVERIFY2(line.startsWith(QLatin1String("mapped ") + modules)
                         || line.startsWith(QLatin1String("mapped /memfd:lumengallery_")),
                     qPrintable(line));
    }

    // A module stripped or split as distributions do still loads: the
    // program knows it by what is loaded and run.
    void aStrippedModuleStillLoads_data()
    {
        QTest::addColumn<QStringList>("commands");   // run on the file MODULE, in order
        QTest::newRow("dh_strip") << QStringList {
            QStringLiteral("objcopy --only-keep-debug MODULE MODULE.debug"),
            QStringLiteral("strip --remove-section=.comment --remove-section=.note --strip-unneeded MODULE"),
            QStringLiteral("objcopy --add-gnu-debuglink=MODULE.debug MODULE")};
        QTest::newRow("strip --strip-all") << QStringList {QStringLiteral("strip --strip-all MODULE")};
    }

    void aStrippedModuleStillLoads()
    {
        QFETCH(QStringList, commands);
        if (m_heic.isEmpty())
            QSKIP("heif-enc is not installed");
        const QString root = freshFolder(QStringLiteral("stripped"));
        const QString program = installHelper(root, realModules + QStringLiteral("/lumengallery_heif.so"));
        QVERIFY(!program.isEmpty());
        const QString installed = root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so");
        for (const QString &command : std::as_const(commands)) {
            QStringList words = command.split(QLatin1Char(' '));
            for (QString &word : words)
                word.replace(QStringLiteral("MODULE"), installed);
            const QString tool = words.takeFirst();
            QString error;
            QVERIFY2(run(tool, words, &error), qPrintable(error));
        }
        QVERIFY(readAll(installed) != readAll(realModules + QStringLiteral("/lumengallery_heif.so")));
        Helper helper;
        QVERIFY(helper.start(program, root));
        QCOMPARE(joined(helper.ask(QStringLiteral("heif ") + m_heic)), QStringLiteral("heif 64x48"));
    }

    // The module is loaded by a name that another process, such as a
    // debugger or a profiler, can open while the program runs, and that holds
    // the bytes that were checked: never /proc/self/..., which names the
    // opener's own handles. Where the system refuses to run code from memory
    // files, that is a file copy in a folder only the user may change.
    void theLoadedModuleHasANameOthersCanOpen_data()
    {
        QTest::addColumn<bool>("memoryRefused");
        QTest::newRow("sealed memory copy") << false;
        QTest::newRow("memory files refused") << true;
    }

    void theLoadedModuleHasANameOthersCanOpen()
    {
        QFETCH(bool, memoryRefused);
        const QString root = freshFolder(QStringLiteral("named"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        Helper helper;
        QVERIFY(helper.start(program, root));
        if (memoryRefused)
            QCOMPARE(helper.ask(QStringLiteral("nomemexec")), QStringList {QStringLiteral("nomemexec set")});
        QCOMPARE(joined(heifLines(helper.ask(QStringLiteral("heif ") + program))), QStringLiteral("heif 4321x1"));
        const QStringList said = helper.ask(QStringLiteral("object"));
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0].startsWith(QLatin1String("object /")), qPrintable(said[0]));
        const QString name = said[0].mid(7);
        QVERIFY2(!name.startsWith(QLatin1String("/proc/self/")), qPrintable(name));
        QVERIFY2(name != root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so"), "the module file itself was loaded");
        // Opened here, in another process, as gdb and perf open it.
        QCOMPARE(readAll(name), readAll(stubModule("good")));
        if (memoryRefused) {
            struct stat st = {};
            QCOMPARE(::stat(QFile::encodeName(QFileInfo(name).path()).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 0777), 0700);
        } else {
            QVERIFY2(name.startsWith(QStringLiteral("/proc/%1/fd/").arg(helper.process.processId())), qPrintable(name));
        }
    }

    // Where the system refuses to run code from memory files, modules run from
    // copies of their files, which the log says once; bytes written over the
    // module file after its check still never run, and a module that cannot
    // be loaded from its copy is refused, never loaded another way.
    void whereMemoryFilesMayNotRunOnlyWhatWasCheckedRuns()
    {
        const QString root = freshFolder(QStringLiteral("no-memory-exec"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        const QString modules = root + QStringLiteral("/lib/lumengallery");
        const QString installed = modules + QStringLiteral("/lumengallery_heif.so");
        QVERIFY(copyFile(realModules + QStringLiteral("/lumengallery_raw.so"), modules + QStringLiteral("/lumengallery_raw.so")));
        Helper helper;
        QVERIFY(helper.start(program, root));
        QCOMPARE(helper.ask(QStringLiteral("nomemexec")), QStringList {QStringLiteral("nomemexec set")});
        QCOMPARE(helper.ask(QStringLiteral("swap ") + stubModule("foreign") + QLatin1Char('\t') + installed),
                 QStringList {QStringLiteral("swap set")});

        // The foreign stand-in answers 1234x5; the one checked 4321x1.
        const QStringList heif = helper.ask(QStringLiteral("heif ") + program);
        QCOMPARE(joined(heifLines(heif)), QStringLiteral("heif 4321x1"));
        QVERIFY(readAll(installed) == readAll(stubModule("foreign")));
        QStringList log = logLines(heif);
        QCOMPARE(log.size(), 1);
        QVERIFY2(log[0].contains(QLatin1String("does not run code from memory files: the codec modules run from copies "
                                               "of their files")),
                 qPrintable(log[0]));
        // Another module loads the same way, without a second word.
        QVERIFY(!m_dng.isEmpty());
        const QStringList raw = helper.ask(QStringLiteral("show ") + m_dng);
        QCOMPARE(joined(raw), QStringLiteral("show 60x40"));
        const QStringList maps = helper.ask(QStringLiteral("maps"));
        QVERIFY(!maps.isEmpty());
        for (const QString &line : maps)
            QVERIFY2(!line.contains(modules) && !line.contains(QLatin1String("/memfd:")), qPrintable(line));
    }

    void theModuleFolderIsTheProgramsOwn_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("buildFolder");
        QTest::addColumn<QString>("folder");
        QTest::newRow("build tree") << QStringLiteral("/home/ann/src/lg/build/lumengallery")
                                    << QStringLiteral("/home/ann/src/lg/build") << QStringLiteral("/home/ann/src/lg/build");
        QTest::newRow("build tree in /tmp") << QStringLiteral("/tmp/build/lumengallery") << QStringLiteral("/tmp/build/")
                                            << QStringLiteral("/tmp/build");
        QTest::newRow("installed") << QStringLiteral("/usr/bin/lumengallery") << QStringLiteral("/tmp/build")
                                   << QStringLiteral("/usr/lib/lumengallery");
        QTest::newRow("installed in /opt") << QStringLiteral("/opt/lg/bin/lumengallery") << QStringLiteral("/home/ann/build")
                                           << QStringLiteral("/opt/lg/lib/lumengallery");
    }

    void theModuleFolderIsTheProgramsOwn()
    {
        QFETCH(QString, executable);
        QFETCH(QString, buildFolder);
        QFETCH(QString, folder);
        QCOMPARE(lg::image::moduleFolderForProgram(executable, buildFolder), folder);
    }

    // The window says once which files cannot be shown, and why: every kind
    // refused at once in one alert that names each, however many modules are
    // asked for, in whatever order and on whatever threads.
    void theWindowSaysOnceWhatCannotBeShown_data()
    {
        QTest::addColumn<QStringList>("present");   // module files in the folder
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QStringList allButRaw;
        for (Module module : {Module::Heif, Module::Magick, Module::Video, Module::Player})
            allButRaw << lg::image::moduleFileName(module);
        QTest::newRow("one kind") << allButRaw << QStringLiteral("Camera raw pictures cannot be shown")
                                  << QStringLiteral("The camera raw module of this version is missing. Reinstalling Lumen Gallery may help.");
        QTest::newRow("every kind")
            << QStringList() << QStringLiteral("Some kinds of files cannot be shown")
            << QStringLiteral("HEIC and AVIF pictures cannot be shown. The HEIC module of this version is missing.\n\n"
                              "Camera raw pictures cannot be shown. The camera raw module of this version is missing.\n\n"
                              "PSD, JPEG 2000, HDR and other less common pictures cannot be shown. The ImageMagick module "
                              "of this version is missing.\n\n"
                              "Videos cannot be shown. The video module of this version is missing.\n\n"
                              "Videos cannot be played. The video player module of this version is missing.\n\n"
                              "Reinstalling Lumen Gallery may help.");
    }

    void theWindowSaysOnceWhatCannotBeShown()
    {
        QFETCH(QStringList, present);
        QFETCH(QString, title);
        QFETCH(QString, text);
        const QString folder = freshFolder(QStringLiteral("some-modules"));
        for (const QString &name : std::as_const(present))
            QVERIFY(copyFile(realModules + QLatin1Char('/') + name, folder + QLatin1Char('/') + name));
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::Alert::clearShownAlerts();
        QWidget window;
        lg::showModuleProblemsIn(&window);
        lg::image::setModuleFoldersForTesting({folder});
        const auto restore = qScopeGuard([] {
            lg::image::setModuleProblemHandler({});
            lg::image::setModuleFoldersForTesting({});
            lg::Alert::setResponder({});
        });

        QVERIFY(!lg::ImageSource(m_dng).image());
        QVERIFY(!lg::ImageSource(m_dng).thumbnail(20));
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        const lg::AlertSpec said = lg::Alert::shownAlerts().constFirst();
        QCOMPARE(said.title, title);
        QCOMPARE(said.text, text);

        // Asked again, for the other kinds, and from other threads: nothing more is said.
        QVERIFY(!lg::ImageSource(m_dng).image());
        lg::forEachChunk(4, 1, [this](qsizetype, qsizetype) { lg::ImageSource(m_dng).thumbnail(20); });
        lg::image::heifModule();
        lg::image::preloadModule(Module::Video);
        lg::image::preloadModule(Module::Player);
        lg::image::magickModule();
        QTRY_VERIFY(lg::image::moduleLoaded(Module::Player) || !lg::image::moduleError(Module::Player).isEmpty());
        QTRY_VERIFY(lg::image::moduleLoaded(Module::Video) || !lg::image::moduleError(Module::Video).isEmpty());
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
    }

    // A module refused while the alert about others is open is said once that
    // alert is gone, answered or closed without an answer (a reset), in an
    // alert of its own, never stacked on it.
    void aProblemFoundWhileTheAlertIsOpenWaitsForIt_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::newRow("answered") << true;
        QTest::newRow("closed without an answer") << false;
    }

    void aProblemFoundWhileTheAlertIsOpenWaitsForIt()
    {
        QFETCH(bool, answered);
        // The HEIC module needs a symbol nobody has: it passes every check and
        // fails only when it is loaded, after the other modules were refused.
        const QString folder = freshFolder(QStringLiteral("late-problem"));
        QVERIFY(copyFile(stubModule("missingsymbol"), folder + QStringLiteral("/lumengallery_heif.so")));
        lg::image::acceptModuleForTesting(QStringLiteral("lumengallery_heif.so"), readAll(stubModule("missingsymbol")));
        lg::Alert::setResponder({});
        QWidget window;
        window.show();
        lg::showModuleProblemsIn(&window);
        lg::image::setModuleFoldersForTesting({folder});
        const auto restore = qScopeGuard([] {
            lg::image::setModuleProblemHandler({});
            lg::image::setModuleFoldersForTesting({});
            lg::Alert::closeAll();
        });
        const auto openAlerts = [] {
            QList<QMessageBox *> boxes;
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                    boxes << box;
            return boxes;
        };

        QVERIFY(!lg::ImageSource(m_dng).image());
        QTRY_COMPARE(openAlerts().size(), 1);
        QCOMPARE(openAlerts().constFirst()->text(), QStringLiteral("Some kinds of files cannot be shown"));
        QVERIFY(!lg::image::heifModule());
        QVERIFY(lg::image::moduleError(Module::Heif).contains(QLatin1String("lumengallery_function_nobody_defines")));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(openAlerts().size(), 1);

        if (answered)
            openAlerts().constFirst()->buttons().constFirst()->click();
        else
            lg::Alert::closeAll();
        QTRY_COMPARE(openAlerts().size(), 1);
        QCOMPARE(openAlerts().constFirst()->text(), QStringLiteral("HEIC and AVIF pictures cannot be shown"));
        QTRY_COMPARE(lg::Alert::openCount(), 1);
    }

    // A module's load holds only that module: another loads meanwhile, and a
    // preload returns at once and loads on its own thread.
    void aLoadDoesNotWaitForAnotherModule()
    {
        lg::image::setModuleFoldersForTesting({});
        QSemaphore heifEntered;
        QSemaphore heifMayGoOn;
        lg::image::setModuleLoadHookForTesting([&](Module module) {
            if (module == Module::Heif) {
                heifEntered.release();
                heifMayGoOn.acquire();
            }
        });
        const auto restore = qScopeGuard([&] {
            heifMayGoOn.release(100);
            lg::image::setModuleLoadHookForTesting({});
        });
        QFuture<bool> heif = lg::runOnPool([] { return lg::image::heifModule() != nullptr; });
        QVERIFY(heifEntered.tryAcquire(1, 30000));

        QSemaphore rawLoaded;
        QFuture<void> raw = lg::runOnPool([&rawLoaded] {
            if (lg::image::rawModule())
                rawLoaded.release();
        });
        QVERIFY2(rawLoaded.tryAcquire(1, 30000), "the raw module waited for the HEIC module's load");
        lg::image::preloadModule(Module::Magick);
        lg::image::preloadModule(Module::Heif);   // being loaded: returns at once
        QTRY_VERIFY_WITH_TIMEOUT(lg::image::moduleLoaded(Module::Magick), 60000);
        QVERIFY(!lg::image::moduleLoaded(Module::Heif));

        heifMayGoOn.release();
        QVERIFY(heif.result());
        raw.waitForFinished();
        QVERIFY(lg::image::moduleLoaded(Module::Heif));
    }

    void theProgramLinksNoneOfTheHeavyLibraries()
    {
        QProcess ldd;
        ldd.start(QStringLiteral("ldd"), {QStringLiteral(LG_PROGRAM)});
        QVERIFY(ldd.waitForFinished(30000));
        const QString listed = QString::fromLocal8Bit(ldd.readAllStandardOutput());
        QVERIFY2(listed.contains(QLatin1String("libQt6Widgets")), qPrintable(listed));
        for (const QString &name : heavyLibraries)
            QVERIFY2(!listed.contains(name), qPrintable(name));
        // Nor libtiff (with the five libraries it needs), which only a TIFF
        // too large for Qt's readers needs: it is opened then, never at start.
        QVERIFY2(!listed.contains(QLatin1String("libtiff")), qPrintable(listed));
    }
};

LG_TEST(CodecModulesTest)
#include "test_codecmodules.moc"
