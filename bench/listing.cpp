// Listing a large folder the way a reload does: directoryContents, then for
// each entry the folder test, the extension test and Metadata::init.
//
//   bench_listing          lists a generated folder of 10,000 files
//   bench_listing FOLDER   lists FOLDER instead
//
// The reference is the same folder listed with its attributes by `ls -f -l`
// in the same run. Pinned to one core; figures are the best of several warm runs.
#include "app/Essentials.h"
#include "model/FileServices.h"
#include "model/MediaRecords.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sched.h>
#include <sys/stat.h>

namespace {

constexpr int generatedCount = 10000;
constexpr int runs = 7;

void print(const char *name, double value, const char *unit)
{
    std::printf("%s: %.2f %s\n", name, value, unit);
    std::fflush(stdout);
}

void printCount(const char *name, qsizetype value, const char *unit)
{
    std::printf("%s: %lld %s\n", name, static_cast<long long>(value), unit);
    std::fflush(stdout);
}

// A folder of generatedCount small files with mixed extensions and a few
// sub-folders; made once and kept.
QString generatedFolder()
{
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/listing-10000");
    const QString done = folder + QStringLiteral("/.complete");
    if (QFileInfo::exists(done))
        return folder;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    static const char *const extensions[] = {
        "jpg", "JPG", "jpeg", "png", "heic", "HEIC", "gif", "tiff", "cr2", "nef", "dng", "webp",
        "mov", "MOV", "mp4", "m4v", "avi", "mkv",
        "txt", "pdf", "xmp", "aae", "ai", "", "json", "DS_Store",
    };
    constexpr int extensionCount = int(sizeof extensions / sizeof *extensions);
    const QByteArray content(200, 'x');
    for (int i = 0; i < generatedCount - 10; ++i) {
        const char *ext = extensions[i % extensionCount];
        QString name = QStringLiteral("IMG_%1").arg(i, 5, 10, QLatin1Char('0'));
        if (*ext)
            name += QLatin1Char('.') + QLatin1String(ext);
        QFile file(folder + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            std::exit(2);
        }
    }
    for (int i = 0; i < 9; ++i)
        QDir(folder).mkdir(QStringLiteral("Album %1.jpg").arg(i));  // folders named like photos
    QFile marker(done);
    marker.open(QIODevice::WriteOnly);
    return folder;
}

// The lower-cased extension of the last path component ("" for ".name").
QString lowerExtension(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1)
        return QString();
    return path.mid(dot + 1).toLower();
}

// What a reload does for one listed path; returns the items it keeps.
QVector<InitialDirectory> buildItems(const QStringList &paths)
{
    QVector<InitialDirectory> items;
    items.reserve(paths.size());
    for (const QString &path : paths) {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        const QString ext = lowerExtension(path);
        if (!mediaExtensions.contains(ext))
            continue;
        InitialDirectory item = Metadata::init(QUrl::fromLocalFile(path));
        item.isImage = imageExtensions.contains(ext);
        items.append(std::move(item));
    }
    return items;
}

double bestOf(const std::function<void()> &work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    // One core for everything, the reference included.
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu() >= 0 ? sched_getcpu() : 0, &one);
    sched_setaffinity(0, sizeof one, &one);

    const QString folder = argc > 1 ? QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath()
                                    : generatedFolder();
    std::optional<QStringList> listed = directoryContents(folder);
    if (!listed) {
        std::fprintf(stderr, "cannot list %s\n", qPrintable(folder));
        return 1;
    }
    const QVector<InitialDirectory> warm = buildItems(*listed);  // warms the caches
    std::printf("folder: %s\n", qPrintable(folder));
    printCount("entries", listed->size(), "files");
    printCount("media_items", warm.size(), "items");

    const double listing = bestOf([&] { listed = directoryContents(folder); });
    int kept = 0;
    const double perFile = bestOf([&] { kept = int(buildItems(*listed).size()); });
    Q_UNUSED(kept);
    print("directoryContents", listing, "ms");
    print("per_file_step", perFile, "ms");
    print("per_file_step_each", perFile * 1000.0 / std::max<qsizetype>(1, listed->size()), "us");
    print("listing_total", listing + perFile, "ms");

    if (QStandardPaths::findExecutable(QStringLiteral("ls")).isEmpty()) {
        std::printf("reference: ls not found\n");
        return 0;
    }
    const double reference = bestOf([&] {
        QProcess ls;
        ls.setStandardOutputFile(QProcess::nullDevice());
        ls.setStandardErrorFile(QProcess::nullDevice());
        ls.start(QStringLiteral("ls"), {QStringLiteral("-f"), QStringLiteral("-l"), folder});
        ls.waitForFinished(-1);
    });
    print("reference_ls_f_l", reference, "ms");
    print("ratio_to_reference", (listing + perFile) / reference, "x");
    printCount("target", 150, "ms");
    return 0;
}
