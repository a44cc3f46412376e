// The file commands of the content browser on a large selection, headless.
//
//   bench_browserops [COUNT]   makes COUNT (2,000) small JPEG files in a
//                              temporary home, selects them all in the grid and
//                              runs Duplicate, Copy To, Move To, Paste (then
//                              the same paste again, answered "Make a Copy")
//                              and Move to Trash through the menu commands,
//                              answering the sheets and the folder panel itself;
//                              then drops 10,000 files on a sidebar folder and
//                              on the grid
//
// For each command it prints the time until the batch has finished and the
// longest main-thread stall meanwhile (a 2 ms timer that records event-loop
// lag), then the longest of all as "longest stall: N ms". For reference it
// trashes as many files with "gio trash" in the same run ("gio trash time"),
// and prints our trash time over that as "trash ratio".
#include "bench/BenchSupport.h"
#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/GridView.h"
#include "browser/ItemFileCommands.h"
#include "browser/ItemMenus.h"
#include "browser/Listing.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Clipboard.h"
#include "platform/desktop/Panels.h"
#include "sidebar/SidebarTreeModel.h"
#include "sidebar/sideMenuvc.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

using bench::StallMeter;


// Runs the event loop until the grid has reloaded (or 60 s).
void waitForReload(thumbnailvc *grid)
{
    QEventLoop loop;
    QObject::connect(grid, &thumbnailvc::reloadFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    grid->refreshData();
    if (!isListingPending() && grid->itemsModel()->rowCount() > 0)
        return;
    loop.exec();
}

// The time until the last batch has finished; the stall also covers the reload after it.
double measure(const char *name, const std::function<void()> &command, int batches, double *time = nullptr)
{
    StallMeter stall;
    QElapsedTimer clock;
    QEventLoop loop;
    int finished = 0;
    qint64 finishedAt = 0;
    QMetaObject::Connection done = QObject::connect(ItemFileCommands::instance(), &ItemFileCommands::batchFinished,
                                                    &loop, [&] {
        if (++finished == batches) {
            finishedAt = clock.elapsed();
            QTimer::singleShot(100, &loop, &QEventLoop::quit);   // the reload that follows counts for the stall
        }
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    clock.start();
    stall.start();
    command();
    const qint64 start = clock.elapsed();
    loop.exec();
    const double longest = stall.stop();
    QObject::disconnect(done);
    if (time)
        *time = double(finishedAt ? finishedAt : clock.elapsed());
    std::printf("%s time: %.0f ms\n%s stall: %.1f ms\n%s start: %lld ms\n", name,
                double(finishedAt ? finishedAt : clock.elapsed()), name, longest, name, start);
    std::fflush(stdout);
    return longest;
}

// Drops 10,000 files from another folder on a sidebar folder and on the grid,
// answering the question that follows with no, and prints how long the main
// thread was held by a drag movement over the folder and by taking each drop.
void measureDrop(const QString &home)
{
    constexpr int dropped = 10000;
    const QString source = home + QStringLiteral("/Pictures/dropsource");
    const QString target = home + QStringLiteral("/Pictures/droptarget");
    QDir().mkpath(source);
    QDir().mkpath(target);
    QList<QUrl> urls;
    urls.reserve(dropped);
    for (int i = 0; i < dropped; ++i) {
        const QString path = source + QStringLiteral("/IMG_%1.jpg").arg(i);
        QFile(path).open(QIODevice::WriteOnly);
        urls.append(QUrl::fromLocalFile(path));
    }
    std::unique_ptr<QMimeData> data(lg::Clipboard::mimeDataForFiles(urls));

    sideMenuvc *sidebar = sidebarController();
    QEventLoop added;
    QObject::connect(sidebar, &sideMenuvc::addingFinished, &added, &QEventLoop::quit);
    QTimer::singleShot(60000, &added, &QEventLoop::quit);
    sidebar->addFoldersWithProgress(QList<QUrl>{QUrl::fromLocalFile(target)});
    added.exec();
    SidebarTreeModel *model = sidebar->treeController->model();
    const std::optional<IndexPath> path = sidebar->indexPathOfFolderNode(QUrl::fromLocalFile(target));
    const QModelIndex onto = path ? model->indexForPath(*path) : QModelIndex();

    lg::Alert::setResponder([](const lg::AlertSpec &spec) {
        const qsizetype no = spec.buttons.indexOf(QStringLiteral("No"));
        return int(no >= 0 ? no : spec.buttons.indexOf(QStringLiteral("Cancel")));
    });
    // Each step is timed on the clock and as the main thread's own working
    // time, which leaves out waiting for a core on a busy machine.
    QElapsedTimer clock;
    const auto timed = [&clock](const std::function<bool()> &step, double *wallMs, double *cpuMs) {
        const double cpu = bench::threadCpuMs();
        clock.restart();
        const bool result = step();
        *wallMs = double(clock.nsecsElapsed()) / 1e6;
        *cpuMs = bench::threadCpuMs() - cpu;
        return result;
    };
    double move = 0, moveCpu = 0, sidebarDrop = 0, sidebarCpu = 0, gridDrop = 0, gridCpu = 0;
    const bool canDrop = timed([&] { return model->canDropMimeData(data.get(), Qt::CopyAction, -1, -1, onto); },
                               &move, &moveCpu);
    const bool sidebarTook = timed([&] { return model->dropMimeData(data.get(), Qt::CopyAction, -1, -1, onto); },
                                   &sidebarDrop, &sidebarCpu);
    QCoreApplication::processEvents();
    const bool gridTook = timed(
        [&] { return ItemFileCommands::instance()->acceptDrop(lg::Clipboard::readFiles(data.get()).urls); }, &gridDrop,
        &gridCpu);
    // The question follows a look at the disk in the background: answer it.
    QElapsedTimer wait;
    wait.start();
    while (isBusy && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
    std::printf("drag move 10000 stall: %.1f ms\ndrag move 10000 cpu: %.1f ms\n"
                "drop 10000 sidebar stall: %.1f ms\ndrop 10000 sidebar cpu: %.1f ms\n"
                "drop 10000 grid stall: %.1f ms\ndrop 10000 grid cpu: %.1f ms\n"
                "drop 10000 cpu: %.0f ms\ndrop 10000 stall: %.0f ms\n",
                move, moveCpu, sidebarDrop, sidebarCpu, gridDrop, gridCpu, std::max(sidebarCpu, gridCpu),
                std::max(sidebarDrop, gridDrop));
    if (!canDrop || !sidebarTook || !gridTook)
        std::printf("drop 10000: not taken (%d %d %d)\n", int(canDrop), int(sidebarTook), int(gridTook));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/.local/share")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/.cache")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;

    const QString folder = home.path() + QStringLiteral("/Pictures/batch");
    const QString other = home.path() + QStringLiteral("/Pictures/other");
    QDir().mkpath(folder);
    QDir().mkpath(other);
    QDir().mkpath(home.path() + QStringLiteral("/.local/share"));
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    picture.save(folder + QStringLiteral("/IMG_0.jpg"), "JPEG");
    for (int i = 1; i < count; ++i)
        QFile::copy(folder + QStringLiteral("/IMG_0.jpg"), folder + QStringLiteral("/IMG_%1.jpg").arg(i));

    // The first button, or the one named in answer when the alert has it.
    QString answer;
    lg::Alert::setResponder([&answer](const lg::AlertSpec &spec) { return std::max(0, int(spec.buttons.indexOf(answer))); });
    lg::Panels::setOpenResponder([other](const lg::OpenPanelSpec &) { return QList<QUrl>{QUrl::fromLocalFile(other)}; });
    currentFolderURL = QUrl::fromLocalFile(folder);
    contentHub();   // the hub exists before any command in the program
    ViewController *content = contentController();
    content->resize(1200, 800);
    content->show();
    thumbnailvc *grid = thumbnailGrid();
    waitForReload(grid);
    // Exactly count items each time, whatever else the folder holds by then.
    const auto selectAll = [grid, count] {
        ShownItemsModel *model = grid->itemsModel();
        const int last = std::min(count, model->rowCount()) - 1;
        grid->collectionview->selectionModel()->select(QItemSelection(model->index(0, 0), model->index(last, 0)),
                                                       QItemSelectionModel::ClearAndSelect);
    };

    // For reference: the same 5 s with the overlay up and no file work, which
    // shows what the machine's own load does to the timer.
    {
        StallMeter idle;
        QEventLoop loop;
        contentHub()->showBusyLoader();
        idle.start();
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        std::printf("idle stall: %.1f ms\n", idle.stop());
        contentHub()->hideBusyLoader();
    }

    double longest = 0;
    selectAll();
    longest = std::max(longest, measure("duplicate", [] { ItemFileCommands::instance()->duplicateItems(gridBrowseView()); }, 1));
    waitForReload(grid);
    selectAll();
    longest = std::max(longest, measure("copy to", [] { ItemFileCommands::instance()->copyItemsTo(gridBrowseView()); }, 1));
    waitForReload(grid);
    selectAll();
    // Every name is taken now: the sheet's first answer, Replace, runs a second batch.
    longest = std::max(longest, measure("move to", [] { ItemFileCommands::instance()->moveItemsTo(gridBrowseView()); }, 2));

    // Paste the files into a folder of their own, then once more: every name
    // is taken, and the sheet is answered "Make a Copy".
    const QString pasted = home.path() + QStringLiteral("/Pictures/pasted");
    QDir().mkpath(pasted);
    QList<QUrl> clip;
    for (const QString &name : QDir(other).entryList(QDir::Files))
        clip.append(QUrl::fromLocalFile(other + QLatin1Char('/') + name));
    lg::Clipboard::writeFiles(clip);
    currentFolderURL = QUrl::fromLocalFile(pasted);
    grid->refreshData();   // an empty folder: nothing to wait for but the listing
    for (QElapsedTimer waited; isListingPending() && waited.elapsed() < 10000;)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    longest = std::max(longest, measure("paste", [] { ItemFileCommands::instance()->pasteItems(); }, 1));
    waitForReload(grid);
    answer = QStringLiteral("Make a Copy");
    longest = std::max(longest, measure("make a copy", [] { ItemFileCommands::instance()->pasteItems(); }, 2));
    answer.clear();

    currentFolderURL = QUrl::fromLocalFile(other);
    waitForReload(grid);
    selectAll();
    double trashTime = 0;
    longest = std::max(longest, measure("move to trash", [] { ItemFileCommands::instance()->trashItems(gridBrowseView()); }, 1,
                                        &trashTime));

    // The reference: as many files of the same kind trashed by gio, now.
    const QString forGio = home.path() + QStringLiteral("/Pictures/gio");
    QDir().mkpath(forGio);
    QStringList gioFiles{forGio + QStringLiteral("/IMG_0.jpg")};
    picture.save(gioFiles.first(), "JPEG");
    for (int i = 1; i < count; ++i) {
        gioFiles << forGio + QStringLiteral("/IMG_%1.jpg").arg(i);
        QFile::copy(gioFiles.first(), gioFiles.last());
    }
    QProcess gio;
    QElapsedTimer gioClock;
    gioClock.start();
    gio.start(QStringLiteral("gio"), QStringList{QStringLiteral("trash")} + gioFiles);
    if (gio.waitForFinished(120000) && gio.exitCode() == 0) {
        const double gioTime = double(gioClock.elapsed());
        std::printf("gio trash time: %.0f ms\ntrash ratio: %.2f x\n", gioTime, trashTime / std::max(1.0, gioTime));
    } else {
        std::printf("gio trash time: unavailable (%s)\n", gio.readAllStandardError().left(200).constData());
    }
    measureDrop(home.path());
    std::printf("items: %d\nlongest stall: %.0f ms\n", count, longest);
    return 0;
}
