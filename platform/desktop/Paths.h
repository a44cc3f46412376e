#pragma once
// The well-known folders: the XDG base directories (platform/base/XdgDirectories.h)
// and what lies in them, the pictures folder from Qt. Any thread; nothing fails
// but the making of a folder, which is logged.
#include "platform/base/LexicalPaths.h"

#include <QString>
#include <QStringList>

namespace lg {

// Paths by their spelling alone (cleaned, one inside another) are
// LexicalPaths' (platform/base/LexicalPaths.h), for every room alike.
class Paths
{
public:
    static QString home();            // QDir::homePath(), canonical when it exists
    // $USER, else $LOGNAME, else the login name of the password database, else
    // the last component of home.
    static QString userName();
    static QString cache();           // ~/.cache/lumengallery (created on demand)
    static QString appData();         // ~/.local/share/lumengallery (created on demand)
    static QString config();          // ~/.config/lumengallery
    // $XDG_DATA_HOME or ~/.local/share, by the one XDG rule (a relative value
    // is ignored: xdgBaseDirectory); created on demand: QFile::moveToTrash
    // misplaces files when it is missing, so call this before trashing.
    static QString dataHome();
    static QString autostart();       // $XDG_CONFIG_HOME/autostart
    static QString pictures();        // the XDG pictures folder
    // pictures() when it is a folder, else home(): where panels start (never made for that).
    static QString picturesOrHome();
    // The default Photos library: "Photos Library.photoslibrary" in Pictures.
    static QString defaultPhotosLibrary();

    // True when path is inside the home folder (or is it), also when either is
    // reached through a symbolic link.
    static bool isInsideHome(const QString &path);
};

} // namespace lg
