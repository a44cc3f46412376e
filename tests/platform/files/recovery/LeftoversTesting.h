#pragma once
// What the tests of the leftovers of killed runs share (test_temporaries,
// test_journal, test_stoppedmoves, test_folderrecords, test_trashleftovers):
// a helper process stopped inside a file operation, planted records and
// journal entries, bind-mounted and exFAT cards.
#include "platform/files/names/FileIdentity.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/files/recovery/FolderRecords.h"
#include "platform/files/recovery/Temporaries.h"
#include "platform/files/recovery/Journal.h"
#include "platform/files/recovery/Removal.h"
#include "platform/files/recovery/StoppedMoves.h"
#include "platform/files/operations/Trash.h"
#include "platform/runtime/Dispatch.h"
#include "tests/platform/files/recovery/FileTesting.h"
#include "tests/platform/files/recovery/CardTesting.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>

#include <atomic>
#include <cstdlib>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using lg::test::entries;
using lg::test::FaultGuard;

namespace {

// The names in folder that begin with prefix.
inline QStringList entriesStartingWith(const QString &folder, const QString &prefix)
{
    QStringList found;
    for (const QString &name : entries(folder))
        if (name.startsWith(prefix))
            found << name;
    return found;
}

inline QStringList hiddenEntries(const QString &folder)
{
    return entriesStartingWith(folder, QStringLiteral("."));
}

// The helper process, stopped inside an operation; killed when it goes.
class StoppedOperation
{
public:
    StoppedOperation(const QStringList &arguments, bool ownPidNamespace = false)
    {
        QString program = QStringLiteral(LG_FILEOPS_HELPER);
        QStringList args = arguments;
        const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
        if (ownPidNamespace && !unshare.isEmpty()
            && QProcess::execute(unshare, {QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("true")}) == 0) {
            args.prepend(program);
            args = QStringList{QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("--kill-child")} + args;
            program = unshare;
        }
        m_process.start(program, args);
        m_stopped = m_process.waitForReadyRead(20000) && m_process.readAll().startsWith("stopped");
    }
    ~StoppedOperation() { kill(); }
    bool stopped() const { return m_stopped; }
    void kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

private:
    QProcess m_process;
    bool m_stopped = false;
};

// True once no lock file in folder is held any more (a killed process's locks go
// with its last file descriptor).
inline bool locksAreFree(const QString &folder)
{
    for (const QString &name : entries(folder)) {
        if (!name.startsWith(QLatin1String(".lglock-")))
            continue;
        const int fd = ::open(QFile::encodeName(folder + "/" + name).constData(), O_RDONLY | O_CLOEXEC);
        const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (fd >= 0)
            ::close(fd);
        if (!free)
            return false;
    }
    return true;
}

// Makes a temporary in folder, which first cleans it up.
inline void writeInto(const QString &folder, const QString &name)
{
    const QString source = lg::test::freshFolder(QStringLiteral("trigger ") + name) + QLatin1Char('/') + name;
    lg::test::writeFile(source + QStringLiteral("/t.txt"), "t");
    const lg::FileOpResult r = lg::copyItem(source, folder);   // a folder goes by a named temporary
    QVERIFY2(r.ok(), qPrintable(r.message));
}

inline QByteArray raw(const QString &path) { return QFile::encodeName(path); }

constexpr char token[] = "0123456789abcdef";

// A lock record as this program writes it (name and temporary given as they
// stand in the file, percent-encoded).
inline QByteArray record(const QByteArray &kind, const QByteArray &name, const QByteArray &temporary)
{
    return "[Lumen Gallery temporary]\nKind=" + kind + "\nName=" + name + "\nTemporary=" + temporary + "\n";
}

// What another user plants: a folder, a file (with its bytes) or a link (to
// data); or what they move: path renamed to data.
struct Plant
{
    enum Kind { Folder, File, Link, Rename } kind;
    QByteArray path;
    QByteArray data;
};

// Makes plants in a child process that runs as uid and gid 65534 ("nobody").
// 0 when all were made; 77 when no other user can be played here.
inline int plantAsAnotherUser(const std::vector<Plant> &plants)
{
    const pid_t child = ::fork();
    if (child < 0)
        return 77;
    if (child == 0) {
        // Only system calls from here on: the parent has other threads.
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(77);
        for (const Plant &plant : plants) {
            bool made = false;
            if (plant.kind == Plant::Folder) {
                made = ::mkdir(plant.path.constData(), 0755) == 0;
            } else if (plant.kind == Plant::Link) {
                made = ::symlink(plant.data.constData(), plant.path.constData()) == 0;
            } else if (plant.kind == Plant::Rename) {
                made = ::rename(plant.path.constData(), plant.data.constData()) == 0;
            } else {
                const int fd = ::open(plant.path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                made = fd >= 0 && ::write(fd, plant.data.constData(), size_t(plant.data.size())) == plant.data.size();
                if (fd >= 0)
                    ::close(fd);
            }
            if (!made)
                ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return 1;
    return WEXITSTATUS(status);
}

// Lets every user through the folders above path (the private HOME is 0700).
inline void openTheWayTo(const QString &path)
{
    for (QString up = QFileInfo(path).absolutePath(); up != QLatin1String("/") && !up.isEmpty();
         up = QFileInfo(up).absolutePath()) {
        struct stat st;
        if (::stat(raw(up).constData(), &st) == 0)
            ::chmod(raw(up).constData(), (st.st_mode & 07777) | 0011);
    }
}

// The one hidden entry of folder whose name holds part; empty when none.
inline QString hiddenWith(const QString &folder, const QString &part)
{
    for (const QString &name : hiddenEntries(folder))
        if (name.contains(part))
            return name;
    return {};
}

// Which of the journal's entries: all, or only those no living process holds.
enum class JournalEntries { All, LeftByEndedRuns };

// The folders the journal's entries name (in the user's state folder).
inline QStringList journalFolders(JournalEntries which = JournalEntries::All)
{
    const QString journal = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/lumengallery/temporaries");
    QStringList folders;
    for (const QString &name : entries(journal)) {
        if (which == JournalEntries::LeftByEndedRuns) {
            const int fd = ::open(raw(journal + "/" + name).constData(), O_RDONLY | O_CLOEXEC);
            const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
            if (fd >= 0)
                ::close(fd);
            if (held)
                continue;
        }
        const QList<QByteArray> lines = lg::test::readAll(journal + "/" + name).split('\n');
        if (lines.size() > 1 && lines.at(1).startsWith("Folder="))
            folders << QDir::cleanPath(QFile::decodeName(QByteArray::fromPercentEncoding(lines.at(1).mid(7))));
    }
    return folders;
}

// The journal's folder, and the file of its entry that names folder; empty when none.
inline QString journalPath() { return qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/lumengallery/temporaries"); }
inline QString journalEntryFor(const QString &folder)
{
    for (const QString &name : entries(journalPath())) {
        const QList<QByteArray> lines = lg::test::readAll(journalPath() + "/" + name).split('\n');
        if (lines.size() > 1 && lines.at(1) == "Folder=" + raw(folder).toPercentEncoding("/"))
            return journalPath() + "/" + name;
    }
    return {};
}

// An entry of the journal as a dead process left it, naming folder on disk
// (empty: as an older version wrote it, without its disk), missing since then.
inline QByteArray journalEntry(const QString &folder, const QByteArray &disk = {}, qint64 missingSince = 0)
{
    QByteArray text = "[Lumen Gallery folder]\nFolder=" + raw(folder).toPercentEncoding("/") + "\n" + disk;
    if (missingSince > 0)
        text += "Missing=" + QByteArray::number(missingSince) + "\n";
    return text;
}

// A mount of a folder over another for the guard's life, where the machine
// lets this process mount (root).
struct BindMount
{
    BindMount(const QString &from, const QString &at)
        : m_from(from), m_at(at)
    {
        mount();
    }
    ~BindMount() { unmount(); }
    bool mount()
    {
        m_mounted = ::geteuid() == 0
                    && QProcess::execute(QStringLiteral("mount"), {QStringLiteral("--bind"), m_from, m_at}) == 0;
        return m_mounted;
    }
    void unmount()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {m_at});
        m_mounted = false;
    }
    bool mounted() const { return m_mounted; }
    QString m_from, m_at;
    bool m_mounted = false;
};

// A card: an ext4 image of its own, mounted (through a loop device) at one
// place or another, where the machine lets this process mount.
struct Card
{
    explicit Card(const QString &image) : m_image(image)
    {
        const int fd = ::open(raw(image).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        m_made = fd >= 0 && ::ftruncate(fd, 16 << 20) == 0;
        if (fd >= 0)
            ::close(fd);
        m_made = m_made && ::geteuid() == 0
                 && QProcess::execute(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), image}) == 0;
    }
    ~Card() { unmount(); }
    bool mountAt(const QString &at)
    {
        QDir().mkpath(at);
        if (m_made && QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop"), m_image, at}) == 0)
            m_at = at;
        return !m_at.isEmpty();
    }
    void unmount()
    {
        if (!m_at.isEmpty())
            QProcess::execute(QStringLiteral("umount"), {m_at});
        m_at.clear();
    }
    QString m_image, m_at;
    bool m_made = false;
};

// The names of the notes of stopped moves in the journal's folder.
inline QStringList moveNotes(const QString &journal)
{
    return entriesStartingWith(journal, QStringLiteral("move-"));
}

} // namespace

