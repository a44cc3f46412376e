#include "browser/DestinationChooser.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "platform/desktop/Panels.h"
#include "platform/files/FileNames.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QTextStream>

void chooseDestinationFolder(QWidget *parent, const QString &prompt,
                             std::function<void(std::optional<QUrl> folder)> done)
{
    lg::OpenPanelSpec spec;
    spec.chooseFiles = false;
    spec.chooseDirectories = true;
    spec.allowsMultipleSelection = false;
    spec.showsHiddenFiles = false;
    spec.prompt = prompt;
    lg::Panels::open(parent, spec, [done = std::move(done)](const QList<QUrl> &urls) {
        if (urls.isEmpty()) {
            // The overlay goes back to its working form for what comes next.
            mainvc *hub = contentHub();
            hub->isonlyalert = false;
            hub->hideBusyLoader();
            done(std::nullopt);
            return;
        }
        done(urls.first());
    });
}

std::optional<QIcon> effectiveIconOfURL(const QUrl &url)
{
    const QFileInfo info(lg::FileNames::pathOf(url));
    if (!url.isLocalFile() || !info.exists()) {
        QTextStream(stdout) << "Error reading file attributes" << Qt::endl;
        return std::nullopt;
    }
    static QFileIconProvider provider;
    return provider.icon(info);
}
