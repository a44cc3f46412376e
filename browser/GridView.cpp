#include "browser/GridView.h"

#include "app/Essentials.h"
#include "browser/BrowserStyle.h"
#include "browser/ShownItemsModel.h"
#include "controls/ScrollViews.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <cmath>

// ---------------------------------------------------------------- GridMetrics

GridMetrics GridMetrics::forWidth(double width, double itemsPerRow)
{
    GridMetrics m;
    m.width = std::max(0.0, width);
    const double n = std::max(1.0, itemsPerRow);
    m.side = m.width / (n + 1);
    m.inset = m.side / n;
    if (m.side <= 0) {
        m.columns = 1;
        return m;
    }
    // As many items as fit between the insets with no space between them.
    const double room = m.width - 2 * m.inset;
    m.columns = std::max(1, int(std::floor(room / m.side + 1e-9)));
    m.gap = m.columns > 1 ? std::max(0.0, (room - m.columns * m.side) / (m.columns - 1)) : 0.0;
    return m;
}

QRectF GridMetrics::itemRect(int index) const
{
    const int row = index / columns;
    const int column = index % columns;
    return QRectF(inset + column * (side + gap), inset + row * (side + lineSpacing), side, side);
}

int GridMetrics::rowsFor(int count) const
{
    return count <= 0 ? 0 : (count + columns - 1) / columns;
}

double GridMetrics::contentHeight(int count) const
{
    const int rows = rowsFor(count);
    if (rows == 0)
        return 0;
    return 2 * inset + rows * side + (rows - 1) * lineSpacing;
}

int GridMetrics::indexAt(QPointF point, int count) const
{
    if (side <= 0 || count <= 0)
        return -1;
    const int row = int(std::floor((point.y() - inset) / (side + lineSpacing)));
    const int column = int(std::floor((point.x() - inset) / (side + gap)));
    if (row < 0 || column < 0 || column >= columns)
        return -1;
    const int index = row * columns + column;
    if (index >= count || !itemRect(index).contains(point))
        return -1;
    return index;
}

// ---------------------------------------------------------------- GridItemDelegate

void GridItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QRectF rect = option.rect;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (option.state & QStyle::State_Selected) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(browserstyle::gridSelection());
        painter->drawRoundedRect(rect.adjusted(1, 1, -1, -1), 6, 6);
    }

    const qreal pad = std::max<qreal>(3, rect.width() * 0.04);
    QFont nameFont = option.font;
    QFont infoFont = option.font;
    infoFont.setPointSizeF(std::max<qreal>(6, option.font.pointSizeF() * 0.85));
    const QFontMetricsF nameMetrics(nameFont);
    const QFontMetricsF infoMetrics(infoFont);
    const qreal textHeight = nameMetrics.height() + infoMetrics.height() + 2;
    const QRectF imageArea = rect.adjusted(pad, pad, -pad, -(pad + textHeight));

    const QImage image = index.data(ShownItemsModel::ThumbnailRole).value<QImage>();
    if (!image.isNull() && imageArea.width() > 1 && imageArea.height() > 1) {
        QSizeF size = image.size();
        size.scale(imageArea.size(), Qt::KeepAspectRatio);
        const QRectF target(imageArea.center().x() - size.width() / 2, imageArea.center().y() - size.height() / 2,
                            size.width(), size.height());
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawImage(target, image);
    } else {
        const qreal side = std::min(imageArea.width(), imageArea.height()) * 0.45;
        browserstyle::drawPreviewIcon(*painter,
                                      QRectF(imageArea.center().x() - side / 2, imageArea.center().y() - side / 2,
                                             side, side),
                                      QColor(0x5c, 0x5c, 0x5c));
    }

    const QRectF nameRect(rect.left() + pad, imageArea.bottom() + 1, rect.width() - 2 * pad, nameMetrics.height());
    const QRectF infoRect(nameRect.left(), nameRect.bottom() + 1, nameRect.width(), infoMetrics.height());
    const bool selected = option.state & QStyle::State_Selected;
    painter->setFont(nameFont);
    painter->setPen(selected ? QColor(Qt::white) : browserstyle::text());
    const QString name = oneLineName(index.data(Qt::DisplayRole).toString());
    painter->drawText(nameRect, Qt::AlignHCenter | Qt::AlignVCenter,
                      nameMetrics.elidedText(name, Qt::ElideMiddle, nameRect.width()));
    painter->setFont(infoFont);
    painter->setPen(selected ? QColor(0xdd, 0xe6, 0xf5) : browserstyle::secondaryText());
    const QString info = index.data(ShownItemsModel::InfoLineRole).toString();
    painter->drawText(infoRect, Qt::AlignHCenter | Qt::AlignVCenter,
                      infoMetrics.elidedText(info, Qt::ElideRight, infoRect.width()));
    painter->restore();
}

QString GridItemDelegate::oneLineName(const QString &name)
{
    QString shown = name;
    for (QChar &c : shown) {
        const char16_t u = c.unicode();
        if (u < 0x20)
            c = QChar(char16_t(0x2400 + u));   // SYMBOL FOR NULL and on: "\n" is U+240A
        else if (u == 0x7F)
            c = QChar(char16_t(0x2421));       // SYMBOL FOR DELETE
        else if (u == 0x85 || u == 0x2028 || u == 0x2029)
            c = QChar(char16_t(0x2424));       // SYMBOL FOR NEWLINE
    }
    return shown;
}

QSize GridItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return option.rect.size();
}

// ---------------------------------------------------------------- GridView

GridView::GridView(QWidget *parent) : QAbstractItemView(parent)
{
    setItemDelegate(new GridItemDelegate(this));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Always there, so that the width the items divide does not change when
    // the content grows past one screen.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    ThemedScrollView::applyTheme(this);
}

int GridView::layoutWidth() const
{
    return viewport()->width();
}

void GridView::setItemsPerRow(double itemsPerRow)
{
    m_itemsPerRow = itemsPerRow;
    relayout();
}

void GridView::relayout()
{
    m_metrics = GridMetrics::forWidth(layoutWidth(), m_itemsPerRow);
    updateGeometries();
    viewport()->update();
    scheduleWorkRequest();
}

QSize GridView::contentSize() const
{
    const int count = model() ? model()->rowCount(rootIndex()) : 0;
    return QSize(layoutWidth(), int(std::ceil(m_metrics.contentHeight(count))));
}

void GridView::updateGeometries()
{
    const int height = contentSize().height();
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, std::max(0, height - viewport()->height()));
    bar->setPageStep(viewport()->height());
    bar->setSingleStep(std::max(8, int(m_metrics.side / 4)));
    QAbstractItemView::updateGeometries();
}

std::pair<int, int> GridView::visibleRange() const
{
    const int count = model() ? model()->rowCount(rootIndex()) : 0;
    if (count == 0 || m_metrics.side <= 0)
        return {-1, -1};
    const double rowHeight = m_metrics.side + m_metrics.lineSpacing;
    const double top = verticalOffset() - m_metrics.inset;
    const double bottom = top + viewport()->height();
    const int firstRow = std::max(0, int(std::floor(top / rowHeight)));
    const int lastRow = std::max(firstRow, int(std::floor(bottom / rowHeight)));
    const int first = firstRow * m_metrics.columns;
    if (first >= count)
        return {-1, -1};
    const int last = std::min(count - 1, (lastRow + 1) * m_metrics.columns - 1);
    return {first, last};
}

QRect GridView::visualRect(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != model())
        return QRect();
    const QRectF r = m_metrics.itemRect(index.row());
    const int left = int(std::lround(r.left()));
    const int top = int(std::lround(r.top()));
    const int right = int(std::lround(r.right()));
    const int bottom = int(std::lround(r.bottom()));
    return QRect(left, top - verticalOffset(), right - left, bottom - top);
}

void GridView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!index.isValid())
        return;
    const QRectF r = m_metrics.itemRect(index.row());
    const int top = int(r.top() - m_metrics.inset);
    const int bottom = int(std::ceil(r.bottom() + m_metrics.inset));
    QScrollBar *bar = verticalScrollBar();
    const int height = viewport()->height();
    switch (hint) {
    case PositionAtTop:
        bar->setValue(top);
        break;
    case PositionAtBottom:
        bar->setValue(bottom - height);
        break;
    case PositionAtCenter:
        bar->setValue(int((top + bottom) / 2.0 - height / 2.0));
        break;
    case EnsureVisible:
        if (top < bar->value())
            bar->setValue(top);
        else if (bottom > bar->value() + height)
            bar->setValue(bottom - height);
        break;
    }
}

QModelIndex GridView::indexAt(const QPoint &point) const
{
    if (!model())
        return QModelIndex();
    const int row = m_metrics.indexAt(QPointF(point.x(), point.y() + verticalOffset()),
                                      model()->rowCount(rootIndex()));
    return row < 0 ? QModelIndex() : model()->index(row, 0, rootIndex());
}

QModelIndex GridView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int count = model() ? model()->rowCount(rootIndex()) : 0;
    if (count == 0)
        return QModelIndex();
    const QModelIndex current = currentIndex();
    int row = current.isValid() ? current.row() : -1;
    if (row < 0)
        return model()->index(0, 0, rootIndex());
    const int columns = m_metrics.columns;
    const int rowsPerPage = std::max(1, int(viewport()->height() / std::max(1.0, m_metrics.side + m_metrics.lineSpacing)));
    switch (cursorAction) {
    case MoveLeft:
    case MovePrevious:
        row -= 1;
        break;
    case MoveRight:
    case MoveNext:
        row += 1;
        break;
    case MoveUp:
        row -= columns;
        break;
    case MoveDown:
        row += columns;
        break;
    case MovePageUp:
        row -= columns * rowsPerPage;
        break;
    case MovePageDown:
        row += columns * rowsPerPage;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = count - 1;
        break;
    }
    return model()->index(std::clamp(row, 0, count - 1), 0, rootIndex());
}

int GridView::horizontalOffset() const
{
    return 0;
}

int GridView::verticalOffset() const
{
    return verticalScrollBar()->value();
}

bool GridView::isIndexHidden(const QModelIndex &) const
{
    return false;
}

void GridView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    if (!model() || !selectionModel())
        return;
    const int count = model()->rowCount(rootIndex());
    const QRectF content = QRectF(rect.normalized()).translated(0, verticalOffset());
    QItemSelection selection;
    if (m_metrics.side > 0 && count > 0) {
        const double rowHeight = m_metrics.side + m_metrics.lineSpacing;
        const int firstRow = std::max(0, int(std::floor((content.top() - m_metrics.inset) / rowHeight)));
        const int lastRow = std::min(m_metrics.rowsFor(count) - 1,
                                     int(std::floor((content.bottom() - m_metrics.inset) / rowHeight)));
        for (int r = firstRow; r <= lastRow; ++r) {
            for (int c = 0; c < m_metrics.columns; ++c) {
                const int i = r * m_metrics.columns + c;
                if (i >= count)
                    break;
                if (m_metrics.itemRect(i).intersects(content.adjusted(0, 0, 1, 1)))
                    selection.select(model()->index(i, 0, rootIndex()), model()->index(i, 0, rootIndex()));
            }
        }
    }
    selectionModel()->select(selection, command);
}

QRegion GridView::visualRegionForSelection(const QItemSelection &selection) const
{
    QRegion region;
    const auto [first, last] = visibleRange();
    if (first < 0)
        return region;
    for (const QItemSelectionRange &range : selection) {
        const int top = std::max(range.top(), first);
        const int bottom = std::min(range.bottom(), last);
        for (int row = top; row <= bottom; ++row)
            region += visualRect(model()->index(row, 0, rootIndex()));
    }
    return region;
}

void GridView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.fillRect(event->rect(), browserstyle::background());
    int pending = 0;
    const auto [first, last] = visibleRange();
    if (first >= 0) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        for (int row = first; row <= last; ++row) {
            const QModelIndex index = model()->index(row, 0, rootIndex());
            // Counted over the whole screen: a paint of one changed item
            // does not make the others ready.
            if (index.data(ShownItemsModel::PendingRole).toBool())
                ++pending;
            option.rect = visualRect(index);
            if (!option.rect.intersects(event->rect()))
                continue;
            option.state = QStyle::State_Enabled;
            if (selectionModel() && selectionModel()->isSelected(index))
                option.state |= QStyle::State_Selected;
            itemDelegateForIndex(index)->paint(&painter, option, index);
        }
    }
    m_lastPaintPending = pending;
    ++m_paintCount;
    Q_EMIT painted();
}

void GridView::resizeEvent(QResizeEvent *event)
{
    QAbstractItemView::resizeEvent(event);
    relayout();
}

void GridView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        // Right clicks go on to the content area, which opens the menus.
        event->ignore();
        return;
    }
    QAbstractItemView::mousePressEvent(event);
}

void GridView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        event->ignore();
        return;
    }
    QAbstractItemView::mouseDoubleClickEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid())
        Q_EMIT itemDoubleClicked(index.row());
}

void GridView::scrollContentsBy(int dx, int dy)
{
    QAbstractItemView::scrollContentsBy(dx, dy);
    scheduleWorkRequest();
}

void GridView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    relayout();
}

void GridView::reset()
{
    QAbstractItemView::reset();
    relayout();
    // A new list: the thumbnails of its first screen are asked for before
    // that screen is first painted.
    requestWork();
}

void GridView::scheduleWorkRequest()
{
    m_workRequest.schedule();
}

void GridView::requestWork()
{
    m_workRequest.done();
    auto *items = qobject_cast<ShownItemsModel *>(model());
    if (!items || !isVisible())
        return;
    const auto [first, last] = visibleRange();
    if (first < 0) {
        items->requestWork(0, std::min(items->rowCount() - 1, 63), infoLineMode == 1);
        return;
    }
    items->requestWork(first, last, infoLineMode == 1);
}
