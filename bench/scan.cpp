// Adding a large folder tree to the sidebar: the background count and scan,
// the records handed to the main thread, the tree built and the last row
// selected. Alongside, a 2 ms timer on the main thread records how late it
// fires: the longest main-thread stall during the add.
//
//   bench_scan          adds a generated tree of 2,000 folders holding
//                       100,000 empty files (made once, next to the program)
//   bench_scan FOLDER   adds FOLDER; the home folder is then FOLDER's parent
//                       (a folder is added only from inside home), while the
//                       settings and caches stay in the private one
//
// The reference is `find DIR -type d` on the same tree in the same run. Both are
// pinned to one core; figures are the best of several warm runs.
#include "app/Essentials.h"
#include "app/mainvc.h"
#include "platform/runtime/Dispatch.h"
#include "sidebar/outlineView.h"
#include "sidebar/sideMenuvc.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

constexpr int topFolders = 40;
constexpr int subFoldersEach = 49;  // 40 + 40 * 49 = 2,000 folders
constexpr int filesPerFolder = 50;  // 2,000 * 50 = 100,000 files
constexpr int runs = 5;

void printMs(const char *name, double value)
{
    std::printf("%s: %.0f ms\n", name, value);
    std::fflush(stdout);
}

void touch(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(2);
    }
    ::close(fd);
}

void fillFolder(const QString &folder)
{
    for (int i = 0; i < filesPerFolder; ++i)
        touch(folder + QStringLiteral("/IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
}

// The tree, made once and kept.
QString generatedTree(const QString &home)
{
    const QString root = home + QStringLiteral("/Photo Archive");
    const QString done = home + QStringLiteral("/.tree-complete");
    if (QFileInfo::exists(done))
        return root;
    QDir(root).removeRecursively();
    for (int top = 0; top < topFolders; ++top) {
        const QString topPath = root + QStringLiteral("/%1 Album").arg(2000 + top);
        QDir().mkpath(topPath);
        fillFolder(topPath);
        for (int sub = 0; sub < subFoldersEach; ++sub) {
            const QString subPath = topPath + QStringLiteral("/Event %1").arg(sub, 2, 10, QLatin1Char('0'));
            QDir().mkpath(subPath);
            fillFolder(subPath);
        }
    }
    touch(done);
    return root;
}

double findTime(const QString &root)
{
    QElapsedTimer clock;
    clock.start();
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    find.setStandardErrorFile(QProcess::nullDevice());
    find.start(QStringLiteral("find"), {root, QStringLiteral("-type"), QStringLiteral("d")});
    find.waitForFinished(-1);
    return clock.nsecsElapsed() / 1e6;
}

struct AddFigures
{
    double addMs = 0;
    double stallMs = 0;
    int nodes = 0;
};

int countNodes(const QList<BaseNode::Ptr> &nodes)
{
    int count = 0;
    for (const BaseNode::Ptr &node : nodes)
        count += 1 + (node && !node->isLeaf() ? countNodes(node->childNodes()) : 0);
    return count;
}

AddFigures addOnce(sideMenuvc *sidebar, const QString &root)
{
    sidebar->setContents({});
    QCoreApplication::processEvents();

    // Event-loop lag: how much later than asked the 2 ms timer fires.
    constexpr int tickMs = 2;
    QElapsedTimer sinceTick;
    double longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(tickMs);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.nsecsElapsed() / 1e6 - tickMs);
        sinceTick.restart();
    });

    QEventLoop loop;
    QObject::connect(sidebar, &sideMenuvc::addingFinished, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    sinceTick.start();
    ticker.start();
    clock.start();
    sidebar->addFoldersWithProgress(QList<QUrl>{QUrl::fromLocalFile(root)});
    if (sidebar->isAdding())
        loop.exec();
    AddFigures figures;
    figures.addMs = clock.nsecsElapsed() / 1e6;
    // Whatever the add left queued (progress steps, the content reload) is
    // part of its cost to the main thread too.
    QElapsedTimer drain;
    drain.start();
    while (drain.elapsed() < 100)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ticker.stop();
    figures.stallMs = std::max(0.0, longest);
    figures.nodes = countNodes(sidebar->contents());
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    // A private home inside the build folder: the tree must lie in the user's
    // folder to be accepted, and the settings stay out of the real home.
    const QString base = QFileInfo(QString::fromLocal8Bit(argv[0])).absolutePath() + QStringLiteral("/scan-home");
    QDir().mkpath(base);
    const QByteArray home = QFile::encodeName(QDir(base).canonicalPath());
    // A folder to add, given: home is its parent, so that it counts as inside.
    QString given;
    if (argc > 1) {
        given = QFileInfo(QString::fromLocal8Bit(argv[1])).canonicalFilePath();
        if (given.isEmpty() || !QFileInfo(given).isDir() || given == QLatin1String("/")) {
            std::fprintf(stderr, "cannot add %s: not a folder, or the root folder\n", argv[1]);
            return 2;
        }
    }
    const QByteArray homeFolder = given.isEmpty() ? home : QFile::encodeName(QFileInfo(given).absolutePath());
    setenv("HOME", homeFolder.constData(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").constData(), 1);
    setenv("XDG_CACHE_HOME", (home + "/.cache").constData(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").constData(), 1);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lumengallery"));

    // One core for everything, the reference included.
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu() >= 0 ? sched_getcpu() : 0, &one);
    sched_setaffinity(0, sizeof one, &one);

    const QString root = given.isEmpty() ? generatedTree(QString::fromLocal8Bit(home)) : given;
    if (QStandardPaths::findExecutable(QStringLiteral("find")).isEmpty()) {
        std::fprintf(stderr, "find not found\n");
        return 1;
    }
    findTime(root);  // warms the caches

    mainvc *hub = contentHub();
    sideMenuvc *sidebar = sidebarController();
    hub->resize(1200, 800);
    currentScreenMode = ScreenGrid;
    // The sidebar's own first import (nothing to add) has ended.
    QCoreApplication::processEvents();

    AddFigures best;
    best.addMs = 1e12;
    double worstStall = 0;
    for (int run = 0; run < runs; ++run) {
        const AddFigures figures = addOnce(sidebar, root);
        if (figures.addMs < best.addMs)
            best = figures;
        worstStall = std::max(worstStall, figures.stallMs);
    }
    double find = 1e12;
    for (int run = 0; run < runs; ++run)
        find = std::min(find, findTime(root));

    std::printf("folder: %s\n", qPrintable(root));
    std::printf("nodes: %d\n", best.nodes);
    printMs("add time", best.addMs);
    printMs("find time", find);
    printMs("longest stall", worstStall);
    std::printf("ratio to find: %.2f x\n", best.addMs / find);
    std::fflush(stdout);
    // What the adds left running (the content's listing of a large folder,
    // thumbnails) ends before the application object goes, as at a quit.
    lg::drainBackgroundWork();
    return 0;
}
