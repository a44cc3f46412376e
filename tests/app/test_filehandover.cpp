// Files handed over from outside: the types offered to the file manager,
// batching and unlisted files, the hub replacing the home screen, the wait for
// the busy overlay, the saved roots at quit, a second start handing its files
// to the running one, and a launch with a folder or a file shown at once.
#include "app/AppDelegate.h"
#include "app/Essentials.h"
#include "app/FileHandover.h"
#include "app/LaunchAtLogin.h"
#include "app/Startup.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "browser/thumbnailvc.h"
#include "model/FolderMonitor.h"
#include "platform/desktop/Paths.h"
#include "platform/desktop/Settings.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Timer.h"
#include "sidebar/sideMenuvc.h"
#include "viewer/viewimagevc.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/TestSupport.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLocalSocket>
#include <QMenuBar>
#include <QMimeDatabase>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QXmlStreamReader>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

const QString savedRoots = QStringLiteral("arrPaths");
using lg::test::settle;

// A delegate's two fields and the handover working on them.
struct Delegate
{
    QStringList openWithPath;
    lg::Timer *timerForOpenwith = nullptr;
    FileHandover handover{openWithPath, timerForOpenwith};
    QList<QStringList> batches;

    Delegate()
    {
        handover.handOver = [this](const QStringList &paths) { batches.append(paths); };
    }
};

// A later run (the welcome screen was passed) that checks for no updates and
// leaves the login items alone.
void laterRun()
{
    lg::Settings::setValue(firstRunKey, 1);
    lg::Settings::setValue(QStringLiteral("startstatus"), false);
    lg::Settings::setValue(QStringLiteral("autocheckforupdate"), 2);
}

QStringList topLevelTitles()
{
    QStringList titles;
    for (const BaseNode::Ptr &node : sidebarController()->contents())
        titles.append(node->nodeTitle());
    return titles;
}

QString socketIn(const QString &name)
{
    return lg::test::freshFolder(QStringLiteral("run")) + QLatin1Char('/') + name;
}

// A socket file that nobody listens on, as a crashed instance leaves it.
bool leaveStaleSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    std::strncpy(address.sun_path, encoded.constData(), sizeof address.sun_path - 1);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound && QFile::exists(path);
}

QByteArray sourceFile(const QString &relative)
{
    return lg::test::readAll(qEnvironmentVariable("LG_TEST_SOURCE_DIR") + QLatin1Char('/') + relative);
}

bool isMediaType(const QString &type)
{
    return type.startsWith(QLatin1String("image/")) || type.startsWith(QLatin1String("video/"));
}

// The extensions the program matches (in lower case, as it compares them).
QStringList matchedExtensions()
{
    QStringList extensions;
    for (const QString &extension : mediaExtensions)
        if (extension == extension.toLower())
            extensions.append(extension);
    return extensions;
}

// The image and video types that the installed MIME database gives the listed
// extensions, plus folders. Desktop packages (KDE's kde5.xml) add types here.
QSet<QString> installedTypesOfTheListedExtensions()
{
    const QMimeDatabase db;
    QSet<QString> types {QStringLiteral("inode/directory")};
    for (const QString &extension : matchedExtensions())
        for (const QMimeType &type : db.mimeTypesForFileName(QStringLiteral("x.") + extension))
            if (isMediaType(type.name()))
                types.insert(type.name());
    return types;
}

// The same from the base freedesktop.org database file alone, which every
// desktop has, matched as the database matches names: of the globs that fit,
// those of the highest weight, then of the longest pattern. Only folders when
// the file is missing.
QSet<QString> baseTypesOfTheListedExtensions()
{
    struct Glob { QString type; QRegularExpression pattern; int weight; qsizetype length; };
    QList<Glob> globs;
    QFile file(QStringLiteral("/usr/share/mime/packages/freedesktop.org.xml"));
    if (file.open(QIODevice::ReadOnly)) {
        QXmlStreamReader xml(&file);
        QString type;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QXmlStreamAttributes a = xml.attributes();
            if (xml.name() == QLatin1String("mime-type")) {
                type = a.value(QLatin1String("type")).toString();
            } else if (xml.name() == QLatin1String("glob") && isMediaType(type)) {
                const QString pattern = a.value(QLatin1String("pattern")).toString();
                const bool caseSensitive = a.value(QLatin1String("case-sensitive")) == QLatin1String("true");
                const int weight = a.hasAttribute(QLatin1String("weight")) ? a.value(QLatin1String("weight")).toInt() : 50;
                globs.append({type,
                              QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                                                 caseSensitive ? QRegularExpression::NoPatternOption
                                                               : QRegularExpression::CaseInsensitiveOption),
                              weight, pattern.size()});
            }
        }
    }
    QSet<QString> types {QStringLiteral("inode/directory")};
    for (const QString &extension : matchedExtensions()) {
        const QString name = QStringLiteral("x.") + extension;
        int bestWeight = -1;
        qsizetype bestLength = -1;
        QStringList best;
        for (const Glob &glob : std::as_const(globs)) {
            if (!glob.pattern.match(name).hasMatch())
                continue;
            if (glob.weight > bestWeight || (glob.weight == bestWeight && glob.length > bestLength)) {
                best.clear();
                bestWeight = glob.weight;
                bestLength = glob.length;
            } else if (glob.weight < bestWeight || glob.length < bestLength) {
                continue;
            }
            best.append(glob.type);
        }
        for (const QString &found : std::as_const(best))
            types.insert(found);
    }
    return types;
}

} // namespace

class TestFileHandover : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        lg::Settings::setValue(firstRunKey, 1);
        lg::Settings::remove(savedRoots);
    }
    void cleanup() { mainWindow()->hide(); }
    void cleanupTestCase() { resetSharedState(); }

    void filesWithinASecondMakeOneBatch()
    {
        lg::FakeClock clock;
        Delegate d;
        const QString folder = lg::test::freshFolder(QStringLiteral("opened"));
        const QString a = lg::test::writeFile(folder + QStringLiteral("/a.jpg"));
        const QString b = lg::test::writeFile(folder + QStringLiteral("/b.jpg"));
        const QString c = lg::test::writeFile(folder + QStringLiteral("/c.png"));
        const QString album = lg::test::freshFolder(QStringLiteral("album"));

        // The first hand-over shows at once.
        d.handover.application_openFiles({a}, true);
        QCOMPARE(d.batches, QList<QStringList>{{a}});
        QVERIFY(d.openWithPath.isEmpty());
        QCOMPARE(mainWindowNeverShown, 0);

        // Those within a second of the one before join it, and show with the
        // batch's earlier files once the second has passed; a folder is handed
        // over once.
        clock.advance(400);
        d.handover.application_openFiles({b, QStringLiteral("relative.jpg"), folder + QStringLiteral("/gone.jpg")}, true);
        clock.advance(900);
        d.handover.application_openFiles({album, c}, true);
        QCOMPARE(d.openWithPath, (QStringList{b, album, c}));
        clock.advance(FileHandover::batchDelayMs - 1);
        QCOMPARE(d.batches.size(), 1);
        clock.advance(1);

        QCOMPARE(d.batches.size(), 2);
        QCOMPARE(d.batches.last(), (QStringList{a, b, album, c}));
        QVERIFY(d.openWithPath.isEmpty());
        QVERIFY(!d.timerForOpenwith);
        QVERIFY(!openedFromFinder);   // the application was already running

        // A later file starts a batch of its own, at once; a second with nothing
        // joined shows nothing more.
        clock.advance(5000);
        d.handover.application_openFiles({b}, true);
        QCOMPARE(d.batches.size(), 3);
        QCOMPARE(d.batches.last(), QStringList{b});
        clock.advance(FileHandover::batchDelayMs);
        QCOMPARE(d.batches.size(), 3);
        QVERIFY(!d.timerForOpenwith);
    }

    void nothingOpensBeforeTheFirstRunIsOver()
    {
        lg::FakeClock clock;
        lg::Settings::remove(firstRunKey);
        Delegate d;
        const QString a = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("x")) + QStringLiteral("/a.jpg"));
        d.handover.application_openFiles({a}, false);
        clock.advance(5000);
        QVERIFY(d.openWithPath.isEmpty());
        QVERIFY(!d.timerForOpenwith);
        QVERIFY(d.batches.isEmpty());
        QVERIFY(!openedFromFinder);

        // Once passed, a file that started the application is flagged for the
        // home screen.
        lg::Settings::setValue(firstRunKey, 1);
        d.handover.application_openFiles({a}, false);
        QVERIFY(openedFromFinder);
        clock.advance(FileHandover::batchDelayMs);
        QCOMPARE(d.batches.size(), 1);
    }

    void theHubReplacesTheHomeScreenInTheLastStyle()
    {
        lg::FakeClock clock;
        Delegate d;
        mainWindow()->showhomevc();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenHome);
        selectedViewStyle = listStyle;
        const QString a = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("x")) + QStringLiteral("/a.jpg"));
        d.handover.application_openFiles({a}, true);
        clock.advance(FileHandover::batchDelayMs);

        QCOMPARE(ScreenMode(currentScreenMode), ScreenList);
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(contentHub()));
        QVERIFY(mainWindow()->isResizable());
        QVERIFY(mainWindow()->isVisible());
        QCOMPARE(d.batches.size(), 1);
    }

    void aBatchWaitsForTheBusyOverlayWithoutPolling()
    {
        lg::FakeClock clock;
        Delegate d;
        mainvc *hub = contentHub();
        mainWindow()->setContentViewController(hub);
        currentScreenMode = ScreenGrid;
        const QString a = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("x")) + QStringLiteral("/a.jpg"));

        hub->showBusyLoader();
        d.handover.application_openFiles({a}, true);
        clock.advance(FileHandover::batchDelayMs);
        settle();
        QVERIFY(d.batches.isEmpty());
        // Nothing of ours ticks while it waits.
        QVERIFY(!d.timerForOpenwith);
        for (lg::Timer *timer : d.handover.findChildren<lg::Timer *>())
            QVERIFY(!timer->isActive());

        // Hidden and shown again before the hand-over runs: it waits on.
        hub->hideBusyLoader();
        hub->showBusyLoader();
        settle();
        QVERIFY(d.batches.isEmpty());

        hub->hideBusyLoader();
        QVERIFY(d.batches.isEmpty());   // after hideBusyLoader has returned
        settle();
        QCOMPARE(d.batches.size(), 1);
        QCOMPARE(d.batches.first(), QStringList{a});
        hub->showBusyLoader();
        hub->hideBusyLoader();
        settle();
        QCOMPARE(d.batches.size(), 1);
    }

    void aBatchJoinedWhileTheHubIsBusyIsHandedOverOnce()
    {
        lg::FakeClock clock;
        Delegate d;
        mainvc *hub = contentHub();
        mainWindow()->setContentViewController(hub);
        currentScreenMode = ScreenGrid;
        const QString folder = lg::test::freshFolder(QStringLiteral("x"));
        const QString a = lg::test::writeFile(folder + QStringLiteral("/a.jpg"));
        const QString b = lg::test::writeFile(folder + QStringLiteral("/b.jpg"));
        const QString album = lg::test::freshFolder(QStringLiteral("album"));

        hub->showBusyLoader();
        d.handover.application_openFiles({album, a}, true);   // shown at once: it waits
        clock.advance(400);
        d.handover.application_openFiles({b}, true);          // joins: shown a second later, waits too
        clock.advance(FileHandover::batchDelayMs);
        settle();
        QVERIFY(d.batches.isEmpty());

        // One hand-over of them all, the folder included, and the folder once.
        hub->hideBusyLoader();
        settle();
        QCOMPARE(d.batches, (QList<QStringList>{{album, a, b}}));
        hub->showBusyLoader();
        hub->hideBusyLoader();
        settle();
        QCOMPARE(d.batches.size(), 1);
    }

    void quittingSavesTheRootsOnlyFromTheHub()
    {
        const QStringList before{QStringLiteral("/home/someone/Trip")};

        // No window at all: nothing is written.
        lg::Settings::setValue(savedRoots, before);
        FileHandover::applicationWillTerminate();
        QCOMPARE(lg::Settings::stringListValue(savedRoots), std::optional<QStringList>(before));

        // From the home screen the roots saved before survive.
        mainWindow()->showhomevc();
        contentHub();
        FileHandover::applicationWillTerminate();
        QCOMPARE(lg::Settings::stringListValue(savedRoots), std::optional<QStringList>(before));

        // From the hub the sidebar's roots are stored; none gives an empty list.
        mainWindow()->setContentViewController(contentHub());
        FileHandover::applicationWillTerminate();
        QCOMPARE(lg::Settings::stringListValue(savedRoots), std::optional<QStringList>(QStringList()));
    }

    // A start with a file from the file manager shows it under the opened-files
    // entry; the folders saved before are not in the tree, and a quit keeps them.
    void aLaunchWithAFileKeepsTheSavedFolders()
    {
        laterRun();
        QStringList saved;
        for (const char *name : {"Trip", "Family", "Work"})
            saved.append(lg::test::freshFolder(QString::fromLatin1(name)));
        lg::Settings::setValue(savedRoots, saved);
        const QString file =
            lg::test::writeFile(lg::test::freshFolder(QStringLiteral("Downloads")) + QStringLiteral("/photo.jpg"));

        lg::FakeClock clock;
        AppDelegate delegate;
        int quits = 0;
        delegate.terminator = [&delegate, &quits] {
            ++quits;
            delegate.applicationWillTerminate();   // what the application's aboutToQuit runs
        };
        scheduleLaunch(delegate, {file});
        QTRY_COMPARE(topLevelTitles(), QStringList{openedWithLabel});
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(contentHub()));
        settle();
        QCOMPARE(lg::Settings::stringListValue(savedRoots), std::optional<QStringList>(saved));

        mainWindow()->menuBar()->findChild<QAction *>(QStringLiteral("menuItem_quit"))->trigger();
        QCOMPARE(quits, 1);
        QCOMPARE(lg::Settings::stringListValue(savedRoots), std::optional<QStringList>(saved));
        clock.advance(FileHandover::batchDelayMs);
    }

    // A folder handed over at launch is monitored and listed without waiting
    // for the batch to close.
    void aLaunchWithAFolderListsItAtOnce()
    {
        laterRun();
        const QString folder = lg::test::freshFolder(QStringLiteral("Holiday"));
        for (const char *name : {"a.jpg", "b.jpg", "c.png"})
            lg::test::writeFile(folder + QLatin1Char('/') + QLatin1String(name));

        lg::FakeClock clock;   // never advanced: no timer of ours runs out
        AppDelegate delegate;
        lg::test::CaptureStdout capture;
        scheduleLaunch(delegate, {folder});
        QTRY_COMPARE(currentFolderURL, std::optional<QUrl>(QUrl::fromLocalFile(folder)));
        QVERIFY(contentHub()->monitor);
        QTRY_COMPARE(itemList.size(), 3);
        const QByteArray printed = capture.finish();
        QVERIFY2(printed.contains("Monitoring " + QUrl::fromLocalFile(folder).toString().toUtf8()), printed);
        QCOMPARE(topLevelTitles(), QStringList{QStringLiteral("Holiday")});
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(contentHub()));
        QCOMPARE(ScreenMode(currentScreenMode), ScreenGrid);
        QVERIFY(!openedFromFinder);
    }

    // A file handed over at launch shows in the viewer the same way.
    void aLaunchWithAFileShowsItAtOnce()
    {
        laterRun();
        const QString folder = lg::test::freshFolder(QStringLiteral("Mail"));
        const QString file = folder + QStringLiteral("/attachment.png");
        QImage picture(32, 24, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(file));

        lg::FakeClock clock;
        AppDelegate delegate;
        scheduleLaunch(delegate, {file});
        QTRY_COMPARE(viewerItemURL, std::optional<QUrl>(QUrl::fromLocalFile(file)));
        QCOMPARE(ScreenMode(currentScreenMode), ScreenFullImage);
        QCOMPARE(topLevelTitles(), QStringList{openedWithLabel});
        QVERIFY(openedFileItems.size() == 1 && openedFileItems.first().url == QUrl::fromLocalFile(file));
    }

    // Three hand-overs within a second (one at launch, two from later starts)
    // end in one entry that lists all three and focuses the first.
    void threeHandOversWithinASecondEndInOneNode()
    {
        laterRun();
        const QString folder = lg::test::freshFolder(QStringLiteral("Scans"));
        QStringList files;
        for (const char *name : {"1.jpg", "2.jpg", "3.jpg"})
            files.append(lg::test::writeFile(folder + QLatin1Char('/') + QLatin1String(name)));

        lg::FakeClock clock;
        AppDelegate delegate;
        scheduleLaunch(delegate, {files.at(0)});
        QTRY_COMPARE(topLevelTitles(), QStringList{openedWithLabel});
        clock.advance(500);
        delegate.application_openFiles({files.at(1)});
        clock.advance(500);
        delegate.application_openFiles({files.at(2)});
        clock.advance(FileHandover::batchDelayMs);
        settle();

        QCOMPARE(topLevelTitles(), QStringList{openedWithLabel});
        QStringList listed;
        for (const InitialDirectory &item : std::as_const(openedFileItems))
            listed.append(item.url ? item.url->toLocalFile() : QString());
        QCOMPARE(listed, files);
        QCOMPARE(fileToFocus, std::optional<QUrl>(QUrl::fromLocalFile(files.first())));
        QVERIFY(!delegate.timerForOpenwith);
    }

    void aSecondStartHandsItsFilesOver()
    {
        const QString path = socketIn(QStringLiteral("lumengallery-test"));
        const QString folder = lg::test::freshFolder(QStringLiteral("given"));
        const QString a = lg::test::writeFile(folder + QStringLiteral("/a.jpg"));
        const QString b = lg::test::writeFile(folder + QStringLiteral("/b c.jpg"));

        // Nobody runs yet.
        QVERIFY(!InstanceChannel::forwardToRunningInstance({a}, path));

        InstanceChannel first;
        QCOMPARE(first.claim({}, path), InstanceChannel::Role::Primary);
        QVERIFY(first.isListening());
        QSignalSpy files(&first, &InstanceChannel::filesReceived);
        QSignalSpy activation(&first, &InstanceChannel::activationRequested);

        // Two later starts, one with files and one without.
        InstanceChannel second;
        QCOMPARE(second.claim({a, QStringLiteral("relative.jpg"), b, folder + QStringLiteral("/gone.jpg")}, path),
                 InstanceChannel::Role::Secondary);
        QVERIFY(!second.isListening());
        QVERIFY(InstanceChannel::forwardToRunningInstance({}, path));
        QTRY_COMPARE(files.count(), 1);
        QTRY_COMPARE(activation.count(), 1);
        QCOMPARE(files.first().first().toStringList(), (QStringList{a, b}));

        // Garbage on the socket is ignored.
        QLocalSocket junk;
        junk.connectToServer(path);
        QVERIFY(junk.waitForConnected(1000));
        junk.write("not a message");
        junk.waitForBytesWritten(1000);
        junk.disconnectFromServer();
        settle();
        QCOMPARE(files.count(), 1);
        QCOMPARE(activation.count(), 1);
    }

    // A file whose name is not valid UTF-8 reaches the running start by its
    // bytes, alone or beside the look-alike whose name holds U+FFFD.
    void aNameThatIsNotUtf8IsHandedOverByItsBytes_data()
    {
        QTest::addColumn<bool>("lookAlike");
        QTest::newRow("alone") << false;
        QTest::newRow("beside its look-alike") << true;
    }
    void aNameThatIsNotUtf8IsHandedOverByItsBytes()
    {
        QFETCH(bool, lookAlike);
        const QString path = socketIn(QStringLiteral("lumengallery-bytes"));
        const QString folder = lg::test::freshFolder(QStringLiteral("givenBytes"));
        if (lookAlike)
            lg::test::writeFile(folder + QStringLiteral("/caf\uFFFD.jpg"));
        const QByteArray stray = lg::FileNames::toNative(folder) + "/caf\xe9.jpg";
        const int fd = ::open(stray.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        const auto removeStray = qScopeGuard([stray] { ::unlink(stray.constData()); });
        InstanceChannel first;
        QCOMPARE(first.claim({}, path), InstanceChannel::Role::Primary);
        QSignalSpy files(&first, &InstanceChannel::filesReceived);
        QVERIFY(InstanceChannel::forwardToRunningInstance({lg::FileNames::fromNative(stray)}, path));
        QTRY_COMPARE(files.count(), 1);
        const QStringList received = files.first().first().toStringList();
        QCOMPARE(received.size(), 1);
        QCOMPARE(lg::FileNames::toNative(received.first()), stray);
    }

    void aSocketLeftBehindIsReplaced()
    {
        const QString path = socketIn(QStringLiteral("lumengallery-stale"));
        QVERIFY(leaveStaleSocket(path));
        const QString a = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("x")) + QStringLiteral("/a.jpg"));

        InstanceChannel channel;
        QCOMPARE(channel.claim({a}, path), InstanceChannel::Role::Primary);
        QVERIFY(channel.isListening());
        QSignalSpy files(&channel, &InstanceChannel::filesReceived);
        QVERIFY(InstanceChannel::forwardToRunningInstance({a}, path));
        QTRY_COMPARE(files.count(), 1);
    }
    // What the file manager is offered matches what the program lists.
    void offersExactlyTheListedTypes_data()
    {
        QTest::addColumn<QStringList>("names");
        const QByteArray entry = sourceFile(QStringLiteral("resources/lumengallery.desktop"));
        QStringList fromEntry;
        for (const QByteArray &line : entry.split('\n'))
            if (line.startsWith("MimeType="))
                fromEntry = QString::fromUtf8(line.mid(9)).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        QTest::newRow("desktop entry") << fromEntry;
        const QString metainfo = QString::fromUtf8(sourceFile(QStringLiteral("resources/io.github.lumengallery.metainfo.xml")));
        QStringList fromMetainfo;
        const QRegularExpression mediatype(QStringLiteral("<mediatype>([^<]+)</mediatype>"));
        for (const QRegularExpressionMatch &match : mediatype.globalMatch(metainfo))
            fromMetainfo.append(match.captured(1).trimmed());
        QTest::newRow("metainfo") << fromMetainfo;
    }
    void offersExactlyTheListedTypes()
    {
        QFETCH(QStringList, names);
        QVERIFY2(!names.isEmpty(), "the file was not found (LG_TEST_SOURCE_DIR)");
        // Desktop packages may add types for the same extensions (KDE gives
        // ".hdr" image/x-hdr): each direction is checked with what is certain.
        const QSet<QString> base = baseTypesOfTheListedExtensions();
        if (base.size() <= 1)
            QSKIP("the base freedesktop.org MIME database file is not installed");
        const QMimeDatabase db;
        auto resolved = [&db](const QString &name) {
            return db.mimeTypeForName(name).isValid() ? db.mimeTypeForName(name).name() : name;
        };
        QSet<QString> offered;   // each name as given and as the database knows it (aliases resolved)
        for (const QString &name : names)
            offered << name << resolved(name);
        for (const QString &type : base)
            QVERIFY2(offered.contains(type), qPrintable(type + QStringLiteral(" is not offered")));
        const QSet<QString> known = base + installedTypesOfTheListedExtensions();
        for (const QString &name : names)
            QVERIFY2(known.contains(name) || known.contains(resolved(name)),
                     qPrintable(name + QStringLiteral(": no listed extension has this type")));
    }

    void unlistedFilesAreLeftOutOfTheBatch()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("handed"));
        const QString photo = lg::test::writeFile(folder + QStringLiteral("/a.jpg"));
        const QString webp = lg::test::writeFile(folder + QStringLiteral("/b.webp"));
        const QString text = lg::test::writeFile(folder + QStringLiteral("/notes.txt"));
        Delegate d;
        openedFromFinder = false;
        const ScreenMode mode = ScreenMode(currentScreenMode);

        // Nothing listed: nothing is collected and nothing changes.
        lg::test::CaptureStdout capture;
        d.handover.application_openFiles({webp, text}, false);
        const QByteArray printed = capture.finish();
        QCOMPARE(printed.count('\n'), 1);
        QVERIFY(printed.contains("b.webp") && printed.contains("notes.txt"));
        QVERIFY(d.openWithPath.isEmpty());
        QVERIFY(!d.timerForOpenwith);
        QVERIFY(!openedFromFinder);
        QCOMPARE(ScreenMode(currentScreenMode), mode);

        // Listed files and folders go on; the rest is left out.
        lg::test::CaptureStdout again;
        d.handover.application_openFiles({text, photo, folder}, true);
        again.finish();
        QCOMPARE(d.batches, QList<QStringList>{(QStringList {photo, folder})});
    }

    void instanceSocketLimitsConnectionsAndBytes()
    {
        lg::FakeClock clock;
        const QString path = lg::test::freshFolder(QStringLiteral("run")) + QStringLiteral("/lumengallery-limits");
        InstanceChannel channel;
        QVERIFY(channel.listen(path));
        lg::test::CaptureStdout capture;  // the lines about turned-away starts

        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < InstanceChannel::maxConnections + 4; ++i) {
            idle.push_back(std::make_unique<QLocalSocket>());
            idle.back()->connectToServer(path);
        }
        QTRY_COMPARE(channel.connectionCount(), InstanceChannel::maxConnections);
        // The rest are turned away.
        QTRY_VERIFY(std::count_if(idle.begin(), idle.end(), [](const auto &socket) {
                        return socket->state() == QLocalSocket::UnconnectedState;
                    }) == 4);
        QCOMPARE(channel.connectionCount(), InstanceChannel::maxConnections);
        // Those that say nothing are dropped in time.
        clock.advance(InstanceChannel::connectionTimeoutMs);
        lg::test::settle();
        QCOMPARE(channel.connectionCount(), 0);
        idle.clear();

        // Three large messages at once: the third would pass the limit of bytes held.
        std::vector<std::unique_ptr<QLocalSocket>> large;
        for (int i = 0; i < 3; ++i) {
            large.push_back(std::make_unique<QLocalSocket>());
            large.back()->connectToServer(path);
            large.back()->write(QByteArray(3 * 1024 * 1024 + 512 * 1024, 'x'));
        }
        QTRY_VERIFY(std::all_of(large.begin(), large.end(), [](const auto &socket) {
            return socket->bytesToWrite() == 0 || socket->state() == QLocalSocket::UnconnectedState;
        }));
        lg::test::settle();
        QCOMPARE(channel.connectionCount(), 2);
        QVERIFY(channel.bytesInFlight() <= InstanceChannel::maxBytesInFlight);
        large.clear();
        lg::test::settle();
        QCOMPARE(channel.bytesInFlight(), 0);
        QCOMPARE(channel.connectionCount(), 0);
        capture.finish();

        // A well-behaved start still gets through.
        QSignalSpy activation(&channel, &InstanceChannel::activationRequested);
        QVERIFY(InstanceChannel::forwardToRunningInstance({}, path));
        QTRY_COMPARE(activation.count(), 1);
    }
};

LG_TEST(TestFileHandover)
#include "test_filehandover.moc"
