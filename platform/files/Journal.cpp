// The journal of folders holding temporaries, and the start-up cleanup of the folders that killed runs' entries name.
#include "platform/files/Journal.h"
#include "platform/files/TemporariesShared.h"

#include "platform/desktop/FileNames.h"
#include "platform/files/FileOperations.h"
#include "platform/files/Removal.h"
#include "platform/runtime/Dispatch.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace lg {

using namespace temporaries;

namespace {


constexpr char journalHeader[] = "[Lumen Gallery folder]";
constexpr qint64 missingFolderDays = 30;   // a folder missing this long is forgotten

QByteArray journalFolder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return enc(QDir::cleanPath(state) + QStringLiteral("/lumengallery/temporaries"));
}

} // namespace

// The journal's folder, made (0700) where missing; -1 when it cannot be.
namespace temporaries {

int openJournalFolder(bool make)
{
    const QByteArray path = journalFolder();
    if (make) {
        for (qsizetype slash = path.indexOf('/', 1); slash >= 0; slash = path.indexOf('/', slash + 1))
            ::mkdir(path.left(slash).constData(), 0700);
        ::mkdir(path.constData(), 0700);
    }
    return ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace temporaries

namespace {

// The disk a folder lies on, as the mount table names it: where it is
// mounted, its device ("<major>:<minor>") and the part of that file system
// mounted there. An unplugged card, a disk mounted elsewhere and a share not
// mounted yet are not there.
struct Disk
{
    QByteArray mountPoint, device, root;
    bool isEmpty() const { return mountPoint.isEmpty(); }
    bool operator==(const Disk &) const = default;
};

// A field of /proc/self/mountinfo with its octal escapes undone.
QByteArray unescapedField(const QByteArray &escaped)
{
    QByteArray field;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        if (escaped.at(i) == '\\' && i + 3 < escaped.size()) {
            field.append(char(escaped.mid(i + 1, 3).toInt(nullptr, 8)));
            i += 3;
        } else {
            field.append(escaped.at(i));
        }
    }
    return field;
}

// Every mount now, in the table's order (later mounts over earlier ones);
// empty when the table cannot be read.
std::vector<Disk> mountedDisks()
{
    std::vector<Disk> disks;
    if (injectedFileFault(FileStep::MountTable, QStringLiteral("/proc/self/mountinfo")) != 0)
        return disks;
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return disks;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() >= 5)
            disks.push_back({unescapedField(fields.at(4)), fields.at(2), unescapedField(fields.at(3))});
    }
    return disks;
}

// path lies at or under mountPoint, by whole components.
bool isUnder(const QByteArray &path, const QByteArray &mountPoint)
{
    return mountPoint == "/" || path == mountPoint || path.startsWith(mountPoint + '/');
}

// The disk of folder: the last mount over it whose device is the folder's.
Disk diskOf(const QByteArray &folder)
{
    char resolved[PATH_MAX];
    struct stat st;
    if (!::realpath(folder.constData(), resolved) || ::stat(resolved, &st) != 0)
        return {};
    const QByteArray path(resolved);
    const QByteArray device = QByteArray::number(major(st.st_dev)) + ':' + QByteArray::number(minor(st.st_dev));
    Disk found;
    for (const Disk &disk : mountedDisks())
        if (disk.device == device && isUnder(path, disk.mountPoint)
            && (found.isEmpty() || disk.mountPoint.size() >= found.mountPoint.size()))
            found = disk;
    return found;
}

bool isMounted(const Disk &disk, const std::vector<Disk> &table)
{
    return std::find(table.cbegin(), table.cend(), disk) != table.cend();
}

// One entry of the journal: the folder, its disk when it was written (older
// entries lack it), and since when (seconds since the epoch) the folder has
// been found missing, or 0.
struct JournalText
{
    QByteArray folder;
    Disk disk;
    qint64 missingSince = 0;
};

QByteArray journalText(const JournalText &entry)
{
    QByteArray text = QByteArray(journalHeader) + "\nFolder=" + entry.folder.toPercentEncoding("/") + "\n";
    if (!entry.disk.isEmpty())
        text += "Disk=" + entry.disk.mountPoint.toPercentEncoding("/") + "\nDevice=" + entry.disk.device
                + "\nRoot=" + entry.disk.root.toPercentEncoding("/") + "\n";
    if (entry.missingSince > 0)
        text += "Missing=" + QByteArray::number(entry.missingSince) + "\n";
    return text;
}

// What an entry says, when text is exactly what this program writes: one
// absolute folder, and optionally its disk and since when it is missing.
std::optional<JournalText> parseJournal(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 3 || lines.size() > 7 || lines.at(0) != journalHeader || !lines.at(1).startsWith("Folder="))
        return std::nullopt;
    JournalText entry;
    entry.folder = QByteArray::fromPercentEncoding(lines.at(1).mid(7));
    qsizetype next = 2;
    if (lines.size() >= 6 && lines.at(2).startsWith("Disk=") && lines.at(3).startsWith("Device=")
        && lines.at(4).startsWith("Root=")) {
        entry.disk = {QByteArray::fromPercentEncoding(lines.at(2).mid(5)), lines.at(3).mid(7),
                      QByteArray::fromPercentEncoding(lines.at(4).mid(5))};
        if (!entry.disk.mountPoint.startsWith('/') || !isNumberList(entry.disk.device, 2))
            return std::nullopt;
        next = 5;
    }
    if (next + 2 == lines.size() && lines.at(next).startsWith("Missing=")) {
        bool ok = false;
        entry.missingSince = lines.at(next).mid(8).toLongLong(&ok);
        if (!ok || entry.missingSince <= 0)
            return std::nullopt;
    }
    if (!entry.folder.startsWith('/') || entry.folder.contains('\0') || entry.folder.size() > 4095
        || text != journalText(entry))
        return std::nullopt;
    return entry;
}

// This process's entries, by folder: held open and locked while it has
// temporaries there, and for a while after (the last few folders written, so
// that a batch into one folder syncs one entry, not one per item); the folder
// of an idle entry holds nothing of ours unless left says so. An idle entry
// goes when it is the oldest of too many, and at exit; a killed process's idle
// entries cost the next start one reading of their folders.
struct JournalEntry
{
    int fd = -1;
    QByteArray name;
    int owners = 0;
    bool left = false;   // something of ours stays there: the entry stays too
    quint64 lastUse = 0;
};

void closeEntry(const JournalEntry &entry)
{
    if (entry.fd < 0)
        return;
    if (!entry.left) {
        const int dirFd = openJournalFolder(false);
        if (dirFd >= 0) {
            ::unlinkat(dirFd, entry.name.constData(), 0);
            ::close(dirFd);
        }
    }
    ::close(entry.fd);   // a kept entry is a dead process's from now on
}

struct Journal
{
    std::map<QByteArray, JournalEntry> entries;
    quint64 uses = 0;
    ~Journal()
    {
        for (const auto &[folder, entry] : entries)
            closeEntry(entry);
    }
};
constexpr int maxIdleEntries = 8;
std::mutex g_journalMutex;
Journal g_journal;

} // namespace

namespace temporaries {

QByteArray newToken()
{
    return QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(tokenLength, '0');
}

} // namespace temporaries

namespace {

// Writes text, synced, as a new entry of the journal open as dirFd; its name,
// or empty on failure. With fd, the entry stays open and locked there (its
// process lives); without, it is closed and counts as a dead process's.
QByteArray writeJournalEntry(int dirFd, const QByteArray &text, int *fd)
{
    const QByteArray name = newToken();
    const QByteArray making = '.' + name + ".new";
    const int made = ::openat(dirFd, making.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    // Locked before it gets its name: an entry under its name is never taken
    // for a dead process's while its maker lives.
    if (made >= 0 && ::flock(made, LOCK_EX) == 0
        && ::write(made, text.constData(), size_t(text.size())) == text.size() && ::fsync(made) == 0
        && ::renameat(dirFd, making.constData(), dirFd, name.constData()) == 0) {
        if (fd)
            *fd = made;
        else
            ::close(made);
        return name;
    }
    if (made >= 0) {
        ::unlinkat(dirFd, making.constData(), 0);
        ::close(made);
    }
    return {};
}

} // namespace

// Notes, synced, that this process is about to hold temporaries in folder.
// Best effort: a journal that cannot be written does not stop the write.
namespace temporaries {

void journalAcquire(const QByteArray &folder)
{
    if (!folder.startsWith('/'))
        return;
    std::lock_guard<std::mutex> lock(g_journalMutex);
    JournalEntry &entry = g_journal.entries[folder];
    entry.lastUse = ++g_journal.uses;
    if (entry.owners++ > 0 || entry.fd >= 0)
        return;
    const int dirFd = openJournalFolder(true);
    if (dirFd < 0)
        return;
    entry.name = writeJournalEntry(dirFd, journalText({folder, diskOf(folder), 0}), &entry.fd);
    ::close(dirFd);
}

} // namespace temporaries

// One temporary in folder is done with; left says that something of it stays.
namespace temporaries {

void journalRelease(const QByteArray &folder, bool left)
{
    if (!folder.startsWith('/'))
        return;
    std::lock_guard<std::mutex> lock(g_journalMutex);
    auto &entries = g_journal.entries;
    const auto it = entries.find(folder);
    if (it == entries.end())
        return;
    it->second.left = it->second.left || left;
    if (--it->second.owners > 0)
        return;
    if (it->second.fd < 0) {
        entries.erase(it);
        return;
    }
    for (;;) {
        auto oldest = entries.end();
        int idle = 0;
        for (auto e = entries.begin(); e != entries.end(); ++e) {
            if (e->second.owners > 0)
                continue;
            ++idle;
            if (oldest == entries.end() || e->second.lastUse < oldest->second.lastUse)
                oldest = e;
        }
        if (idle <= maxIdleEntries)
            break;
        closeEntry(oldest->second);
        entries.erase(oldest);
    }
}

} // namespace temporaries

void cleanFoldersLeftByKilledRuns()
{
    const int dirFd = openJournalFolder(false);
    if (dirFd < 0)
        return;
    std::vector<QByteArray> names;
    int err = 0;
    const uid_t user = fileSystemUser();
    struct Entry
    {
        int fd;
        QByteArray name;
        JournalText text;
    };
    std::map<QByteArray, std::vector<Entry>> byFolder;
    if (listFolderAt(dirFd, &names, &err)) {
        for (const QByteArray &name : names) {
            const bool making = name.startsWith('.') && name.endsWith(".new") && isToken(name.mid(1, name.size() - 5));
            if (!making && !isToken(name))
                continue;
            struct stat named, opened;
            if (::fstatat(dirFd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)
                || named.st_uid != user || named.st_size > maxJournalBytes)
                continue;
            const int fd = ::openat(dirFd, name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0)
                continue;
            QByteArray text(qsizetype(named.st_size), '\0');
            if (::fstat(fd, &opened) != 0 || opened.st_ino != named.st_ino || opened.st_dev != named.st_dev
                || ::flock(fd, LOCK_EX | LOCK_NB) != 0   // its process lives
                || ::pread(fd, text.data(), size_t(text.size()), 0) != text.size()) {
                ::close(fd);
                continue;
            }
            const std::optional<JournalText> entry = parseJournal(text);
            if (!entry) {   // half written by a killed process, or damaged: it names nothing
                ::unlinkat(dirFd, name.constData(), 0);
                ::close(fd);
                continue;
            }
            byFolder[entry->folder].push_back({fd, name, *entry});
        }
    }
    std::optional<std::vector<Disk>> table;   // read once, when needed
    const auto mounted = [&table](const Disk &disk) {
        if (!table)
            table = mountedDisks();
        return !disk.isEmpty() && isMounted(disk, *table);
    };
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (auto &[folder, entries] : byFolder) {
        // An entry goes once its folder holds nothing of ours on its own disk,
        // or is gone while that disk is there, or has been missing too long;
        // an unplugged card or a share not mounted keeps it for a later look.
        bool drop = false, missing = false;
        if (!isShuttingDown()) {
            Scan scan;
            int openErr = 0;
            if (cleanLeftovers(folder, true, &scan, &openErr)) {
                const bool clean = scan.complete && !scan.leftOurs && scan.held.empty();
                for (const Entry &entry : entries)
                    missing = missing || (!entry.text.disk.isEmpty() && !mounted(entry.text.disk));
                drop = clean && !missing;
            } else if (openErr == ENOENT || openErr == ENOTDIR) {
                missing = true;
                drop = std::all_of(entries.cbegin(), entries.cend(),
                                   [&mounted](const Entry &entry) { return mounted(entry.text.disk); });
            }
        }
        for (Entry &entry : entries) {
            const bool tooLong = missing && entry.text.missingSince > 0
                                 && now - entry.text.missingSince > missingFolderDays * 24 * 3600;
            if (drop || tooLong) {
                ::unlinkat(dirFd, entry.name.constData(), 0);
            } else if (missing && entry.text.missingSince == 0) {
                // Noted as missing from now on: the entry only grows, so a
                // kill meanwhile leaves the old text or the new one.
                entry.text.missingSince = now;
                const QByteArray text = journalText(entry.text);
                if (::pwrite(entry.fd, text.constData(), size_t(text.size()), 0) == text.size())
                    ::ftruncate(entry.fd, text.size());
            } else if (!missing && entry.text.missingSince > 0 && !isShuttingDown()) {
                // Found again: a new entry, then the old one goes.
                entry.text.missingSince = 0;
                if (!writeJournalEntry(dirFd, journalText(entry.text), nullptr).isEmpty())
                    ::unlinkat(dirFd, entry.name.constData(), 0);
            }
            ::close(entry.fd);
        }
    }
    ::close(dirFd);
}

namespace {

// The one run of the start-up cleanup at a time, on a thread of its own that
// nobody waits for: a folder whose open() blocks (a share whose server is
// away) never holds a quit. A run asked for meanwhile follows the current one.
struct CleanupRuns
{
    std::mutex mutex;
    bool running = false;
    bool again = false;
};
CleanupRuns &g_runs = *new CleanupRuns;   // never destroyed: the thread may outlive main()

void runCleanupThread()
{
    {
        std::lock_guard<std::mutex> lock(g_runs.mutex);
        if (g_runs.running) {
            g_runs.again = true;
            return;
        }
        g_runs.running = true;
    }
    std::thread([] {
        for (;;) {
            if (!isShuttingDown())
                cleanFoldersLeftByKilledRuns();
            std::lock_guard<std::mutex> lock(g_runs.mutex);
            if (!g_runs.again || isShuttingDown()) {
                g_runs.running = false;
                return;
            }
            g_runs.again = false;
        }
    }).detach();
}

} // namespace

void startCleaningFoldersLeftByKilledRuns()
{
    if (isShuttingDown())
        return;
    runCleanupThread();
    // A disk mounted later (a card put back, a share come up) gets a look
    // then: the mount table's file reports each change as an exception.
    if (QCoreApplication::instance() && isMainThread()) {
        static QPointer<QSocketNotifier> watch;
        if (watch)
            return;
        const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        watch = new QSocketNotifier(fd, QSocketNotifier::Exception, QCoreApplication::instance());
        QObject::connect(watch, &QSocketNotifier::activated, watch, [] {
            if (!isShuttingDown())
                runCleanupThread();
        });
        QObject::connect(watch, &QObject::destroyed, [fd] { ::close(fd); });
    }
}

bool isCleaningFoldersLeftByKilledRunsForTesting()
{
    std::lock_guard<std::mutex> lock(g_runs.mutex);
    return g_runs.running;
}


} // namespace lg
