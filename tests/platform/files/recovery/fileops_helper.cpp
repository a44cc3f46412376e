// A process that starts one file operation and stops inside it, holding what
// it holds there (its temporaries and their locks), until it is killed: the
// stand-in for a copy, a Replace or a rotate killed half-way, or still running
// in another process, container or machine.
//
//   platform_fileops_helper copy SOURCE FOLDER      stops while copying data
//   platform_fileops_helper replace SOURCE FOLDER   Replace on a file system that
//                                                   cannot swap; stops once the
//                                                   old item is set aside
//   platform_fileops_helper exchange move|copy SOURCE FOLDER
//                                                   a folder Replace by a move on
//                                                   one disk, or by a copy; stops
//                                                   right after the exchange
//   platform_fileops_helper write TARGET            an image write; stops before
//                                                   the temporary is renamed
//   platform_fileops_helper quit                    starts the cleanup of what killed
//                                                   runs left, whose first open
//                                                   blocks for good, then quits
//                                                   as the program does
//   platform_fileops_helper move SOURCE FOLDER      a move across disks; stops in
//                                                   its delete step
//   platform_fileops_helper trashinfo SOURCE        Move to Trash by copy; stops once
//                                                   its .trashinfo is made, before
//                                                   the copy begins
//   platform_fileops_helper bring SOURCE FOLDER     a folder Replace by a move on a
//                                                   file system that can neither
//                                                   swap nor refuse to replace;
//                                                   stops once both are set aside
//   platform_fileops_helper trash SOURCE            Move to Trash by copy (as from
//                                                   another disk); stops while copying
//   platform_fileops_helper trashrename SOURCE [TOP]
//                                                   Move to Trash by a rename (into the
//                                                   Trash of the disk whose top is TOP,
//                                                   when given); stops once its
//                                                   .trashinfo is made
//   platform_fileops_helper emptyinfo SOURCE [TOP]  Move to Trash by a rename, as
//                                                   trashrename; stops once its
//                                                   .trashinfo is made, before it
//                                                   is written
//   platform_fileops_helper emptyinfocopy SOURCE    Move to Trash by copy (as from
//                                                   another disk); stops as emptyinfo
//   platform_fileops_helper readonly SOURCE FOLDER  a move of a read-only folder;
//                                                   stops once it is opened up
//   platform_fileops_helper removal TREE            a removal as the ordinary user
//                                                   ("nobody"); stops at the first
//                                                   file, its folders opened up
//   platform_fileops_helper placeholder SOURCE FOLDER [copy|refused]
//                                                   a move (or a copy) on a disk
//                                                   without RENAME_NOREPLACE (or a
//                                                   move where it is refused); stops
//                                                   once the placeholder is made
//   platform_fileops_helper batch KIND SOURCE FOLDER STOP
//                                                   one item through a batch as the
//                                                   screens run it (KIND copy, move,
//                                                   or either with "-replace"); stops
//                                                   at STOP: "placeholder" once a
//                                                   placeholder holds the target's
//                                                   name, "data" while copying data,
//                                                   "setaside" once the item replaced
//                                                   is set aside (on a disk that
//                                                   cannot swap)
//   platform_fileops_helper killat N copy|move|replace-copy|replace-move SOURCE FOLDER
//   platform_fileops_helper killat N trash SOURCE
//                                                   a folder or file copied or moved into
//                                                   FOLDER through a batch as the screens
//                                                   run it (replace-: putting SOURCE's
//                                                   name's item in FOLDER in its place),
//                                                   or moved to the Trash; killed (SIGKILL,
//                                                   by itself) at the Nth step the file
//                                                   layer asks the fault hook about;
//                                                   prints "finished steps K" when it ran
//                                                   through in K steps (N 0: never killed)
//   platform_fileops_helper cleanas FOLDER          as the user "nobody" (its uid, no
//                                                   privilege left): about to write in
//                                                   FOLDER, which reads it for
//                                                   leftovers; prints "cleaned" and
//                                                   exits 0, or 77 when no other user
//                                                   can be played here
//
// Prints "stopped" once it has stopped there; exits 2 when it never got there.
#include "platform/files/operations/FileBatch.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/image/ImageWriter.h"
#include "platform/files/recovery/Temporaries.h"
#include "platform/files/recovery/Journal.h"
#include "platform/files/operations/Trash.h"
#include "platform/runtime/Dispatch.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <csignal>
#include <sys/fsuid.h>
#include <unistd.h>

namespace {

[[noreturn]] void stopHere()
{
    std::printf("stopped\n");
    std::fflush(stdout);
    for (;;)
        ::pause();
}

} // namespace

// Starts the cleanup, whose open of a folder blocks (a share whose server is
// away), and quits once it blocks: returns when the quit is done.
int quitWhileTheCleanupBlocks(int argc, char **argv)
{
    static std::atomic<bool> blocked{false};
    lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
        if (step == lg::FileStep::OpenFolder) {
            blocked = true;
            for (;;)
                ::pause();
        }
        return 0;
    });
    QCoreApplication app(argc, argv);
    lg::startCleaningFoldersLeftByKilledRuns();
    for (int waited = 0; !blocked; ++waited) {
        if (waited > 20000)
            return 2;
        ::usleep(1000);
    }
    std::printf("stopped\n");
    std::fflush(stdout);
    lg::beginShutdown();
    lg::drainBackgroundWork();
    return 0;
}

// Drops every privilege for the user "nobody" and claims a temporary in
// folder, which reads it for leftovers first; nothing is made there.
int cleanAsAnotherUser(const QString &folder)
{
    if (::geteuid() != 0 || ::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0
        || ::setuid(0) == 0)
        return 77;
    lg::TemporaryOwner owner = lg::TemporaryOwner::claim(folder + QStringLiteral("/probe"), lg::TemporaryKind::Copy);
    owner.dropClaim();
    std::printf("cleaned\n");
    std::fflush(stdout);
    return 0;
}

// One item through a batch, stopped at stop (see the top of this file).
int runBatchUntil(const QByteArray &kind, const QString &source, const QString &folder, const QByteArray &stop)
{
    static QByteArray stopAt;
    stopAt = stop;
    lg::setFileFaultForTesting([](lg::FileStep step, const QString &path) {
        if (stopAt == "placeholder" && step == lg::FileStep::PlaceholderMade)
            stopHere();
        if (stopAt == "data" && step == lg::FileStep::CopyData)
            stopHere();
        if (stopAt == "setaside" && step == lg::FileStep::Swap)
            return EINVAL;
        if (stopAt == "setaside" && step == lg::FileStep::FinalRename && !QFileInfo::exists(path))
            stopHere();   // the old item is set aside, the new one not yet in place
        return 0;
    });
    lg::FileBatch batch(kind.startsWith("move") ? lg::FileOpKind::Move : lg::FileOpKind::Copy, folder);
    (void)batch.run({source}, kind.endsWith("-replace") ? lg::ConflictPolicy::Replace : lg::ConflictPolicy::Refuse);
    return 2;
}

// The copy, move, Replace or trashing of source, killed at its step at (see the top of this file).
int killAtStep(long at, const QByteArray &kind, const QString &source, const QString &folder)
{
    static std::atomic<long> steps{0};
    static long killAt = 0;
    killAt = at;
    lg::setFileFaultForTesting([](lg::FileStep, const QString &) {
        if (++steps == killAt)
            ::kill(::getpid(), SIGKILL);
        return 0;
    });
    const bool replace = kind.startsWith("replace-");
    const QByteArray operation = replace ? kind.mid(8) : kind;
    if (operation == "copy" || operation == "move") {
        lg::FileBatch batch(operation == "move" ? lg::FileOpKind::Move : lg::FileOpKind::Copy, folder);
        const lg::FileBatch::Outcome outcome =
            batch.run({source}, replace ? lg::ConflictPolicy::Replace : lg::ConflictPolicy::Refuse);
        if (replace && at == 0 && (outcome.results.size() != 1 || !outcome.results.at(0).ok()))
            return 2;
    } else {
        (void)lg::moveToTrash(source);
    }
    std::printf("finished steps %ld\n", steps.load());
    std::fflush(stdout);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc >= 5 && QByteArray(argv[1]) == "killat")
        return killAtStep(QByteArray(argv[2]).toLong(), argv[3], QString::fromLocal8Bit(argv[4]),
                          argc > 5 ? QString::fromLocal8Bit(argv[5]) : QString());
    if (argc == 6 && QByteArray(argv[1]) == "batch")
        return runBatchUntil(argv[2], QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]), argv[5]);
    if (argc == 2 && QByteArray(argv[1]) == "quit")
        return quitWhileTheCleanupBlocks(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "cleanas")
        return cleanAsAnotherUser(QString::fromLocal8Bit(argv[2]));
    if (argc < 3)
        return 1;
    const QByteArray mode = argv[1];
    const QString first = QString::fromLocal8Bit(argv[2]);
    const QString second = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (mode == "copy") {
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::CopyData)
                stopHere();
            return 0;
        });
        (void)lg::copyItem(first, second);
    } else if (mode == "replace") {
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Swap)
                return EINVAL;
            if (step == lg::FileStep::FinalRename && !QFileInfo::exists(path))
                stopHere();   // the old item is set aside, the new one not yet in place
            return 0;
        });
        (void)lg::copyItem(first, second, lg::ConflictPolicy::Replace);
    } else if (mode == "exchange" && argc > 4) {
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::Exchanged)
                stopHere();
            return 0;
        });
        const QString folder = QString::fromLocal8Bit(argv[4]);
        if (first == QLatin1String("move"))
            (void)lg::moveItem(second, folder, lg::ConflictPolicy::Replace);
        else
            (void)lg::copyItem(second, folder, lg::ConflictPolicy::Replace);
    } else if (mode == "move") {
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::Rename)
                return EXDEV;   // the folder is on another disk: copy, then delete
            if (step == lg::FileStep::Remove)
                stopHere();
            return 0;
        });
        (void)lg::moveItem(first, second);
    } else if (mode == "trashinfo") {
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
            static int renames = 0;
            if (step == lg::FileStep::Rename && ++renames == 2)
                stopHere();   // the Trash's rename was refused; the move is about to copy
            return step == lg::FileStep::Rename ? EXDEV : 0;
        });
        (void)lg::moveToTrash(first);
    } else if (mode == "bring") {
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Swap || step == lg::FileStep::NoReplaceRename)
                return EINVAL;
            if (step == lg::FileStep::FinalRename && !QFileInfo::exists(path))
                stopHere();   // the old item is set aside, the moved one beside it
            return 0;
        });
        (void)lg::moveItem(first, second, lg::ConflictPolicy::Replace);
    } else if (mode == "trash") {
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::Rename)
                return EXDEV;   // the Trash is on another disk: it takes a copy
            if (step == lg::FileStep::CopyData)
                stopHere();
            return 0;
        });
        (void)lg::moveToTrash(first);
    } else if (mode == "trashrename") {
        if (!second.isEmpty())
            lg::setDiskTopForTesting(second);
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::Rename)
                stopHere();
            return 0;
        });
        (void)lg::moveToTrash(first);
    } else if (mode == "emptyinfo" || mode == "emptyinfocopy") {
        if (!second.isEmpty())
            lg::setDiskTopForTesting(second);
        static bool byCopy = mode == "emptyinfocopy";
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
            static int made = 0;
            // By copy: the Trash's rename is refused, and the home Trash's
            // .trashinfo is made anew for the copy.
            if (step == lg::FileStep::TrashInfoMade && ++made == (byCopy ? 2 : 1))
                stopHere();
            return step == lg::FileStep::Rename && byCopy ? EXDEV : 0;
        });
        (void)lg::moveToTrash(first);
    } else if (mode == "readonly") {
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
            static int renames = 0;
            if (step == lg::FileStep::FinalRename && ++renames == 2)
                stopHere();
            // As for an ordinary user, whom a read-only folder refuses to move.
            return step == lg::FileStep::FinalRename ? EACCES : 0;
        });
        (void)lg::moveItem(first, second);
    } else if (mode == "removal") {
        if (::geteuid() == 0) {
            ::setfsgid(65534);
            ::setfsuid(65534);
        }
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Remove && QFileInfo(path).isFile())
                stopHere();
            return 0;
        });
        (void)lg::removeTree(first);
    } else if (mode == "placeholder") {
        static bool refused = argc > 4 && QByteArray(argv[4]) == "refused";
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::PlaceholderMade)
                stopHere();
            // A disk that refuses RENAME_NOREPLACE (exFAT through FUSE, NFS).
            return step == lg::FileStep::NoReplaceRename && refused ? EINVAL : 0;
        });
        if (argc > 4 && QByteArray(argv[4]) == "copy")
            (void)lg::copyItem(first, second);
        else
            (void)lg::moveItem(first, second);
    } else if (mode == "exit") {
        // Ends through exit(1), as Qt does when the display is lost: with the
        // owner of a temporary alive ("in use"), or once it is done with.
        auto *made = new lg::TemporaryFile(lg::createTemporaryFile(first, lg::TemporaryKind::Copy));
        if (made->fd < 0 || ::write(made->fd, "partial", 7) != 7)
            return 3;
        if (second != QLatin1String("in use")) {
            ::unlink(QFile::encodeName(made->path).constData());
            delete made;
        }
        std::exit(1);
    } else if (mode == "write") {
        lg::ImageWriter::setCommitHookForTesting([](const QString &) -> bool { stopHere(); });
        QString error;
        (void)lg::ImageWriter::replaceFileContents(first, QByteArray(4096, 'n'), &error);
    }
    return 2;
}
