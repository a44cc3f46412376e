#pragma once
// File URLs on the clipboard and in drags, in the forms Linux file managers write
// and read: text/uri-list plus x-special/gnome-copied-files ("copy" or "cut",
// then the URIs), and KDE's application/x-kde-cutselection. A cut marks a move.
// Main thread (the system clipboard is a GUI object).
#include <QList>
#include <QUrl>

class QMimeData;

#include <optional>

namespace lg {

struct FileClip
{
    QList<QUrl> urls;   // local file URLs only, in order, without duplicates
    bool cut = false;   // the source should be moved, not copied
};

class Clipboard
{
public:
    // New mime data holding the files (the caller owns it; QClipboard/QDrag take it).
    static QMimeData *mimeDataForFiles(const QList<QUrl> &urls, bool cut = false);
    // Puts the files on the system clipboard; an empty list empties the clipboard.
    static void writeFiles(const QList<QUrl> &urls, bool cut = false);
    // The files held by mime data (non-file and undecodable entries are passed over).
    static FileClip readFiles(const QMimeData *data);
    // The cleaned local path of one URL line of a text/uri-list when it is a
    // plain file URL ("file:///...", host empty or localhost, well-formed
    // escapes, no NUL); none for anything else, which the caller reads with
    // QUrl's strict parser. Reading a drop of thousands of files this way
    // takes a few milliseconds instead of a QUrl per line. Any thread.
    static std::optional<QString> plainFileURLPath(QByteArrayView line);
    // The files on the system clipboard.
    static FileClip readFiles();
    // True when data holds at least one local file whose lower-cased extension is
    // in extensions.
    static bool holdsFileWithExtension(const QMimeData *data, const QStringList &extensions);
};

} // namespace lg
