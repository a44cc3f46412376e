#pragma once
// The list's table: one row per item of the shown list, the name column with
// its small thumbnail. A double click anywhere in it (also below the last
// row) is reported; right clicks go on to the content area behind it.
#include <QStyledItemDelegate>
#include <QTableView>

class ListNameDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

class ListTableView : public QTableView
{
    Q_OBJECT
public:
    explicit ListTableView(QWidget *parent = nullptr);

    // The first and last row on screen, or (-1, -1).
    std::pair<int, int> visibleRows() const;

Q_SIGNALS:
    void doubleClickedAnywhere();
    // The visible rows may have changed (scrolling, resizing, a reload).
    void visibleRowsChanged();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void reset() override;
};
