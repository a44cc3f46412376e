#pragma once
// The sidebar's outline: a one-column tree view over the sidebar tree whose
// disclosure arrows are the images "smallArrow" (collapsed) and
// "smallArrowDown" (expanded), each 15 x 15. Rows are counted as the outline
// shows them: the visible rows from the top, children of an expanded node
// right below it.
#include <QModelIndex>
#include <QTreeView>

class outlineView : public QTreeView
{
    Q_OBJECT
public:
    static constexpr int kArrowSize = 15;

    explicit outlineView(QWidget *parent = nullptr);

    // The disclosure images by name ("smallArrow", "smallArrowDown"), drawn at
    // 15 x 15 points whatever size the image files have.
    static QPixmap disclosureImage(const QString &name, qreal devicePixelRatio = 1.0);

    // ---- Rows as the outline shows them ----
    int numberOfRows() const;
    // The item of a row; invalid outside 0..numberOfRows()-1.
    QModelIndex itemAtRow(int row) const;
    // The row of an item; -1 when it is not shown (a collapsed ancestor) or invalid.
    int rowForItem(const QModelIndex &item) const;
    // The depth of a row's item (0 for a top-level row); -1 outside the rows.
    int levelForRow(int row) const;
    // The deepest level among the shown rows; 0 without rows.
    int deepestLevel() const;
    // The first selected row; -1 without a selection.
    int selectedRow() const;
    // Selects row alone (nothing for a row outside the rows).
    void selectRow(int row);
    void scrollRowToVisible(int row);

protected:
    void drawBranches(QPainter *painter, const QRect &rect, const QModelIndex &index) const override;

private:
    // Calls visit for each shown row in order until it returns false.
    template <typename Visit>
    void forEachRow(Visit visit) const;
};
