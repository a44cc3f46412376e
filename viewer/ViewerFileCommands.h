#pragma once
// The viewer's file commands on the file on show: Move to Trash after its
// question, Move To and Copy To a chosen folder. Each takes the file as the
// viewer shows it (followed to a new name within its folder, as every file
// command finds its file) and hands it to the one flow of file commands
// (model/FileCommandFlow.h), which asks, checks, runs, settles and says
// what failed in the window; this part takes the file out of the viewer once
// it has left its place. Main thread; it lives as long as its viewer.
#include "platform/desktop/Alert.h"

#include <QObject>
#include <QString>
#include <QUrl>

struct FileCommandRequest;
class viewimagevc;

class ViewerFileCommands : public QObject
{
    Q_OBJECT
public:
    explicit ViewerFileCommands(viewimagevc *viewer);

    // The file on show to the Trash, after question.
    void trashShownFile(const lg::AlertSpec &question);
    // The folder panel (prompt: "Move" or "Copy"), then the file on show
    // copied or moved there.
    void moveOrCopyShownFile(const QString &prompt, bool copy);

private:
    // Runs request through the flow; the file, listed as listed, leaves the
    // viewer once it has left its place.
    void run(FileCommandRequest request, const QUrl &listed);

    viewimagevc *m_viewer;
};
