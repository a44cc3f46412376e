#pragma once
// The sidebar's outline: a one-column tree view over the sidebar tree, with
// the controls kit's disclosure arrows and scrollers. Rows are counted as the
// outline shows them: the visible rows from the top, children of an expanded
// node right below it.
#include "controls/Cells.h"

#include <QModelIndex>

class outlineView : public rightOutlineView
{
    Q_OBJECT
public:
    explicit outlineView(QWidget *parent = nullptr);

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

private:
    // Calls visit for each shown row in order until it returns false.
    template <typename Visit>
    void forEachRow(Visit visit) const;
};
