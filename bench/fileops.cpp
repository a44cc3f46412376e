// Copying through the file-operations layer.
//
//   bench_fileops          makes 400 files of 2.5 MB and 2,000 of 20 KB in a
//                          temporary folder, copies them through FileOperation
//                          and with `cp -r` in the same run (best of seven
//                          rounds each), compares the copies and measures how
//                          long the main thread stalls
//   bench_fileops SRC DST  copies every entry of SRC into DST through
//                          FileOperation, a clashing name getting its numbered
//                          free name; SRC and what DST held are never changed
#include "platform/files/FileOperations.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int bigCount = 400;
constexpr qint64 bigSize = 2'500'000;
constexpr int smallCount = 2000;
constexpr qint64 smallSize = 20'000;
constexpr int tickMs = 5;
constexpr int rounds = 7;

// Runs the batch on its worker while the main thread ticks; returns the
// results and the longest gap between ticks beyond their interval.
QList<lg::FileOpResult> runBatch(const QList<lg::FileOpItem> &items, qint64 *elapsedMs, qint64 *longestStallMs)
{
    QEventLoop loop;
    QList<lg::FileOpResult> results;
    auto *operation = new lg::FileOperation(lg::FileOpKind::Copy, items);
    QObject::connect(operation, &lg::FileOperation::finished, &loop, [&](const QList<lg::FileOpResult> &r) {
        results = r;
        loop.quit();
    });
    QElapsedTimer sinceTick;
    qint64 stall = 0;
    QTimer ticker;
    ticker.setInterval(tickMs);
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        stall = std::max(stall, sinceTick.restart() - tickMs);
    });
    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    ticker.start();
    operation->start();
    loop.exec();
    *elapsedMs = clock.elapsed();
    *longestStallMs = std::max<qint64>(0, stall);
    return results;
}

QList<lg::FileOpItem> itemsOf(const QString &source, const QString &target, lg::ConflictPolicy policy)
{
    QList<lg::FileOpItem> items;
    const QStringList names = QDir(source).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                     | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names)
        items.append({QDir(source).filePath(name), target, QString(), policy});
    return items;
}

bool writeRandomFile(const QString &path, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == size;
}

bool sameContents(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd()) {
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    }
    return true;
}

int generatedRun()
{
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/lg-bench-fileops-XXXXXX"));
    if (!root.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString source = root.filePath(QStringLiteral("source"));
    QDir().mkpath(source);
    for (int i = 0; i < bigCount; ++i)
        writeRandomFile(source + QStringLiteral("/big-%1.bin").arg(i), bigSize);
    for (int i = 0; i < smallCount; ++i)
        writeRandomFile(source + QStringLiteral("/small-%1.bin").arg(i), smallSize);
    ::sync();

    // Best of a few rounds, the order alternating, each copy into a fresh folder:
    // the machine is shared and one copy's write-back slows the next.
    const QString ours = root.filePath(QStringLiteral("ours"));
    const QString theirs = root.filePath(QStringLiteral("theirs"));
    qint64 copyMs = -1, cpMs = -1, stallMs = 0;
    int cpExit = 0;
    QList<lg::FileOpResult> results;
    for (int round = 0; round < rounds; ++round) {
        const auto runOurs = [&] {
            QDir(ours).removeRecursively();
            QDir().mkpath(ours);
            ::sync();
            qint64 ms = 0, stall = 0;
            results = runBatch(itemsOf(source, ours, lg::ConflictPolicy::Refuse), &ms, &stall);
            ::sync();
            copyMs = copyMs < 0 ? ms : std::min(copyMs, ms);
            stallMs = std::max(stallMs, stall);
        };
        const auto runCp = [&] {
            QDir(theirs).removeRecursively();
            ::sync();
            QElapsedTimer clock;
            clock.start();
            cpExit = std::max(cpExit, QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), source, theirs}));
            const qint64 ms = clock.elapsed();
            ::sync();
            cpMs = cpMs < 0 ? ms : std::min(cpMs, ms);
        };
        if (round % 2 == 0) {
            runOurs();
            runCp();
        } else {
            runCp();
            runOurs();
        }
    }

    const QStringList names = QDir(source).entryList(QDir::Files, QDir::Name);
    int identical = 0;
    for (const QString &name : names)
        identical += sameContents(source + QLatin1Char('/') + name, ours + QLatin1Char('/') + name) ? 1 : 0;
    int failed = 0;
    for (const lg::FileOpResult &r : results)
        failed += r.ok() ? 0 : 1;

    std::printf("copy time: %lld ms\n", static_cast<long long>(copyMs));
    std::printf("cp time: %lld ms\n", static_cast<long long>(cpMs));
    std::printf("ratio to cp: %.2f\n", cpMs > 0 ? double(copyMs) / double(cpMs) : 0.0);
    std::printf("identical: %d of %lld\n", identical, static_cast<long long>(names.size()));
    std::printf("longest stall: %lld ms\n", static_cast<long long>(stallMs));
    if (failed || cpExit != 0)
        std::printf("failed: %d (cp exit %d)\n", failed, cpExit);
    return 0;
}

int copyInto(const QString &source, const QString &target)
{
    if (!QFileInfo(source).isDir() || !QFileInfo(target).isDir()) {
        std::fprintf(stderr, "usage: bench_fileops [SRC DST] (both folders)\n");
        return 2;
    }
    qint64 elapsed = 0, stall = 0;
    const QList<lg::FileOpResult> results =
        runBatch(itemsOf(QDir(source).absolutePath(), QDir(target).absolutePath(), lg::ConflictPolicy::KeepBoth),
                 &elapsed, &stall);
    int copied = 0, failed = 0;
    for (const lg::FileOpResult &r : results) {
        if (r.ok()) {
            ++copied;
        } else {
            ++failed;
            std::fprintf(stderr, "%s: %s\n", qPrintable(r.source), qPrintable(r.message));
        }
    }
    std::printf("copied: %d items\n", copied);
    std::printf("failed: %d\n", failed);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() == 2)
        return copyInto(arguments[0], arguments[1]);
    if (!arguments.isEmpty()) {
        std::fprintf(stderr, "usage: bench_fileops [SRC DST]\n");
        return 2;
    }
    return generatedRun();
}
