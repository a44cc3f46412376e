#include "browser/ShownItemsModel.h"

#include "app/Essentials.h"
#include "browser/Listing.h"
#include "model/FileServices.h"
#include "platform/runtime/Background.h"
#include "platform/files/names/FileNames.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLocale>

#include <algorithm>
#include <memory>
#include <optional>

ShownItemsModel::ShownItemsModel(Kind kind, QObject *parent) : QAbstractTableModel(parent), m_kind(kind)
{
    connect(&thumbnailCache(), &ThumbnailCache::thumbnailReady, this, &ShownItemsModel::thumbnailArrived);
    connect(&thumbnailCache(), &ThumbnailCache::pixelInfoReady, this, &ShownItemsModel::pixelInfoArrived);
}

void ShownItemsModel::reloadData()
{
    // A model of the window: never reloaded from a worker, whose wait for the
    // shared pool below could then hold up the end of the program.
    Q_ASSERT(lg::isMainThread());
    beginResetModel();
    m_items = activeItemList();
    // Taking the path out of each item's URL holds the window up over a large
    // folder: the keys are made on all cores, a chunk each.
    const qsizetype count = m_items.size();
    m_keys = QVector<ThumbnailKey>(count);
    ThumbnailKey *keys = m_keys.data();
    const InitialDirectory *items = m_items.constData();
    lg::forEachChunk(count, 1024, [keys, items](qsizetype begin, qsizetype end) {
        for (qsizetype row = begin; row < end; ++row)
            keys[row] = thumbnailKeyFor(items[row]);
    });
    m_rowOfPath.clear();
    m_rowOfPath.reserve(count);
    for (int row = 0; row < count; ++row)
        m_rowOfPath.insert(keys[row].path, row);
    m_restRequested = false;
    m_restWithPixels = false;
    endResetModel();
}

bool ShownItemsModel::showsActiveList() const
{
    const QVector<InitialDirectory> &active = activeItemList();
    return m_items.isSharedWith(active) || (m_items.isEmpty() && active.isEmpty());
}

const InitialDirectory *ShownItemsModel::entry(int row) const
{
    return row >= 0 && row < m_items.size() ? &m_items.at(row) : nullptr;
}

ThumbnailKey ShownItemsModel::keyAt(int row) const
{
    return row >= 0 && row < m_keys.size() ? m_keys.at(row) : ThumbnailKey();
}

int ShownItemsModel::rowOfPath(const QString &path) const
{
    return path.isEmpty() ? -1 : m_rowOfPath.value(path, -1);
}

int ShownItemsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

int ShownItemsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : (m_kind == Grid ? 1 : 7);
}

int ShownItemsModel::rowOf(const ThumbnailKey &key) const
{
    const int row = m_rowOfPath.value(key.path, -1);
    return row >= 0 && m_keys.at(row) == key ? row : -1;
}

void ShownItemsModel::thumbnailArrived(const ThumbnailKey &key)
{
    const int row = rowOf(key);
    if (row < 0)
        return;
    const QModelIndex cell = index(row, NameColumn);
    Q_EMIT dataChanged(cell, cell, {ThumbnailRole, Qt::DecorationRole, PendingRole});
}

void ShownItemsModel::pixelInfoArrived(const ThumbnailKey &key)
{
    const int row = rowOf(key);
    if (row < 0)
        return;
    if (m_kind == Grid)
        Q_EMIT dataChanged(index(row, 0), index(row, 0), {InfoLineRole});
    else
        Q_EMIT dataChanged(index(row, WidthColumn), index(row, HeightColumn), {Qt::DisplayRole});
}

void ShownItemsModel::requestWork(int first, int last, bool wantPixelSizes)
{
    const int count = int(m_items.size());
    if (count == 0) {
        thumbnailCache().cancel(this);
        return;
    }
    first = std::clamp(first, 0, count - 1);
    last = std::clamp(last, first, count - 1);
    auto add = [&](int row, QVector<ThumbnailRequest> &thumbnails, QVector<ThumbnailRequest> &pixels) {
        const InitialDirectory &item = m_items.at(row);
        if (!item.url)
            return;
        ThumbnailRequest request{m_keys.at(row), item.isImage, thumbnailSide(), true};
        if (wantPixelSizes && item.file)
            pixels.append(request);
        thumbnails.append(std::move(request));
    };

    // The rows on screen, then two screens below and one above, all kept
    // decoded: a scroll finds them ready to paint.
    const int span = last - first + 1;
    QVector<ThumbnailRequest> thumbnails;
    QVector<ThumbnailRequest> pixels;
    thumbnails.reserve(span * 4);
    for (int row = first; row <= last; ++row)
        add(row, thumbnails, pixels);
    for (int row = last + 1; row <= std::min(count - 1, last + 2 * span); ++row)
        add(row, thumbnails, pixels);
    for (int row = first - 1; row >= std::max(0, first - span); --row)
        add(row, thumbnails, pixels);
    thumbnailCache().request(this, thumbnails, pixels, ThumbnailCache::Now);

    // The whole list once per reload, in a later turn of the event loop.
    if (m_restRequested && (m_restWithPixels || !wantPixelSizes))
        return;
    m_restRequested = true;
    m_restWithPixels = wantPixelSizes;
    QMetaObject::invokeMethod(
        this,
        [this, wantPixelSizes] {
            if (!m_restRequested || m_restWithPixels != wantPixelSizes)
                return;
            QVector<ThumbnailRequest> all;
            QVector<ThumbnailRequest> allPixels;
            all.reserve(m_items.size());
            for (int row = 0; row < m_items.size(); ++row) {
                const InitialDirectory &item = m_items.at(row);
                if (!item.url)
                    continue;
                ThumbnailRequest request{m_keys.at(row), item.isImage, thumbnailSide(), false};
                if (wantPixelSizes && item.file)
                    allPixels.append(request);
                all.append(std::move(request));
            }
            thumbnailCache().request(this, all, allPixels, ThumbnailCache::Later);
        },
        Qt::QueuedConnection);
}

void ShownItemsModel::cancelWork()
{
    thumbnailCache().cancel(this);
    m_restRequested = false;
    m_restWithPixels = false;
}

QString ShownItemsModel::videoDimension(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

QString ShownItemsModel::shortDate(const QDateTime &date)
{
    return date.toLocalTime().toString(QStringLiteral("dd-MM-yy"));
}

namespace {

// The info line's mode as shown: a value other than 0, 1 or 2 keeps the line
// that showed before.
uint8_t shownInfoLineMode()
{
    static uint8_t lastShown = 0;
    if (infoLineMode <= 2)
        lastShown = infoLineMode;
    return lastShown;
}

} // namespace

QString ShownItemsModel::gridInfoLine(const InitialDirectory &item, const std::optional<PixelInfo> &pixels)
{
    switch (shownInfoLineMode()) {
    case 0:
        return item.file ? humanReadableSize(item.file->size) : QString();
    case 1:
        if (!pixels)
            return QString();
        if (pixels->imageSize)
            return QStringLiteral("%1*%2").arg(pixels->imageSize->width()).arg(pixels->imageSize->height());
        if (pixels->videoSize)
            return videoDimension(pixels->videoSize->width()) + QLatin1Char('*')
                + videoDimension(pixels->videoSize->height());
        return QString();
    case 2:
        return item.file ? shortDate(item.file->Modifieddate) : QString();
    default:
        return QString();
    }
}

QString ShownItemsModel::listText(int column, const InitialDirectory &item, const std::optional<PixelInfo> &pixels)
{
    if (!item.file)
        return QString();
    const QUrl &url = item.file->url;
    switch (column) {
    case NameColumn:
        return url.fileName();
    case WidthColumn:
    case HeightColumn: {
        if (!pixels)
            return QString();
        const bool width = column == WidthColumn;
        if (item.isImage)
            return pixels->imageSize ? QString::number(width ? pixels->imageSize->width() : pixels->imageSize->height())
                                     : QString();
        if (!pixels->videoSize)
            return QString();
        // Whole pixels as for pictures ("640"); a fraction only where there is one.
        return QString::number(width ? pixels->videoSize->width() : pixels->videoSize->height(), 'g',
                               QLocale::FloatingPointShortest);
    }
    case SizeColumn:
        return humanReadableSize(item.file->size);
    case KindColumn:
        return pathExtensionOf(url.fileName()).toUpper()
            + (item.isImage ? QStringLiteral(" image") : QStringLiteral(" video"));
    case CreatedColumn:
        return shortDate(item.file->createdDate);
    case ModifiedColumn:
        return shortDate(item.file->Modifieddate);
    default:
        return QString();
    }
}

QVariant ShownItemsModel::data(const QModelIndex &index, int role) const
{
    const InitialDirectory *item = entry(index.row());
    if (!item || !index.isValid())
        return QVariant();
    const int column = index.column();
    auto thumbnail = [&]() -> QVariant {
        if (const std::optional<QImage> image = thumbnailCache().thumbnail(m_keys.at(index.row())))
            return *image;
        return QVariant();
    };

    if (m_kind == Grid) {
        switch (role) {
        case Qt::DisplayRole:
            return item->url ? item->url->fileName() : QString();
        case Qt::ToolTipRole:
            return item->url ? lg::FileNames::pathOf(*item->url) : QString();
        case ThumbnailRole:
        case Qt::DecorationRole:
            return thumbnail();
        case PendingRole:
            return !thumbnailCache().contains(m_keys.at(index.row()))
                && !thumbnailCache().hasFailed(m_keys.at(index.row()));
        case InfoLineRole:
            return gridInfoLine(*item, shownInfoLineMode() == 1
                                           ? thumbnailCache().pixelInfo(m_keys.at(index.row()))
                                           : std::nullopt);
        default:
            return QVariant();
        }
    }

    switch (role) {
    case Qt::DisplayRole: {
        std::optional<PixelInfo> pixels;
        if (column == WidthColumn || column == HeightColumn)
            pixels = thumbnailCache().pixelInfo(m_keys.at(index.row()));
        return listText(column, *item, pixels);
    }
    case Qt::ToolTipRole:
        return item->file ? lg::FileNames::pathOf(item->file->url) : QString();
    case ThumbnailRole:
    case Qt::DecorationRole:
        return column == NameColumn && item->file ? thumbnail() : QVariant();
    case PendingRole:
        return column == NameColumn && item->file && !thumbnailCache().contains(m_keys.at(index.row()))
            && !thumbnailCache().hasFailed(m_keys.at(index.row()));
    case Qt::TextAlignmentRole:
        if (column == WidthColumn || column == HeightColumn || column == SizeColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

QVariant ShownItemsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || m_kind == Grid)
        return QVariant();
    static const char *const titles[] = {"Name", "Width", "Height", "Size", "Kind", "Date Created", "Date Modified"};
    return section >= 0 && section < 7 ? QString::fromLatin1(titles[section]) : QVariant();
}

Qt::ItemFlags ShownItemsModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // The name is renamed in place (browser/ItemEditing.cpp).
    if (index.column() == NameColumn)
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

// ---------------------------------------------------------------- selection by path

namespace {

// What a view had selected, by file, while a reset is under way.
struct KeptSelection
{
    std::optional<QUrl> folder;   // the folder the rows belonged to
    bool folderKnown = false;
    QStringList selected;         // shown order
    QString current;              // the view's current item
    QString selectedItem;         // the file of selectedItemIndex
    bool capturing = false;
};

// Whether the rows hold files of the current folder. A view switched to
// while another folder is being loaded (from the viewer, say) shows the old
// folder's list once more; its selection belongs to that folder.
bool rowsAreOfCurrentFolder(const ShownItemsModel *model)
{
    if (!currentFolderURL || !currentFolderURL->isLocalFile() || model->rowCount() == 0)
        return true;
    const QString folder = QDir::cleanPath(lg::FileNames::pathOf(*currentFolderURL));
    // A Photos library's pictures lie deeper in the package, or outside it.
    if (QFileInfo(folder).suffix().toLower() == QLatin1String("photoslibrary"))
        return true;
    const QString path = model->keyAt(0).path;
    return path.isEmpty() || QDir::cleanPath(QFileInfo(path).absolutePath()) == folder;
}

} // namespace

void keepSelectionByPath(QAbstractItemView *view, ShownItemsModel *model, std::function<bool()> isShown,
                         bool *selectingItself)
{
    auto kept = std::make_shared<KeptSelection>();
    QObject::connect(model, &QAbstractItemModel::modelAboutToBeReset, view, [view, model, kept, isShown] {
        // The rows still hold the files they showed; the folder may be a new one.
        const bool sameFolder = (!kept->folderKnown || kept->folder == currentFolderURL)
                                && rowsAreOfCurrentFolder(model);
        kept->selected.clear();
        kept->current.clear();
        kept->selectedItem.clear();
        kept->capturing = sameFolder;
        if (!sameFolder || !view->selectionModel())
            return;
        QList<int> rows;
        for (const QModelIndex &index : view->selectionModel()->selectedIndexes())
            rows.append(index.row());
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        for (int row : std::as_const(rows))
            if (const QString path = model->keyAt(row).path; !path.isEmpty())
                kept->selected.append(path);
        kept->current = model->keyAt(view->selectionModel()->currentIndex().row()).path;
        if (isShown())
            kept->selectedItem = model->keyAt(selectedItemIndex).path;
    });
    QObject::connect(model, &QAbstractItemModel::modelReset, view,
                     [view, model, kept, isShown = std::move(isShown), selectingItself] {
        kept->folder = currentFolderURL;
        kept->folderKnown = true;
        if (!kept->capturing || !view->selectionModel())
            return;
        kept->capturing = false;
        const bool wholeRows = view->selectionBehavior() == QAbstractItemView::SelectRows;
        const QItemSelectionModel::SelectionFlags rowFlag = wholeRows ? QItemSelectionModel::Rows
                                                                      : QItemSelectionModel::NoUpdate;
        QItemSelection selection;
        int firstRow = -1;
        for (const QString &path : std::as_const(kept->selected)) {
            const int row = model->rowOfPath(path);
            if (row < 0)
                continue;   // gone
            const QModelIndex index = model->index(row, 0);
            selection.select(index, index);
            if (firstRow < 0)
                firstRow = row;
        }
        *selectingItself = true;
        if (const int current = model->rowOfPath(kept->current); current >= 0)
            view->selectionModel()->setCurrentIndex(model->index(current, 0), QItemSelectionModel::NoUpdate);
        if (!selection.isEmpty())
            view->selectionModel()->select(selection, QItemSelectionModel::Select | rowFlag);
        *selectingItself = false;
        if (!isShown() || (kept->selectedItem.isEmpty() && kept->selected.isEmpty()))
            return;
        const int item = model->rowOfPath(kept->selectedItem);
        selectedItemIndex = item >= 0 ? item : firstRow;
    });
}
