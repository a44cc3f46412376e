#include "model/PhotoLibraryImport.h"

#include "model/SharedState.h"
#include "platform/desktop/Alert.h"
#include "platform/files/names/FileNames.h"

#include <QDir>
#include <QFileInfo>

bool isPhotoLibraryImportTarget(const std::optional<QUrl> &folder)
{
    if (!folder || !folder->isLocalFile())
        return false;
    const QString name = QFileInfo(QDir::cleanPath(lg::FileNames::pathOf(*folder))).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && name.mid(dot + 1).toLower() == QLatin1String("photoslibrary");
}

void refusePhotoLibraryImport(QWidget *parent, std::function<void()> done)
{
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Warning;
    spec.title = QStringLiteral("Photos library import is not available");
    spec.text = QStringLiteral("Files cannot be imported into a Photos library on this system.");
    spec.buttons = {QStringLiteral("OK")};
    lg::Alert::show(parent, spec, [done = std::move(done)](int) {
        if (done)
            done();
    });
}

void startPhotoLibraryImport()
{
    // Files queued for another kind of folder stay queued, as before.
    if (importQueue.isEmpty() || !isPhotoLibraryImportTarget(currentFolderURL))
        return;
    // Nothing can take the files: the queue is emptied and the user told. The
    // files themselves stay where they were; the library is not touched.
    importQueue.clear();
    refusePhotoLibraryImport(lg::Alert::activeWindow());
}
