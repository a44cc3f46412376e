#include "sidebar/outlineView.h"

#include "controls/ScrollViews.h"

#include <QItemSelectionModel>

#include <algorithm>
#include <vector>

outlineView::outlineView(QWidget *parent) : rightOutlineView(parent)
{
    setObjectName(QStringLiteral("myOutlineView"));
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIndentation(16);
    setAnimated(false);
    setExpandsOnDoubleClick(true);
    setFrameShape(QFrame::NoFrame);
    setAutoScroll(true);
    ThemedScrollView::applyTheme(this);
}

template <typename Visit>
void outlineView::forEachRow(Visit visit) const
{
    const QAbstractItemModel *m = model();
    if (!m)
        return;
    // Depth-first over the shown rows, without recursion.
    struct Level { QModelIndex parent; int next; int count; int depth; };
    std::vector<Level> stack{{rootIndex(), 0, m->rowCount(rootIndex()), 0}};
    while (!stack.empty()) {
        Level &level = stack.back();
        if (level.next >= level.count) {
            stack.pop_back();
            continue;
        }
        const QModelIndex item = m->index(level.next++, 0, level.parent);
        const int depth = level.depth;
        if (!visit(item, depth))
            return;
        if (isExpanded(item) && m->hasChildren(item))
            stack.push_back({item, 0, m->rowCount(item), depth + 1});
    }
}

int outlineView::numberOfRows() const
{
    int rows = 0;
    forEachRow([&rows](const QModelIndex &, int) {
        ++rows;
        return true;
    });
    return rows;
}

QModelIndex outlineView::itemAtRow(int row) const
{
    if (row < 0)
        return {};
    QModelIndex found;
    int current = 0;
    forEachRow([&](const QModelIndex &item, int) {
        if (current++ == row) {
            found = item;
            return false;
        }
        return true;
    });
    return found;
}

int outlineView::rowForItem(const QModelIndex &item) const
{
    if (!item.isValid())
        return -1;
    int found = -1;
    int current = 0;
    forEachRow([&](const QModelIndex &candidate, int) {
        if (candidate == item) {
            found = current;
            return false;
        }
        ++current;
        return true;
    });
    return found;
}

int outlineView::levelForRow(int row) const
{
    if (row < 0)
        return -1;
    int level = -1;
    int current = 0;
    forEachRow([&](const QModelIndex &, int depth) {
        if (current++ == row) {
            level = depth;
            return false;
        }
        return true;
    });
    return level;
}

int outlineView::deepestLevel() const
{
    int deepest = 0;
    forEachRow([&deepest](const QModelIndex &, int depth) {
        deepest = std::max(deepest, depth);
        return true;
    });
    return deepest;
}

int outlineView::selectedRow() const
{
    if (!selectionModel())
        return -1;
    int best = -1;
    for (const QModelIndex &index : selectionModel()->selectedRows(0)) {
        const int row = rowForItem(index);
        if (row >= 0 && (best < 0 || row < best))
            best = row;
    }
    return best;
}

void outlineView::selectRow(int row)
{
    const QModelIndex item = itemAtRow(row);
    if (!item.isValid() || !selectionModel())
        return;
    selectionModel()->setCurrentIndex(item, QItemSelectionModel::NoUpdate);
    selectionModel()->select(item, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void outlineView::scrollRowToVisible(int row)
{
    const QModelIndex item = itemAtRow(row);
    if (item.isValid())
        scrollTo(item);
}
