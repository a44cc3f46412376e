#include "browser/InfoPane.h"

#include "app/Essentials.h"
#include "browser/ViewController.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Background.h"

#include <QEvent>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTextLayout>
#include <QTreeView>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

InfoPane::Reader &readerOverride()
{
    static InfoPane::Reader reader;
    return reader;
}

void appendRows(QStandardItem *parent, const QList<lg::PropertyNode> &nodes)
{
    for (const lg::PropertyNode &node : nodes) {
        auto *label = new QStandardItem(node.label);
        label->setToolTip(node.label);
        label->setData(node.key, Qt::UserRole);
        label->setEditable(false);
        auto *value = new QStandardItem(node.value);
        value->setEditable(false);
        value->setToolTip(node.value);
        if (node.isGroup())
            appendRows(label, node.children);
        parent->appendRow({label, value});
    }
}

} // namespace

InfoPane *InfoPane::instance()
{
    ViewController *content = contentController();
    auto *pane = content->findChild<InfoPane *>(QString(), Qt::FindDirectChildrenOnly);
    return pane ? pane : new InfoPane(content->outlineview, content);
}

InfoPane::InfoPane(QTreeView *outline, QObject *parent) : QObject(parent), m_outline(outline)
{
    setObjectName(QStringLiteral("infoPane"));
    m_model = new QStandardItemModel(0, 2, this);
    m_model->setObjectName(QStringLiteral("infoPaneModel"));
    if (m_outline) {
        m_outline->setModel(m_model);
        m_outline->setUniformRowHeights(true);
        m_outline->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_outline->setStyleSheet(QStringLiteral(
            "QTreeView { background: #1e1e1e; color: #d8d8d8; }"
            "QTreeView::item:selected { background: rgb(37,105,217); color: white; }"));
        m_outline->header()->setStretchLastSection(true);
        m_outline->installEventFilter(this);
        m_viewport = m_outline->viewport();   // its width is the one that counts
        m_viewport->installEventFilter(this);
        connect(m_outline, &QTreeView::expanded, this, &InfoPane::fitLabelColumn);
        connect(m_outline, &QTreeView::collapsed, this, &InfoPane::fitLabelColumn);
    }
}

bool InfoPane::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_outline && event->type() == QEvent::FontChange)
        || (watched == m_viewport && event->type() == QEvent::Resize)) {
        fitLabelColumn();
        if (m_noticeShown)
            fitNoticeHeight();
    }
    return QObject::eventFilter(watched, event);
}

int InfoPane::longestKeyWidth() const
{
    // As the view's delegate measures a row's label, indented to its level.
    QStyleOptionViewItem option;
    option.initFrom(m_outline);
    option.font = m_outline->font();
    option.features = QStyleOptionViewItem::HasDisplay;
    option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    const int rootIndent = m_outline->rootIsDecorated() ? m_outline->indentation() : 0;
    auto measure = [&](const QString &label, int depth) {
        option.text = label;
        return rootIndent + depth * m_outline->indentation()
               + m_outline->style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), m_outline).width();
    };
    int widest = 0;
    for (const lg::PropertyKey &key : lg::propertyVocabulary()) {
        const QString group = QString::fromLatin1(key.group);
        widest = std::max(widest, measure(QString::fromLatin1(key.key), group.isEmpty() ? 0 : 1));
        if (!group.isEmpty())
            widest = std::max(widest, measure(QString(group).remove(QLatin1Char('{')).remove(QLatin1Char('}')), 0));
    }
    return widest;
}

void InfoPane::fitLabelColumn()
{
    // The label column fits the shown keys, as long as any key of the
    // vocabulary: the values give way first (their whole text is in the
    // tooltips). Only a pane too narrow for that leaves the values a sliver.
    constexpr int valueSliver = 40;
    const int width = m_outline->viewport()->width();
    if (width <= 0)
        return;
    const int shown = static_cast<const QAbstractItemView *>(m_outline)->sizeHintForColumn(0);
    const int keys = std::min(shown, longestKeyWidth());
    m_outline->setColumnWidth(0, std::min(keys, std::max(width - valueSliver, width / 2)));
}

void InfoPane::fitNoticeHeight()
{
    QStandardItem *notice = m_model->item(0, 0);
    if (!notice || !m_outline)
        return;
    // The row is as high as its text wrapped as the view's items wrap it:
    // at word boundaries, else anywhere (a long path has few spaces).
    const QStyle *style = m_outline->style();
    const int hMargin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_outline) + 1;
    const int vMargin = style->pixelMetric(QStyle::PM_FocusFrameVMargin, nullptr, m_outline) + 1;
    const int indent = m_outline->rootIsDecorated() ? m_outline->indentation() : 0;
    const int width = std::max(1, m_outline->viewport()->width() - indent - 2 * hMargin);
    QTextLayout layout(notice->text(), m_outline->font());
    QTextOption wrap;
    wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(wrap);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        height += line.height();
    }
    layout.endLayout();
    const QSize wanted(width + 2 * hMargin, int(std::ceil(height)) + 2 * vMargin);
    if (notice->sizeHint() != wanted)
        notice->setSizeHint(wanted);
}

void InfoPane::setReaderForTesting(Reader reader)
{
    readerOverride() = std::move(reader);
}

void InfoPane::fill()
{
    // No current item: the pane keeps what it shows.
    const QVector<InitialDirectory> &shown = activeItemList();
    if (itemList.isEmpty() || selectedItemIndex < 0 || selectedItemIndex >= shown.size())
        return;
    const InitialDirectory &item = shown.at(selectedItemIndex);
    const QString path = item.file ? lg::FileNames::pathOf(item.file->url) : QString();
    // A name that is not valid UTF-8: the properties are read by a name as
    // text, which would be the look-alike's (U+FFFD in its place); the pane
    // says why it shows none.
    if (lg::FileNames::hasRawBytes(path)) {
        showNotice(lg::FileNames::notTextMessage(path));
        return;
    }
    fillForPath(path);
}

void InfoPane::showNotice(const QString &text)
{
    const int generation = ++m_generation;
    m_model->removeRows(0, m_model->rowCount());
    auto *notice = new QStandardItem(text);
    notice->setToolTip(text);
    notice->setEditable(false);
    auto *value = new QStandardItem();
    value->setEditable(false);
    m_model->appendRow({notice, value});
    m_noticeShown = true;
    if (m_outline) {
        // Shown whole, over as many lines as the pane's width asks for.
        m_outline->setUniformRowHeights(false);
        m_outline->setWordWrap(true);
        m_outline->setFirstColumnSpanned(0, QModelIndex(), true);
        fitLabelColumn();
        fitNoticeHeight();
    }
    Q_EMIT fillFinished(generation, true);
}

void InfoPane::fillForPath(const QString &path)
{
    const int generation = ++m_generation;
    if (path.isEmpty()) {
        show(generation, std::nullopt);
        return;
    }
    const Reader reader = readerOverride() ? readerOverride() : Reader(&lg::readPropertyTree);
    lg::runThenCallback(
        this, [reader, path] { return reader(path); },
        [this, generation](const std::optional<QList<lg::PropertyNode>> &tree) { show(generation, tree); });
}

void InfoPane::show(int generation, const std::optional<QList<lg::PropertyNode>> &tree)
{
    if (generation != m_generation) {
        Q_EMIT fillFinished(generation, false);
        return;
    }
    m_model->removeRows(0, m_model->rowCount());
    if (tree)
        appendRows(m_model->invisibleRootItem(), *tree);
    if (m_outline && std::exchange(m_noticeShown, false)) {
        m_outline->setWordWrap(false);
        m_outline->setUniformRowHeights(true);
    }
    if (m_outline) {
        m_outline->collapseAll();
        fitLabelColumn();
    }
    Q_EMIT fillFinished(generation, true);
}
