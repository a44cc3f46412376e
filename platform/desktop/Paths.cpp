// Where the program keeps its settings, caches and data, after the XDG folders.
#include "platform/desktop/Paths.h"

#include "platform/base/XdgDirectories.h"
#include "platform/files/names/FileNames.h"

#include "Version.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <pwd.h>
#include <unistd.h>

namespace lg {

namespace {

// The folder, made when missing; the path is returned either way.
QString ensured(const QString &path)
{
    if (!QFileInfo(path).isDir() && !QDir().mkpath(path))
        qWarning().noquote() << "Could not create the folder" << path;
    return path;
}

QString appFolderIn(XdgKind base)
{
    return LexicalPaths::clean(xdgBaseDirectory(base)) + QLatin1Char('/') + QStringLiteral(LG_APPLICATION_NAME);
}

} // namespace

QString Paths::home()
{
    const QString home = QDir::homePath();
    const QString canonical = QFileInfo(home).canonicalFilePath();
    return canonical.isEmpty() ? LexicalPaths::clean(home) : canonical;
}

QString Paths::userName()
{
    for (const char *variable : {"USER", "LOGNAME"}) {
        const QString name = qEnvironmentVariable(variable);
        if (!name.isEmpty())
            return name;
    }
    // The login name of the password database (a service or a cron job starts
    // us without either variable); the home folder's name says nothing then.
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    QByteArray buffer(size > 0 ? int(size) : 16384, '\0');
    passwd entry {};
    passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), size_t(buffer.size()), &found) == 0 && found
        && found->pw_name && *found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return QFileInfo(home()).fileName();
}

QString Paths::cache()
{
    return ensured(appFolderIn(XdgKind::Cache));
}

QString Paths::appData()
{
    return ensured(appFolderIn(XdgKind::Data));
}

QString Paths::config()
{
    return appFolderIn(XdgKind::Config);
}

QString Paths::dataHome()
{
    return ensured(LexicalPaths::clean(xdgBaseDirectory(XdgKind::Data)));
}

QString Paths::autostart()
{
    return LexicalPaths::clean(xdgBaseDirectory(XdgKind::Config)) + QStringLiteral("/autostart");
}

QString Paths::pictures()
{
    return LexicalPaths::clean(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
}

QString Paths::picturesOrHome()
{
    const QString folder = pictures();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : home();
}

QString Paths::defaultPhotosLibrary()
{
    return pictures() + QStringLiteral("/Photos Library.photoslibrary");
}

bool Paths::isInsideHome(const QString &path)
{
    // The spelling as given first: that needs no file system access, which
    // matters for a drop of thousands of files.
    if (LexicalPaths::isInside(LexicalPaths::clean(path), LexicalPaths::clean(QDir::homePath())))
        return true;
    // Then both spellings of each side, so that a home folder reached
    // through a symbolic link still counts.
    const QString homes[] = {LexicalPaths::clean(QDir::homePath()), home()};
    QString paths[] = {LexicalPaths::clean(path), FileNames::canonical(path)};
    for (const QString &h : homes) {
        for (const QString &p : paths) {
            if (LexicalPaths::isInside(p, h))
                return true;
        }
    }
    return false;
}

} // namespace lg
