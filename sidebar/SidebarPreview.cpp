// The sidebar's preview of the chosen item.
#include "sidebar/SidebarPreview.h"

#include "app/Essentials.h"
#include "browser/ViewController.h"
#include "controls/SvgArt.h"
#include "model/FileServices.h"
#include "model/FileTypeIcon.h"
#include "model/MediaRecords.h"
#include "model/ThumbnailCache.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Background.h"
#include "sidebar/sideMenuvc.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>

#include <algorithm>

SidebarPreview::SidebarPreview(sideMenuvc *sidebar) : QObject(sidebar), m_sidebar(sidebar)
{
    setObjectName(QStringLiteral("sidebarPreview"));
}

QFrame *SidebarPreview::makeBox(QWidget *parent)
{
    auto *previewBox = new QFrame(parent);
    previewBox->setObjectName(QStringLiteral("previewBox"));
    previewBox->setFixedHeight(150);
    QLabel *picture = new QLabel(previewBox);
    picture->setObjectName(QStringLiteral("imgviewThumbnail"));
    picture->setAlignment(Qt::AlignCenter);
    picture->setMinimumSize(1, 1);
    picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    picture->setStyleSheet(QStringLiteral("background: transparent;"));
    QLabel *badge = new QLabel(previewBox);
    badge->setObjectName(QStringLiteral("video_icon"));
    badge->setFixedSize(36, 36);
    badge->setStyleSheet(QStringLiteral("background: transparent;"));
    badge->hide();
    badge->setPixmap(svgPixmap(QStringLiteral(":/images/sidebar/video-badge.svg"), badge->size(),
                               std::max<qreal>(2.0, m_sidebar->devicePixelRatioF())));
    auto *previewGrid = new QGridLayout(previewBox);
    previewGrid->setContentsMargins(10, 10, 10, 10);
    previewGrid->addWidget(picture, 0, 0);
    previewGrid->addWidget(badge, 0, 0, Qt::AlignCenter);
    m_sidebar->imgviewThumbnail = picture;
    m_sidebar->video_icon = badge;
    return previewBox;
}

void SidebarPreview::clear()
{
    ++m_generation;
    m_sidebar->imgviewThumbnail->clear();
    m_sidebar->video_icon->hide();
}

void SidebarPreview::update()
{
    QLabel *picture = m_sidebar->imgviewThumbnail;
    QLabel *badge = m_sidebar->video_icon;
    badge->hide();
    if (itemList.isEmpty()) {
        clear();
        return;
    }
    // No selection keeps the picture, and the one still on its way.
    if (selectedItemIndex == -1)
        return;
    const int generation = ++m_generation;
    contentController()->fillInfoPane();

    const InitialDirectory *item = nullptr;
    if (isSearchActive) {
        if (!searchResults.isEmpty() && selectedItemIndex >= 0 && selectedItemIndex < searchResults.size())
            item = &searchResults.at(selectedItemIndex);
    } else if (selectedItemIndex >= 0 && selectedItemIndex < itemList.size()) {
        item = &itemList.at(selectedItemIndex);
    }
    if (!item || !item->file) {
        picture->clear();
        return;
    }
    const QUrl url = item->file->url;
    const bool isImage = item->isImage;
    // The picture is made off the main thread and shown when it is ready,
    // unless another item has been asked for meanwhile.
    const int side = int(std::max(picture->width(), picture->height()) * m_sidebar->devicePixelRatioF());
    const int maxSide = std::clamp(side, 64, 800);
    // The picture of the file itself, read by its name's exact bytes: a name
    // that is not valid UTF-8 never shows its look-alike's picture.
    const QString path = lg::FileNames::pathOf(url);
    // Decoded within the thumbnails' budget, as theirs are.
    const ThumbnailCache *cache = &ThumbnailCache::shared();
    lg::runThenCallback(
        this,
        [url, path, isImage, maxSide, cache] {
            if (isImage) {
                if (std::optional<QImage> thumbnail = cache->decodedWithinBudget(path, maxSide))
                    return *thumbnail;
            } else if (lg::FileNames::hasRawBytes(path)) {
                // The video readers know a file by a text name only: its type's icon stands in.
            } else if (std::optional<QImage> frame = videoThumbnail(url)) {
                return *frame;
            }
            return QImage();
        },
        [this, generation, path](const QImage &image) { show(image, generation, path); });
    if (!isImage) {
        badge->show();
        badge->raise();
    }
}

void SidebarPreview::show(const QImage &image, int generation, const QString &path)
{
    if (generation != m_generation)
        return;
    QLabel *picture = m_sidebar->imgviewThumbnail;
    const qreal ratio = m_sidebar->devicePixelRatioF();
    const QSize room = picture->size() * ratio;
    if (image.isNull()) {
        // A file without a picture shows the icon of its type, as the grid does.
        const QImage icon = path.isEmpty() ? QImage() : fileTypeIconImage(path, std::min(room.width(), room.height()));
        if (icon.isNull()) {
            picture->clear();
        } else {
            QPixmap pixmap = QPixmap::fromImage(icon);
            pixmap.setDevicePixelRatio(ratio);
            picture->setPixmap(pixmap);
        }
        return;
    }
    QPixmap pixmap = QPixmap::fromImage(image.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    picture->setPixmap(pixmap);
}
