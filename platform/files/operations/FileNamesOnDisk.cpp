// Names as a folder on disk holds them: typed names, free numbered names, how a
// file system compares names, names that are not text, and whether two paths are
// one file or one lies inside the other.
#include "platform/files/operations/FileOperations.h"
#include "platform/files/operations/FileOperationsShared.h"

#include "platform/files/operations/CopyEntry.h"
#include "platform/base/LexicalPaths.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/names/NumberedNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <vector>

namespace lg {

using namespace fileops;

// ---- Names ----
bool isValidFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

FreeNameFinder::FreeNameFinder(const QString &folder)
    : m_folder(folder)
{
    std::vector<QByteArray> names;
    int err = 0;
    if (listNames(FileNames::toNative(folder), &names, &err)) {
        m_taken.reserve(qsizetype(names.size()));
        for (const QByteArray &entry : names)
            m_taken.insert(FileNames::fromNative(entry).toLower());
    }
}

void FreeNameFinder::addTaken(const QString &name)
{
    m_taken.insert(name.toLower());
}

bool FreeNameFinder::isFree(const QString &candidate) const
{
    // The listing may be old by now: the disk has the last word.
    struct stat st;
    return !m_taken.contains(candidate.toLower()) && !lstatPath(joinPath(m_folder, candidate), &st);
}

QString numberedName(const QString &name, std::optional<qint64> number, const NameNumbering &numbering)
{
    return FileNames::fromNative(numberedNameBytes(FileNames::toNative(name), number, numbering.isFolder, FileNames::toNative(numbering.separator),
                                                   numbering.maxBytes));
}

QString FreeNameFinder::peek(const QString &name, const NameNumbering &numbering) const
{
    if (numbering.tryPlainNameFirst) {
        const QString plain = numberedName(name, std::nullopt, numbering);
        if (isFree(plain))
            return plain;
    }
    for (qint64 n = numbering.firstNumber;; ++n) {
        const QString candidate = numberedName(name, n, numbering);
        if (isFree(candidate))
            return candidate;
    }
}

QString FreeNameFinder::take(const QString &name, const NameNumbering &numbering)
{
    const QString free = peek(name, numbering);
    addTaken(free);
    return free;
}

QString freeName(const QString &folder, const QString &name, const NameNumbering &numbering,
                 const QStringList &alsoTaken)
{
    FreeNameFinder finder(folder);
    for (const QString &other : alsoTaken)
        finder.addTaken(other);
    return finder.peek(name, numbering);
}

NameCase nameCaseForFileSystem(qint64 statfsType)
{
    switch (quint32(statfsType)) {
    case MSDOS_SUPER_MAGIC:   // vfat, msdos
    case 0x2011BAB0u:         // exfat
    case 0x5346544Eu:         // ntfs
    case 0x7366746Eu:         // ntfs3
    case 0x482Bu:             // hfsplus
    case 0xFF534D42u:         // cifs
    case 0xFE534D42u:         // smb2
    case SMB_SUPER_MAGIC:
        return NameCase::Insensitive;
    default:
        return NameCase::Sensitive;
    }
}

NameCase nameCaseOf(const QString &folder)
{
    struct statfs fs;
    if (::statfs(FileNames::toNative(folder).constData(), &fs) != 0)
        return NameCase::Sensitive;
    return nameCaseForFileSystem(qint64(fs.f_type));
}

QString nameKey(const QString &name, NameCase nameCase)
{
    return nameCase == NameCase::Insensitive ? name.toCaseFolded() : name;
}

QString unreadableNameMessage(const QString &path)
{
    // Up to the nearest part that exists; the part below it is looked for by
    // the bytes of its folder's entries.
    QString existing = QDir::cleanPath(path);
    QString missing;
    struct stat st;
    while (!existing.isEmpty() && existing != QLatin1String("/") && !lstatPath(existing, &st)) {
        if (errno != ENOENT)
            return {};
        missing = existing;
        existing = parentOf(existing);
    }
    if (missing.isEmpty())
        return {};
    const QString name = nameOf(missing);
    if (!name.contains(QChar::ReplacementCharacter))
        return {};
    std::vector<QByteArray> names;
    int err = 0;
    if (!listNames(FileNames::toNative(existing), &names, &err))
        return {};
    for (const QByteArray &entry : names) {
        // The entry's name as text: each stray byte as U+FFFD.
        if (FileNames::shown(FileNames::fromNative(entry)) != name)
            continue;
        // Whole bytes: a name cut inside a character ("Caf\xe9") is not text either.
        if (FileNames::hasRawBytes(FileNames::fromNative(entry)))
            return FileNames::notTextMessage(missing);
    }
    return {};
}

// ---- Comparisons ----
bool isSameFile(const QString &a, const QString &b)
{
    struct stat sa, sb;
    if (::stat(FileNames::toNative(a).constData(), &sa) != 0 || ::stat(FileNames::toNative(b).constData(), &sb) != 0)
        return false;
    return sameInode(sa, sb);
}

namespace {
// The canonical form of path; a part that does not exist yet is kept as given
// under its nearest existing ancestor.
QString canonicalOf(const QString &path)
{
    QString existing = QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
    QStringList rest;
    while (true) {
        const QString canonical = FileNames::canonical(existing);   // by the bytes, never a look-alike
        if (!canonical.isEmpty()) {
            QString result = canonical;
            for (auto it = rest.crbegin(); it != rest.crend(); ++it)
                result = joinPath(result, *it);
            return result;
        }
        if (existing == QLatin1String("/"))
            return QDir::cleanPath(path);
        rest.append(nameOf(existing));
        existing = parentOf(existing);
    }
}
} // namespace

bool isInsideCanonical(const QString &path, const QString &folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return false;
    return LexicalPaths::isInside(canonicalOf(path), canonicalOf(folder));
}

bool existsOrLink(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && lstatPath(path, &st);
}

} // namespace lg
