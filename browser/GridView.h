#pragma once
// The thumbnail grid's view: square items, exactly n to a row, painted by a
// delegate straight from the model (no widget per item), so that folders of
// tens of thousands of items lay out and scroll at once.
#include "platform/runtime/CoalescedCall.h"

#include <QAbstractItemView>
#include <QStyledItemDelegate>

// The layout of n items per row in a width W: items of side W / (n + 1),
// section insets of side / n on all four edges, rows 10 apart (the usual line
// spacing of a flow layout) and the room left in a row spread evenly between
// its items (no less than 0).
struct GridMetrics
{
    double width = 0;
    double side = 0;
    double inset = 0;       // the section inset on every edge
    double lineSpacing = 10;
    double gap = 0;         // between two items of a row
    int columns = 1;        // items that fit in a row

    static GridMetrics forWidth(double width, double itemsPerRow);
    QRectF itemRect(int index) const;
    int rowsFor(int count) const;
    double contentHeight(int count) const;
    // The item at a point of the content, or -1 (between items, past the end).
    int indexAt(QPointF point, int count) const;
};

// Paints one grid item: the thumbnail (or the stand-in picture while it is
// made), the name and the info line; a selected item on the selection colour.
class GridItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // The name as the item shows it, on one line: each control character
    // (a newline, a tab...) and each line or paragraph separator is shown as
    // its visible symbol (U+2400 and on). The name itself is left as it is.
    static QString oneLineName(const QString &name);
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

class GridView : public QAbstractItemView
{
    Q_OBJECT
public:
    explicit GridView(QWidget *parent = nullptr);

    // Lays the items out n to a row across the width the items get.
    void setItemsPerRow(double itemsPerRow);
    const GridMetrics &metrics() const { return m_metrics; }
    // The width the layout divides (the view less its scroll bar).
    int layoutWidth() const;
    // The first and last item on screen, or (-1, -1).
    std::pair<int, int> visibleRange() const;
    // The content's full size.
    QSize contentSize() const;
    // How many items on screen had no thumbnail yet at the last paint.
    int lastPaintPending() const { return m_lastPaintPending; }
    int paintCount() const { return m_paintCount; }

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;

Q_SIGNALS:
    // A double click on an item.
    void itemDoubleClicked(int row);
    // A paint of the items has finished.
    void painted();

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &index) const override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    void updateGeometries() override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void reset() override;

private:
    void relayout();
    void scheduleWorkRequest();
    void requestWork();

    double m_itemsPerRow = 5;
    GridMetrics m_metrics;
    int m_lastPaintPending = 0;
    int m_paintCount = 0;
    lg::CoalescedCall m_workRequest{this, [this] { requestWork(); }};
};
