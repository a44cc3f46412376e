#pragma once
// The shown list (searchResults while a search is active, itemList otherwise)
// as the grid and the list see it: taken as it is at each reload of the view,
// so that the view never reads past a list that changed under it. Thumbnails
// and pixel sizes are read from the shared cache; what is missing is asked for
// by the view for the rows it shows and arrives as dataChanged.
#include "model/ThumbnailCache.h"
#include "model/MediaRecords.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QVector>

#include <functional>

class QAbstractItemView;

class ShownItemsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Kind { Grid, List };
    enum Role {
        ThumbnailRole = Qt::UserRole + 1,  // QImage, or nothing while it is being made
        InfoLineRole,                      // the grid's line under the name
        PendingRole,                       // bool: the thumbnail is not there yet
    };
    enum Column { NameColumn, WidthColumn, HeightColumn, SizeColumn, KindColumn, CreatedColumn, ModifiedColumn };

    ShownItemsModel(Kind kind, QObject *parent = nullptr);

    // Takes the shown list as it is now.
    void reloadData();
    // True while the rows are those of activeItemList() as it stands (the list
    // has not been replaced or changed since the last reloadData).
    bool showsActiveList() const;
    // The entry of a row, or nullptr.
    const InitialDirectory *entry(int row) const;
    ThumbnailKey keyAt(int row) const;
    // The row of the entry of a file path, or -1.
    int rowOfPath(const QString &path) const;
    // The side the view asks thumbnails for: 200 for the grid, 150 for the list.
    int thumbnailSide() const { return m_kind == Grid ? 200 : 150; }
    // Asks the cache for the thumbnails (and, where shown, pixel sizes) of rows
    // first..last and a few screens around them now, and once per reload for
    // all the other rows, to be made when nothing more urgent waits.
    void requestWork(int first, int last, bool wantPixelSizes);
    // Withdraws what requestWork asked for (the view went out of sight).
    void cancelWork();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Texts of the cells and lines, also used by tests.
    static QString gridInfoLine(const InitialDirectory &item, const std::optional<PixelInfo> &pixels);
    static QString listText(int column, const InitialDirectory &item, const std::optional<PixelInfo> &pixels);
    // A video dimension as shown: shortest decimal form with at least one
    // fractional digit ("1920.0").
    static QString videoDimension(double value);
    // Dates as day-month-two-digit-year.
    static QString shortDate(const QDateTime &date);

private:
    void thumbnailArrived(const ThumbnailKey &key);
    void pixelInfoArrived(const ThumbnailKey &key);
    int rowOf(const ThumbnailKey &key) const;

    Kind m_kind;
    QVector<InitialDirectory> m_items;
    QVector<ThumbnailKey> m_keys;
    QHash<QString, int> m_rowOfPath;
    bool m_restRequested = false;
    bool m_restWithPixels = false;
};

// Keeps the selection of view (over model) on its files across every reset of
// the model (a reload, a new order, a search): the files selected before are
// selected again wherever their rows are now, and rows of files that are gone
// drop out. While isShown() holds, selectedItemIndex follows its file the same
// way (-1 when it is gone and nothing selected is left). A reset that shows
// another folder keeps nothing. selectingItself is set while the selection is
// put back, so the view's own selection handling can leave it alone.
void keepSelectionByPath(QAbstractItemView *view, ShownItemsModel *model, std::function<bool()> isShown,
                         bool *selectingItself);
