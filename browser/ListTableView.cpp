#include "browser/ListTableView.h"

#include "browser/BrowserStyle.h"
#include "browser/GridView.h"
#include "controls/ScrollViews.h"
#include "browser/ShownItemsModel.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

void ListNameDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // The row's background and selection as the table draws them, no text and
    // no picture. Not through initStyleOption, which would first turn the
    // thumbnail into a pixmap, every row at every paint.
    QStyleOptionViewItem opt = option;
    opt.index = index;
    opt.text.clear();
    opt.features &= ~(QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration);
    opt.icon = QIcon();
    opt.backgroundBrush = QBrush();
    opt.styleObject = nullptr;
    QStyle *style = opt.widget ? opt.widget->style() : nullptr;
    if (style)
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

    const QRect rect = option.rect;
    const int side = rect.height() - 4;
    const QRect imageArea(rect.left() + 4, rect.top() + 2, side, side);
    painter->save();
    const QImage image = index.data(ShownItemsModel::ThumbnailRole).value<QImage>();
    if (!image.isNull()) {
        QSizeF size = image.size();
        size.scale(imageArea.size(), Qt::KeepAspectRatio);
        const QRectF target(imageArea.center().x() + 0.5 - size.width() / 2,
                            imageArea.center().y() + 0.5 - size.height() / 2, size.width(), size.height());
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawImage(target, image);
    } else if (index.data(ShownItemsModel::PendingRole).toBool()) {
        browserstyle::drawPreviewIcon(*painter, QRectF(imageArea).adjusted(4, 4, -4, -4), QColor(0x5c, 0x5c, 0x5c));
    }
    const QRect textRect = rect.adjusted(side + 12, 0, -4, 0);
    const bool selected = option.state & QStyle::State_Selected;
    painter->setPen(selected ? option.palette.color(QPalette::HighlightedText)
                             : option.palette.color(QPalette::Text));
    painter->setFont(option.font);
    const QString name = GridItemDelegate::oneLineName(index.data(Qt::DisplayRole).toString());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(name, Qt::ElideMiddle, textRect.width()));
    painter->restore();
}

ListTableView::ListTableView(QWidget *parent) : QTableView(parent)
{
    setItemDelegateForColumn(ShownItemsModel::NameColumn, new ListNameDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(30);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setStyleSheet(QStringLiteral(
        "QTableView { background: #1e1e1e; color: #e6e6e6; selection-background-color: rgb(37,105,217);"
        " selection-color: white; outline: 0; }"
        "QTableView::item { padding-left: 6px; padding-right: 6px; }"
        "QHeaderView::section { background: #2a2a2a; color: #b4b4b4; border: none;"
        " border-right: 1px solid #3a3a3a; border-bottom: 1px solid #3a3a3a; padding: 3px 6px; }"));
    ThemedScrollView::applyTheme(this);
}

std::pair<int, int> ListTableView::visibleRows() const
{
    if (!model() || model()->rowCount() == 0)
        return {-1, -1};
    const int first = std::max(0, rowAt(0));
    int last = rowAt(viewport()->height() - 1);
    if (last < 0)
        last = model()->rowCount() - 1;
    return {first, last};
}

void ListTableView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        event->ignore();
        return;
    }
    QTableView::mousePressEvent(event);
}

void ListTableView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        event->ignore();
        return;
    }
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        Q_EMIT doubleClickedAnywhere();
}

void ListTableView::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    Q_EMIT visibleRowsChanged();
}

void ListTableView::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    if (dy != 0)
        Q_EMIT visibleRowsChanged();
}

void ListTableView::reset()
{
    QTableView::reset();
    Q_EMIT visibleRowsChanged();
}
