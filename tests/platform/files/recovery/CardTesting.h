#pragma once
// Memory cards for the tests of the file layer: a FAT image mounted through
// FUSE (fusefat), an exFAT image through a loop device of its own mounted
// through FUSE (exfat-fuse), and a FAT or exFAT image the kernel's own driver
// mounts through a loop device. Each stays mounted for its guard's life where the
// machine has the tools and lets this process mount; where it cannot, the
// guard says why, for the test to skip.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A FAT image of kilobytes mounted through FUSE (fusefat) on folder/card for
// a test's life: path is empty (why says why) where none can be had here.
struct FuseFatCard
{
    FuseFatCard(const QString &folder, int kilobytes)
    {
        const QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.vfat"), {"/usr/sbin", "/sbin", "/usr/bin"});
        const QString fuse = QStandardPaths::findExecutable(QStringLiteral("fusefat"), {"/usr/bin", "/usr/sbin", "/bin"});
        if (mkfs.isEmpty() || fuse.isEmpty()) {
            why = QStringLiteral("FUSE FAT (dosfstools, fusefat) is needed");
            return;
        }
        const QString card = folder + "/card";
        QDir().mkpath(card);
        QProcess format;
        format.setStandardOutputFile(QProcess::nullDevice());
        format.start(mkfs, {"-C", folder + "/card.img", QString::number(kilobytes)});
        if (!format.waitForFinished(10000) || format.exitCode() != 0) {
            why = QStringLiteral("No FAT image can be made here");
            return;
        }
        QProcess mounting;
        mounting.setStandardOutputFile(QProcess::nullDevice());
        mounting.start(fuse, {"-o", "rw+", folder + "/card.img", card});
        struct stat top, above;
        if (!mounting.waitForFinished(10000) || mounting.exitCode() != 0
            || ::stat(QFile::encodeName(card).constData(), &top) != 0
            || ::stat(QFile::encodeName(folder).constData(), &above) != 0 || top.st_dev == above.st_dev) {
            why = QStringLiteral("A FAT image cannot be mounted through FUSE here");
            ::umount2(QFile::encodeName(card).constData(), MNT_DETACH);
            return;
        }
        path = card;
    }
    ~FuseFatCard()
    {
        if (!path.isEmpty())
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
    FuseFatCard(const FuseFatCard &) = delete;
    FuseFatCard &operator=(const FuseFatCard &) = delete;
    QString path;
    QString why;
};

// An exFAT card (an image through a loop device of its own, mounted through
// FUSE at one place or another) for the guard's life, where the machine has
// the tools and lets this process mount.
struct ExfatCard
{
    explicit ExfatCard(const QString &image)
    {
        m_fuse = QStandardPaths::findExecutable(QStringLiteral("mount.exfat-fuse"), {"/usr/sbin", "/sbin", "/usr/bin"});
        const QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.exfat"), {"/usr/sbin", "/sbin", "/usr/bin"});
        QFile sized(image);
        if (mkfs.isEmpty() || m_fuse.isEmpty() || ::geteuid() != 0 || !sized.open(QIODevice::WriteOnly)
            || !sized.resize(8 << 20))
            return;
        sized.close();
        QProcess format;
        format.setStandardOutputFile(QProcess::nullDevice());
        format.start(mkfs, {image});
        QProcess loop;
        if (format.waitForFinished(10000) && format.exitCode() == 0)
            loop.start(QStringLiteral("losetup"), {"-f", "--show", image});
        if (loop.waitForFinished(10000) && loop.exitCode() == 0)
            m_device = QString::fromLocal8Bit(loop.readAllStandardOutput()).trimmed();
        m_image = image;
    }
    ExfatCard(const QString &image, const QString &at) : ExfatCard(image) { mountAt(at); }
    // A copy of card's image as it is now (as dd makes one: the same volume),
    // through a loop device of its own.
    ExfatCard(const QString &image, const ExfatCard &card)
    {
        m_fuse = card.m_fuse;
        QProcess loop;
        if (!card.m_device.isEmpty() && QFile::copy(card.m_image, image))
            loop.start(QStringLiteral("losetup"), {"-f", "--show", image});
        if (loop.waitForFinished(10000) && loop.exitCode() == 0)
            m_device = QString::fromLocal8Bit(loop.readAllStandardOutput()).trimmed();
        m_image = image;
    }
    ~ExfatCard()
    {
        unmount();
        if (!m_device.isEmpty())
            QProcess::execute(QStringLiteral("losetup"), {"-d", m_device});
    }
    // options: the driver's (-o), as "umask=0" that lets everyone write everywhere.
    bool mountAt(const QString &at, const QString &options = QString())
    {
        QDir().mkpath(at);
        const QStringList arguments = options.isEmpty() ? QStringList{m_device, at}
                                                        : QStringList{"-o", options, m_device, at};
        if (!m_device.isEmpty() && QProcess::execute(m_fuse, arguments) == 0)
            m_at = at;
        return mounted();
    }
    void unmount()
    {
        if (!m_at.isEmpty())
            ::umount2(QFile::encodeName(m_at).constData(), MNT_DETACH);
        m_at.clear();
    }
    bool mounted() const { return !m_at.isEmpty(); }
    QString m_fuse, m_device, m_at, m_image;
};

// A FAT or exFAT image (type "vfat" or "exfat") of 8 MB that the kernel's own
// driver mounts through a loop device, on folder/card for a test's life: path
// is empty (why says why) where the kernel has no such driver or the process
// may not mount.
struct KernelCard
{
    KernelCard(const QString &folder, const QString &type)
    {
        const QString mkfs = QStandardPaths::findExecutable(type == QLatin1String("vfat") ? QStringLiteral("mkfs.vfat")
                                                                                         : QStringLiteral("mkfs.exfat"),
                                                            {"/usr/sbin", "/sbin", "/usr/bin"});
        const QString image = folder + "/kernel-" + type + ".img", card = folder + "/card";
        const QString named =
            type == QLatin1String("vfat") ? QStringLiteral("a FAT image") : QStringLiteral("an exFAT image");
        QFile sized(image);
        if (mkfs.isEmpty() || ::geteuid() != 0 || !sized.open(QIODevice::WriteOnly) || !sized.resize(8 << 20)) {
            why = QStringLiteral("Mounting %1 needs its mkfs and root").arg(named);
            return;
        }
        sized.close();
        QDir().mkpath(card);
        QProcess format, mounting;
        format.setStandardOutputFile(QProcess::nullDevice());
        format.setStandardErrorFile(QProcess::nullDevice());
        format.start(mkfs, {image});
        if (!format.waitForFinished(10000) || format.exitCode() != 0) {
            why = QStringLiteral("No %1 can be made here").arg(named.mid(named.indexOf(' ') + 1));
            return;
        }
        mounting.setStandardOutputFile(QProcess::nullDevice());
        mounting.setStandardErrorFile(QProcess::nullDevice());
        mounting.start(QStringLiteral("mount"), {"-t", type, "-o", "loop", image, card});
        if (!mounting.waitForFinished(10000) || mounting.exitCode() != 0) {
            why = QStringLiteral("The kernel cannot mount %1 here").arg(named);
            return;
        }
        path = card;
    }
    ~KernelCard()
    {
        if (!path.isEmpty())
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
    KernelCard(const KernelCard &) = delete;
    KernelCard &operator=(const KernelCard &) = delete;
    QString path;
    QString why;
};

// A card on folder/card of the kind named: "fusefat" (of kilobytes),
// "exfat-fuse", or the kernel's own "vfat" or "exfat" (8 MB each).
struct CardOfKind
{
    CardOfKind(const QString &folder, const QString &kind, int kilobytes = 8192)
    {
        if (kind == QLatin1String("fusefat")) {
            fat.emplace(folder, kilobytes);
            path = fat->path;
            why = fat->why;
        } else if (kind == QLatin1String("exfat-fuse")) {
            exfat.emplace(folder + "/card.img", folder + "/card");
            path = exfat->m_at;
            why = QStringLiteral("An exFAT image cannot be mounted through FUSE here");
        } else {
            kernel.emplace(folder, kind);
            path = kernel->path;
            why = kernel->why;
        }
    }
    std::optional<FuseFatCard> fat;
    std::optional<ExfatCard> exfat;
    std::optional<KernelCard> kernel;
    QString path;
    QString why;
};

} // namespace
