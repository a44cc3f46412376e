#include "sidebar/outline_cell.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>

outline_cell::outline_cell(QObject *parent) : QStyledItemDelegate(parent) {}

void outline_cell::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget *widget = opt.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();

    // The row's background (and its selection fill).
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    painter->save();
    painter->setClipRect(opt.rect);
    const QRect area = opt.rect.adjusted(2, 0, -6, 0);
    const QRect iconRect(area.left(), area.center().y() - kIconSize / 2 + 1, kIconSize, kIconSize);
    const QIcon icon = qvariant_cast<QIcon>(index.data(Qt::DecorationRole));
    if (!icon.isNull())
        icon.paint(painter, iconRect, Qt::AlignCenter);

    const QRect textRect(iconRect.right() + 7, area.top(), std::max(0, area.right() - iconRect.right() - 7),
                         area.height());
    QColor color = Qt::white;
    const QVariant foreground = index.data(Qt::ForegroundRole);
    if (foreground.canConvert<QColor>())
        color = foreground.value<QColor>();
    painter->setPen(color);
    painter->setFont(opt.font);
    const QString title = opt.fontMetrics.elidedText(opt.text, Qt::ElideRight, textRect.width());
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title);
    painter->restore();
}

QSize outline_cell::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const int width = 2 + kIconSize + 7 + opt.fontMetrics.horizontalAdvance(opt.text) + 6;
    return QSize(width, kRowHeight);
}
