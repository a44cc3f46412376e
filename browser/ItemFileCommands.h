#pragma once
// The file commands of the content browser: Duplicate, Move to Trash, Move To,
// Copy To, paste from the clipboard, files dropped from other programs, and the
// same-name sheet ("Replace", "Make a Copy", "Stop") that settles clashes.
//
// A command turns the selection (or the clipboard, or the drop) into the files
// chosen (paths and identities) on the main thread when it is chosen, before
// any question or panel (a reload meanwhile changes nothing), then hands them
// to the one flow of file commands (model/FileCommandFlow.h), which asks,
// checks, runs, settles and tells, with the hub's overlay; this screen's part
// is the folder monitor stopped while the work runs, and the view reloaded after.
// Entry points are main thread only.
#include "model/FileCommandFlow.h"
#include "platform/files/operations/FileOperations.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

struct BrowseView;
class QWidget;

class ItemFileCommands : public QObject
{
    Q_OBJECT
public:
    // A path whose name is not valid UTF-8 is refused, said in the window
    // (what the name is and what to do); true then, and the caller does nothing.
    bool sayNameIsNotText(const QString &path);
    explicit ItemFileCommands(QObject *parent = nullptr);

    // The instance of the content controller.
    static ItemFileCommands *instance();

    void duplicateItems(const BrowseView &view);
    // Asks first; on "Yes" the files selected when it was chosen go to the Trash.
    void trashItems(const BrowseView &view);
    void moveItemsTo(const BrowseView &view);
    void copyItemsTo(const BrowseView &view);
    // The clipboard's media files into the current folder (moved when cut).
    void pasteItems();
    // Files dropped on the grid or the list from outside. True when the drop is
    // taken; false (no message) when it is refused.
    bool acceptDrop(const QList<QUrl> &urls);

    // Runs a command through the flow (FileCommandFlow.h): the folder monitor
    // stopped while it works, the view reloaded after each run. currentFolderSheet: the same-name question speaks of the
    // current folder (else of the destination folder).
    void runCommand(FileCommandRequest request, bool currentFolderSheet);

Q_SIGNALS:
    // A batch has finished and its ending has run (tests wait for it).
    void batchFinished();

private:
    // The questions of a drop (the search one, then Copy or Move), the overlay up.
    void askAboutDrop(const QStringList &sources, const QString &targetFolder);
    void showCopyOrMoveAlert(const ChosenItems &sources, const QString &targetFolder);
    void chooseAndTransfer(const BrowseView &view, bool move);
    // The folder panel of Move To (move) or Copy To, then the command for chosen.
    void chooseDestinationFor(const ChosenItems &chosen, bool move);
    QWidget *window() const;
};
