#pragma once
// The folder chooser of Move To and Copy To (the grid's, the list's and the
// viewer's), and the icon of a file or folder as the desktop shows it. The
// chooser lists folders by their names' bytes (lg::FileNames): a folder whose
// name is not valid UTF-8 is listed, told apart from a look-alike whose name
// holds U+FFFD, and chosen as itself. Main thread only, but foldersIn (any
// thread).
#include <QIcon>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QWidget;

// A folder the chooser offers: its full path (carried bytes included) and
// the words of its row. A name that is not valid UTF-8 reads as it is shown
// elsewhere (U+FFFD for each stray byte) followed by its bytes written out
// ("caf� (caf\xE9)"), so that it never reads as its look-alike.
struct FolderChoice
{
    QString path;
    QString label;
    bool operator==(const FolderChoice &) const = default;
};
QString folderChoiceLabel(const QString &name);

// The folders in folder (links to folders too; hidden ones left out), in
// name order, read by the folder's bytes; none when it cannot be read.
std::optional<QList<FolderChoice>> foldersIn(const QString &folder);

// Asks for one folder, starting in startFolder (the home folder when empty),
// with prompt on the confirming button ("Move", "Copy"). done gets the
// folder's path by its bytes, or none when the user cancelled; a cancel also
// clears the hub's isonlyalert and hides its busy overlay, which the caller
// showed in its alert form before. In tests lg::Panels' open responder
// answers (a file URL made by lg::FileNames::urlOf keeps a name's bytes).
void chooseDestinationFolder(QWidget *parent, const QString &prompt, const QString &startFolder,
                             std::function<void(std::optional<QString> folder)> done);

// The icon of the file or folder at url; none (and the line "Error reading file
// attributes") when it cannot be read; an empty icon when it has none.
std::optional<QIcon> effectiveIconOfURL(const QUrl &url);
