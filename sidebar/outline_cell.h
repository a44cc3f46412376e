#pragma once
// The cell of a sidebar row: the node's icon and its title, vertically centred,
// the title shortened with an ellipsis when the column is too narrow. Colour and
// tool tip come from the model (a missing folder shows red).
#include <QStyledItemDelegate>

class outline_cell : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static constexpr int kRowHeight = 26;
    static constexpr int kIconSize = 18;

    explicit outline_cell(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
