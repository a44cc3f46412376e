// The viewer's Move to Trash, Move To and Copy To, through the one flow.
#include "viewer/ViewerFileCommands.h"

#include "app/Essentials.h"
#include "browser/DestinationChooser.h"
#include "model/FileCommandFlow.h"
#include "model/ScreenHooks.h"
#include "platform/files/names/FileNames.h"
#include "viewer/viewimagevc.h"

#include <QPointer>

#include <algorithm>

ViewerFileCommands::ViewerFileCommands(viewimagevc *viewer) : QObject(viewer), m_viewer(viewer)
{
    setObjectName(QStringLiteral("viewerFileCommands"));
}

void ViewerFileCommands::trashShownFile(const lg::AlertSpec &question)
{
    const std::optional<ChosenItem> shown = m_viewer->shownFileAsChosen();
    if (!shown)
        return;
    // The file the user saw, as shown: one changed since is refused.
    FileCommandRequest request;
    request.kind = lg::FileOpKind::Trash;
    request.chosen.items = {*shown};
    request.chosenWhen = ChosenWhen::Shown;
    request.confirmation = question;
    run(std::move(request), *m_viewer->currentItemFileURL());
}

void ViewerFileCommands::moveOrCopyShownFile(const QString &prompt, bool copy)
{
    const std::optional<ChosenItem> shown = m_viewer->shownFileAsChosen();
    if (!shown)
        return;
    const ChosenItem chosen = *shown;
    const QString source = chosen.path;
    const QUrl listed = *m_viewer->currentItemFileURL();
    showOverlay(Overlay::Sheet);
    QPointer<ViewerFileCommands> self(this);
    const QString sourceFolder = source.left(std::max<qsizetype>(source.lastIndexOf(QLatin1Char('/')), 1));
    chooseDestinationFolder(m_viewer->window(), prompt, sourceFolder,
                              [self, chosen, listed, sourceFolder, copy](std::optional<QString> folder) {
        if (!folder)
            return;   // the chooser has put the overlay away
        // Into its own folder: nothing to move.
        if (!self || folder->isEmpty() || (!copy && lg::isSameFile(*folder, sourceFolder))) {
            showOverlay(Overlay::Hidden);
            return;
        }
        FileCommandRequest request;
        request.kind = copy ? lg::FileOpKind::Copy : lg::FileOpKind::Move;
        request.chosen.items = {chosen};
        request.chosenWhen = ChosenWhen::Shown;
        request.targetFolder = *folder;
        self->run(std::move(request), listed);
    });
}

void ViewerFileCommands::run(FileCommandRequest request, const QUrl &listed)
{
    FileCommandScreen screen;
    screen.owner = this;
    QPointer<viewimagevc> self(m_viewer);
    screen.window = [self]() -> QWidget * { return self ? self->window() : nullptr; };
    screen.settled = [self, kind = request.kind, listed](const QList<lg::FileOpResult> &results, const std::any &) {
        showOverlay(Overlay::Hidden);
        if (!self || kind == lg::FileOpKind::Copy)
            return;
        // The file leaves the viewer once it has left its place (or was
        // already gone), also when it was found under a new name.
        for (const lg::FileOpResult &result : results) {
            const bool left = result.arrived() || (kind == lg::FileOpKind::Trash
                                                   && result.error == lg::FileOpError::SourceMissing);
            if (!left || lg::existsOrLink(result.source))
                continue;
            // Listed under its new name once the folder was read again.
            const QUrl moved = lg::FileNames::urlOf(result.source);
            const QVector<InitialDirectory> &shown = activeItemList();
            const bool listedAsMoved = std::any_of(shown.cbegin(), shown.cend(), [&moved](const InitialDirectory &item) {
                return item.file && item.file->url == moved;
            });
            self->removeItemFromViewer(listedAsMoved ? moved : listed);
        }
    };
    runFileCommand(std::move(screen), std::move(request));
}
