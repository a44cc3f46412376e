// Copying through the file-operations layer.
//
//   bench_fileops          makes 400 files of 2.5 MB and 2,000 of 20 KB in a
//                          temporary folder, copies them through FileBatch
//                          and with `cp -r` in the same run (best of seven
//                          rounds each), compares the copies and measures how
//                          long the main thread stalls
//                          Then makes a tree of 50 folders of 40 photos of
//                          20 KB that carry tags, a comment, a rating, an
//                          origin and an ACL (the folders a comment and a
//                          default ACL, some photos a second name) and copies
//                          it through FileBatch and with `cp -a` in the
//                          same run (best of seven each), comparing what the
//                          copies kept
//   bench_fileops SRC DST  copies every entry of SRC into DST through
//                          FileBatch, a clashing name getting its numbered
//                          free name; SRC and what DST held are never changed
//   bench_fileops --move SRC DST
//                          moves every entry of SRC into DST the same way (a
//                          move across disks when they lie on two) and says
//                          how long it took
//   bench_fileops --move   fills an exFAT card (an image on a loop device,
//                          mounted through exfat-fuse; root only) with a
//                          camera's 2 GB of photos and clips, less where the
//                          temporary folder's disk is short of room, and moves
//                          them off it to that disk through the batch every
//                          screen uses and with `mv`, each synced at the end,
//                          best of two rounds each, the order alternating
#include "platform/files/operations/FileBatch.h"
#include "platform/runtime/Background.h"
#include "platform/files/operations/FileOperations.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <tuple>
#include <cstdio>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

constexpr int bigCount = 400;
constexpr qint64 bigSize = 2'500'000;
constexpr int smallCount = 2000;
constexpr qint64 smallSize = 20'000;
constexpr int tickMs = 5;
constexpr int rounds = 7;

// Runs the batch on a worker, as a file command does, while the main thread
// ticks; returns the results and the longest gap between ticks beyond their
// interval.
QList<lg::FileOpResult> runBatch(const QStringList &sources, const QString &target, lg::ConflictPolicy policy,
                                 qint64 *elapsedMs, qint64 *longestStallMs, lg::FileOpKind kind = lg::FileOpKind::Copy)
{
    QEventLoop loop;
    QList<lg::FileOpResult> results;
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
    lg::runThenCallback(
        &loop, [kind, sources, target, policy] { return lg::FileBatch(kind, target).run(sources, policy).results; },
        [&](const QList<lg::FileOpResult> &ran) {
            results = ran;
            loop.quit();
        });
    loop.exec();
    *elapsedMs = clock.elapsed();
    *longestStallMs = std::max<qint64>(0, stall);
    return results;
}

// The entries of source, in name order.
QStringList sourcesIn(const QString &source)
{
    QStringList sources;
    const QStringList names = QDir(source).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                     | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names)
        sources.append(QDir(source).filePath(name));
    return sources;
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
            results = runBatch(sourcesIn(source), ours, lg::ConflictPolicy::Refuse, &ms, &stall);
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

constexpr int taggedFolders = 50;
constexpr int taggedPerFolder = 40;
constexpr qint64 taggedSize = 20'000;

// A POSIX ACL as system.posix_acl_access/default hold it: the owner, the user
// nobody (read), the group, the mask and the others.
QByteArray aclGrantingRead()
{
    QByteArray acl;
    const auto u16 = [&acl](quint16 v) { acl.append(char(v & 0xff)).append(char(v >> 8)); };
    const auto u32 = [&](quint32 v) { u16(quint16(v & 0xffff)); u16(quint16(v >> 16)); };
    u32(2);
    const quint32 none = 0xffffffffu;
    for (const auto &[tag, perm, id] : {std::tuple<quint16, quint16, quint32>{0x01, 6, none}, {0x02, 4, 65534},
                                        {0x04, 4, none}, {0x10, 4, none}, {0x20, 4, none}}) {
        u16(tag);
        u16(perm);
        u32(id);
    }
    return acl;
}

bool tag(const QString &path, const char *name, const QByteArray &value)
{
    return ::setxattr(QFile::encodeName(path).constData(), name, value.constData(), size_t(value.size()), 0) == 0;
}

// Every extended attribute of path, names and values in one text.
QByteArray attributeText(const QString &path)
{
    const QByteArray at = QFile::encodeName(path);
    QByteArray names(65536, '\0');
    const ssize_t n = ::llistxattr(at.constData(), names.data(), size_t(names.size()));
    QList<QByteArray> list = names.left(std::max<qsizetype>(n, 0)).split('\0');
    std::sort(list.begin(), list.end());
    QByteArray text;
    for (const QByteArray &name : list) {
        QByteArray value(65536, '\0');
        const ssize_t size = ::lgetxattr(at.constData(), name.constData(), value.data(), size_t(value.size()));
        text += name + '=' + value.left(std::max<qsizetype>(size, 0)) + ';';
    }
    return text;
}

// The photos of a tree and their attributes; false when the file system
// holds no user attributes or ACLs.
bool makeTaggedTree(const QString &tree)
{
    const QByteArray acl = aclGrantingRead();
    for (int f = 0; f < taggedFolders; ++f) {
        const QString folder = tree + QStringLiteral("/Trip %1").arg(f);
        QDir().mkpath(folder);
        for (int i = 0; i < taggedPerFolder; ++i) {
            const QString photo = folder + QStringLiteral("/IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
            if (!writeRandomFile(photo, taggedSize) || !tag(photo, "user.xdg.tags", "beach,family")
                || !tag(photo, "user.xdg.comment", "sunset at the pier") || !tag(photo, "user.baloo.rating", "8")
                || !tag(photo, "user.xdg.origin.url", "https://example.org/" + QByteArray::number(i))
                || !tag(photo, "system.posix_acl_access", acl))
                return false;
            if (i % 10 == 0)
                ::link(QFile::encodeName(photo).constData(), QFile::encodeName(photo + QStringLiteral(".also")).constData());
        }
        if (!tag(folder, "user.xdg.comment", "a trip") || !tag(folder, "system.posix_acl_default", acl))
            return false;
    }
    return true;
}

// How many entries of copy hold the attributes of their source, of all.
std::pair<int, int> sameAttributes(const QString &source, const QString &copy)
{
    int same = 0, all = 0;
    QDirIterator it(source, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        ++all;
        same += attributeText(path) == attributeText(copy + path.mid(source.size())) ? 1 : 0;
    }
    return {same, all};
}

int attributeRun()
{
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/lg-bench-xattr-XXXXXX"));
    const QString tree = root.filePath(QStringLiteral("Photos"));
    if (!root.isValid() || !makeTaggedTree(tree)) {
        std::printf("xattr copy: not measured (no user attributes or ACLs in %s)\n", qPrintable(QDir::tempPath()));
        return 0;
    }
    ::sync();
    // Every copy goes into a folder of its own and stays until the end: ext4
    // slows the making of files right where thousands were just deleted, and
    // whichever copy came second would pay for it.
    QString ours, theirs;
    qint64 copyMs = -1, cpMs = -1, stallMs = 0;
    int cpExit = 0;
    QList<lg::FileOpResult> results;
    for (int round = 0; round < rounds; ++round) {
        const auto runOurs = [&] {
            ours = root.filePath(QStringLiteral("ours-%1").arg(round));
            QDir().mkpath(ours);
            ::sync();
            qint64 ms = 0, stall = 0;
            results = runBatch({tree}, ours, lg::ConflictPolicy::Refuse, &ms, &stall);
            ::sync();
            copyMs = copyMs < 0 ? ms : std::min(copyMs, ms);
            stallMs = std::max(stallMs, stall);
        };
        const auto runCp = [&] {
            theirs = root.filePath(QStringLiteral("theirs-%1").arg(round));
            QDir().mkpath(theirs);
            ::sync();
            QElapsedTimer clock;
            clock.start();
            cpExit = std::max(cpExit, QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), tree, theirs}));
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
    const auto [kept, all] = sameAttributes(tree, ours + QStringLiteral("/Photos"));
    const auto [cpKept, cpAll] = sameAttributes(tree, theirs + QStringLiteral("/Photos"));
    struct stat first {}, second {};
    const QString linked = ours + QStringLiteral("/Photos/Trip 0/IMG_0000.jpg");
    ::stat(QFile::encodeName(linked).constData(), &first);
    ::stat(QFile::encodeName(linked + QStringLiteral(".also")).constData(), &second);
    int failed = 0;
    for (const lg::FileOpResult &r : results)
        failed += r.ok() ? 0 : 1;
    std::printf("xattr copy time: %lld ms\n", static_cast<long long>(copyMs));
    std::printf("cp -a time: %lld ms\n", static_cast<long long>(cpMs));
    std::printf("xattr copy ratio to cp -a: %.2f\n", cpMs > 0 ? double(copyMs) / double(cpMs) : 0.0);
    std::printf("attributes kept: %d of %d (cp -a: %d of %d)\n", kept, all, cpKept, cpAll);
    std::printf("hard links kept: %s\n", first.st_ino != 0 && first.st_ino == second.st_ino ? "yes" : "no");
    std::printf("xattr longest stall: %lld ms\n", static_cast<long long>(stallMs));
    if (failed || cpExit != 0)
        std::printf("xattr failed: %d (cp -a exit %d)\n", failed, cpExit);
    return 0;
}

int copyInto(const QString &source, const QString &target, lg::FileOpKind kind)
{
    if (!QFileInfo(source).isDir() || !QFileInfo(target).isDir()) {
        std::fprintf(stderr, "usage: bench_fileops [[--move] SRC DST] (both folders)\n");
        return 2;
    }
    qint64 elapsed = 0, stall = 0;
    const QList<lg::FileOpResult> results =
        runBatch(sourcesIn(QDir(source).absolutePath()), QDir(target).absolutePath(), lg::ConflictPolicy::KeepBoth,
                 &elapsed, &stall, kind);
    int copied = 0, failed = 0;
    for (const lg::FileOpResult &r : results) {
        if (r.ok()) {
            ++copied;
        } else {
            ++failed;
            std::fprintf(stderr, "%s: %s\n", qPrintable(r.source), qPrintable(r.message));
        }
    }
    std::printf("%s: %d items\n", kind == lg::FileOpKind::Move ? "moved" : "copied", copied);
    std::printf("failed: %d\n", failed);
    std::printf("time: %lld ms\n", static_cast<long long>(elapsed));
    return 0;
}

// ---- A move off an exFAT card ----

// An exFAT image of bytes on a loop device of its own, mounted through
// exfat-fuse on a folder while the bench wants it there.
class ExfatCard
{
public:
    ExfatCard(const QString &image, qint64 bytes, const QString &at) : m_at(at)
    {
        m_fuse = QStandardPaths::findExecutable(QStringLiteral("mount.exfat-fuse"), {"/usr/sbin", "/sbin"});
        const QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.exfat"), {"/usr/sbin", "/sbin"});
        if (m_fuse.isEmpty() || mkfs.isEmpty() || ::geteuid() != 0) {
            m_why = QStringLiteral("needs root, exfatprogs and exfat-fuse");
            return;
        }
        QFile sized(image);
        const bool sizedAsMeant = sized.open(QIODevice::WriteOnly) && sized.resize(bytes);
        sized.close();
        QProcess format, loop;
        format.setStandardOutputFile(QProcess::nullDevice());
        format.start(mkfs, {image});
        if (!sizedAsMeant || !format.waitForFinished(60000) || format.exitCode() != 0) {
            m_why = QStringLiteral("no exFAT image can be made");
            return;
        }
        loop.start(QStringLiteral("losetup"), {QStringLiteral("-f"), QStringLiteral("--show"), image});
        if (!loop.waitForFinished(10000) || loop.exitCode() != 0) {
            m_why = QStringLiteral("no loop device");
            return;
        }
        m_device = QString::fromLocal8Bit(loop.readAllStandardOutput()).trimmed();
        QDir().mkpath(at);
    }
    ~ExfatCard()
    {
        unmount();
        if (!m_device.isEmpty())
            QProcess::execute(QStringLiteral("losetup"), {QStringLiteral("-d"), m_device});
    }
    // Mounted afresh, so that no file of it is in the FUSE mount's cache.
    bool mount()
    {
        unmount();
        m_mounted = !m_device.isEmpty() && QProcess::execute(m_fuse, {m_device, m_at}) == 0;
        if (!m_mounted && m_why.isEmpty())
            m_why = QStringLiteral("exfat-fuse cannot mount here");
        return m_mounted;
    }
    void unmount()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_at).constData(), 0);
        m_mounted = false;
    }
    QString why() const { return m_why; }

private:
    QString m_fuse, m_device, m_at, m_why;
    bool m_mounted = false;
};

// Syncs the file system that holds path (the destination of both moves).
void syncDiskOf(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

int cardMoveRun()
{
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/lg-bench-cardmove-XXXXXX"));
    struct statvfs space {};
    if (!root.isValid() || ::statvfs(QFile::encodeName(root.path()).constData(), &space) != 0) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    // A camera's card: photos of 7.5 MB, and a clip of 128 MB for every 50 of them.
    constexpr qint64 photoSize = 7'500'000, clipSize = 128'000'000, wanted = 2'000'000'000;
    const qint64 room = qint64(space.f_bavail) * qint64(space.f_frsize);
    const qint64 total = std::min(wanted, (room - (qint64(2) << 30)) / 3);   // the image, its copy, and room to spare
    if (total < 100'000'000) {
        std::printf("move from exfat card: not measured (%lld MB free)\n", static_cast<long long>(room >> 20));
        return 0;
    }
    const int photos = int(total * 8 / 10 / photoSize), clips = std::max(1, int(total * 2 / 10 / clipSize));
    const qint64 bytes = photos * photoSize + clips * clipSize;
    const QString card = root.filePath(QStringLiteral("card")), dcim = card + QStringLiteral("/DCIM/100CANON");
    ExfatCard exfat(root.filePath(QStringLiteral("card.img")), bytes + bytes / 20 + (64 << 20), card);
    if (!exfat.mount()) {
        std::printf("move from exfat card: not measured (%s)\n", qPrintable(exfat.why()));
        return 0;
    }
    const auto fill = [&] {
        QDir().mkpath(dcim);
        for (int i = 0; i < photos + clips; ++i) {
            const bool clip = i % (photos / clips + 1) == photos / clips;
            writeRandomFile(dcim + (clip ? QStringLiteral("/MVI_%1.MP4") : QStringLiteral("/IMG_%1.JPG"))
                                       .arg(i + 1, 4, 10, QLatin1Char('0')),
                            clip ? clipSize : photoSize);
        }
        return exfat.mount();   // nothing of it cached by the mount
    };
    qint64 oursMs = -1, mvMs = -1;
    int failed = 0, mvExit = 0, left = 0;
    for (int round = 0; round < 2; ++round) {
        const auto runOurs = [&] {
            const QString dst = root.filePath(QStringLiteral("ours"));
            QDir().mkpath(dst);
            if (!fill())
                return;
            syncDiskOf(dst);
            QStringList items;
            for (const QString &name : QDir(dcim).entryList(QDir::Files, QDir::Name))
                items.append(dcim + QLatin1Char('/') + name);
            QElapsedTimer clock;
            clock.start();
            lg::FileBatch batch(lg::FileOpKind::Move, dst);
            const lg::FileBatch::Outcome moved = batch.run(items, lg::ConflictPolicy::Refuse);
            syncDiskOf(dst);
            const qint64 ms = clock.elapsed();
            oursMs = oursMs < 0 ? ms : std::min(oursMs, ms);
            for (const lg::FileOpResult &r : moved.results) {
                if (!r.ok() && failed++ == 0)
                    std::fprintf(stderr, "%s: %s\n", qPrintable(r.source), qPrintable(r.message));
            }
            left += int(QDir(dcim).entryList(QDir::Files).size());
            QDir(dst).removeRecursively();
        };
        const auto runMv = [&] {
            const QString dst = root.filePath(QStringLiteral("theirs"));
            QDir().mkpath(dst);
            if (!fill())
                return;
            syncDiskOf(dst);
            QStringList arguments{QStringLiteral("-t"), dst};
            for (const QString &name : QDir(dcim).entryList(QDir::Files, QDir::Name))
                arguments.append(dcim + QLatin1Char('/') + name);
            QElapsedTimer clock;
            clock.start();
            mvExit = std::max(mvExit, QProcess::execute(QStringLiteral("mv"), arguments));
            syncDiskOf(dst);
            const qint64 ms = clock.elapsed();
            mvMs = mvMs < 0 ? ms : std::min(mvMs, ms);
            QDir(dst).removeRecursively();
        };
        if (round % 2 == 0) {
            runOurs();
            runMv();
        } else {
            runMv();
            runOurs();
        }
    }
    exfat.unmount();
    std::printf("move from exfat card size: %lld MB\n", static_cast<long long>(bytes / 1'000'000));
    std::printf("move from exfat card time: %lld ms\n", static_cast<long long>(oursMs));
    std::printf("mv from exfat card time: %lld ms\n", static_cast<long long>(mvMs));
    std::printf("move from exfat card ratio to mv: %.2f x\n", mvMs > 0 ? double(oursMs) / double(mvMs) : 0.0);
    if (failed || left || mvExit != 0 || oursMs < 0 || mvMs < 0)
        std::printf("move from exfat card failed: %d (left on the card %d, mv exit %d)\n", failed, left, mvExit);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() == 2)
        return copyInto(arguments[0], arguments[1], lg::FileOpKind::Copy);
    if (arguments.size() == 3 && arguments[0] == QStringLiteral("--move"))
        return copyInto(arguments[1], arguments[2], lg::FileOpKind::Move);
    if (arguments == QStringList{QStringLiteral("--move")})
        return cardMoveRun();
    if (!arguments.isEmpty()) {
        std::fprintf(stderr, "usage: bench_fileops [--move] [SRC DST]\n");
        return 2;
    }
    const int generated = generatedRun();
    return generated != 0 ? generated : attributeRun();
}
