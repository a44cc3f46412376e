#include "controls/Cells.h"

#include "controls/ControlColors.h"

#include <QHash>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSvgRenderer>

// ---------------------------------------------------------------- TableRowViewResult

TableRowViewResult::TableRowViewResult() = default;

void TableRowViewResult::install(QAbstractItemView *view)
{
    // Styles must outlive every widget that uses them: one for the run.
    static TableRowViewResult *shared = new TableRowViewResult;
    view->setStyle(shared);
}

void TableRowViewResult::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                                       const QWidget *widget) const
{
    if ((element == PE_PanelItemViewItem || element == PE_PanelItemViewRow) && option
        && (option->state & State_Selected)) {
        painter->fillRect(option->rect, rowSelectionColor());
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

// ---------------------------------------------------------------- CustomTextFieldCell

CustomTextFieldCell::CustomTextFieldCell(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

QRect CustomTextFieldCell::centredTitleRect(const QRect &titleRect, int naturalHeight)
{
    return QRect(titleRect.x(), titleRect.y() + (titleRect.height() - naturalHeight) / 2, titleRect.width(),
                 naturalHeight);
}

void CustomTextFieldCell::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->displayAlignment = (option->displayAlignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter;
}

void CustomTextFieldCell::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                               const QModelIndex &index) const
{
    QStyledItemDelegate::updateEditorGeometry(editor, option, index);
    editor->setGeometry(centredTitleRect(editor->geometry(), editor->sizeHint().height()));
}

// ---------------------------------------------------------------- Editing

Editing::Editing(QWidget *parent)
    : QLineEdit(parent)
    , commandKey(Qt::ControlModifier)
    , commandShiftKey(Qt::ControlModifier | Qt::ShiftModifier)
{
}

Editing::Action Editing::actionFor(const QKeyEvent *event) const
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers == commandKey) {
        switch (event->key()) {
        case Qt::Key_X: return Cut;
        case Qt::Key_C: return Copy;
        case Qt::Key_V: return Paste;
        case Qt::Key_Z: return Undo;
        case Qt::Key_A: return SelectAll;
        default: return NoAction;
        }
    }
    if (modifiers == commandShiftKey && event->key() == Qt::Key_Z)
        return Redo;
    return NoAction;
}

bool Editing::performKeyEquivalent(QKeyEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    switch (actionFor(event)) {
    case Cut: cut(); return true;
    case Copy: copy(); return true;
    case Paste: paste(); return true;
    case Undo: undo(); return true;
    case Redo: redo(); return true;
    case SelectAll: selectAll(); return true;
    case NoAction: break;
    }
    return false;
}

bool Editing::event(QEvent *event)
{
    // Claim the editing keys before a window shortcut takes them.
    if (event->type() == QEvent::ShortcutOverride && actionFor(static_cast<QKeyEvent *>(event)) != NoAction) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void Editing::keyPressEvent(QKeyEvent *event)
{
    if (performKeyEquivalent(event)) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

// ---------------------------------------------------------------- rightOutlineView

rightOutlineView::rightOutlineView(QWidget *parent)
    : QTreeView(parent)
{
}

QPixmap rightOutlineView::arrowImage(const QString &name, qreal devicePixelRatio)
{
    const bool down = name == QLatin1String("smallArrowDown");
    if (!down && name != QLatin1String("smallArrow"))
        return QPixmap();
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    static QHash<QString, QPixmap> cache;
    const QString key = name + QLatin1Char('@') + QString::number(ratio);
    if (const auto it = cache.constFind(key); it != cache.constEnd())
        return *it;

    QPixmap pixmap(QSize(kArrowSize, kArrowSize) * ratio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(down ? QStringLiteral(":/images/sidebar/smallArrowDown.svg")
                               : QStringLiteral(":/images/sidebar/smallArrow.svg"));
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    pixmap.setDevicePixelRatio(ratio);
    cache.insert(key, pixmap);
    return pixmap;
}

QRect rightOutlineView::arrowRect(const QRect &branchRect) const
{
    const int cell = std::max(indentation(), kArrowSize);
    const QRect box(branchRect.right() - cell + 1, branchRect.top(), cell, branchRect.height());
    return QRect(box.x() + (box.width() - kArrowSize) / 2, box.y() + (box.height() - kArrowSize) / 2, kArrowSize,
                 kArrowSize);
}

void rightOutlineView::drawBranches(QPainter *painter, const QRect &rect, const QModelIndex &index) const
{
    const QItemSelectionModel *selection = selectionModel();
    const bool selected = selection
        && (selection->isSelected(index)
            || (selectionBehavior() == SelectRows && selection->isRowSelected(index.row(), index.parent())));
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = rect;
    if (selected)
        option.state |= QStyle::State_Selected;
    style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &option, painter, this);

    if (!index.isValid() || !model() || !model()->hasChildren(index))
        return;
    if (!rootIsDecorated() && !index.parent().isValid())
        return;
    const QString name = isExpanded(index) ? QStringLiteral("smallArrowDown") : QStringLiteral("smallArrow");
    painter->drawPixmap(arrowRect(rect), arrowImage(name, devicePixelRatioF()));
}
