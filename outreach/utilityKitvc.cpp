#include "outreach/utilityKitvc.h"

#include "controls/CursorButtons.h"
#include "controls/ScrollViews.h"
#include "controls/SvgArt.h"
#include "model/SharedState.h"
#include "outreach/PromotionCatalogue.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/Dispatch.h"

#include <QDesktopServices>
#include <QHash>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QShowEvent>
#include <QSvgRenderer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

using lg::printLine;

namespace {

constexpr int iconSize = 84;
const QSize badgeSize(180, 46);

const char *panelStyle = R"css(
utilityKitvc { background-color: #1e1e1e; }
QFrame#panelHeader { background-color: #262626; border: none; border-bottom: 1px solid #353535; }
QLabel { color: #e6e6e6; background: transparent; }
QLabel#lblPanelTitle { font-weight: 600; }
QLabel#lblempty { color: #8a8a8a; }
QScrollArea { background: transparent; border: none; }
QPushButton#btnclose {
    background-color: #333333; color: #f0f0f0; border: 1px solid #4a4a4a;
    border-radius: 6px; padding: 5px 16px;
}
QPushButton#btnclose:hover { background-color: #3d3d3d; }
collectionView_cell QFrame#cardFrame { background-color: #272727; border: 1px solid #363636; border-radius: 12px; }
collectionView_cell QLabel#lbltitle { color: #ffffff; font-weight: 600; }
collectionView_cell QLabel#lblsubtitle { color: #b4b4b4; }
collectionView_cell QLabel#lblapptype { color: @accent; }
collectionView_cell QPushButton#btnappstore { border: none; background: transparent; padding: 0; }
)css";


// An entry's card values, as the panel keeps them.
QVariantMap entryDictionary(const PromotionEntry &entry)
{
    return {
        {QStringLiteral("Title"), entry.title},
        {QStringLiteral("description"), entry.description},
        {QStringLiteral("icon"), PromotionCatalogue::icon(entry)},
        {QStringLiteral("apppath"), entry.pageAddress},
        {QStringLiteral("category"), entry.category},
        {QStringLiteral("isappStore"), entry.isAppStore},
    };
}

} // namespace

// ---------------------------------------------------------------- card

collectionView_cell::collectionView_cell(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("collectionView_cell"));
    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("cardFrame"));

    imgview = new QLabel(frame);
    imgview->setObjectName(QStringLiteral("imgview"));
    imgview->setFixedSize(iconSize, iconSize);
    imgview->setAlignment(Qt::AlignCenter);
    lbltitle = new QLabel(frame);
    lbltitle->setObjectName(QStringLiteral("lbltitle"));
    lbltitle->setTextFormat(Qt::PlainText);
    QFont titleFont = lbltitle->font();
    titleFont.setPointSize(14);
    lbltitle->setFont(titleFont);
    lblapptype = new QLabel(frame);
    lblapptype->setObjectName(QStringLiteral("lblapptype"));
    lblapptype->setTextFormat(Qt::PlainText);
    lblsubtitle = new QLabel(frame);
    lblsubtitle->setObjectName(QStringLiteral("lblsubtitle"));
    lblsubtitle->setTextFormat(Qt::PlainText);
    lblsubtitle->setWordWrap(true);
    lblsubtitle->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    btnappstore = new cursorButton(frame);
    btnappstore->setObjectName(QStringLiteral("btnappstore"));
    btnappstore->setFixedSize(badgeSize);
    btnappstore->setIconSize(badgeSize);

    auto *text = new QVBoxLayout;
    text->setSpacing(4);
    text->addWidget(lbltitle);
    text->addWidget(lblapptype);
    text->addSpacing(2);
    text->addWidget(lblsubtitle, 1);
    text->addWidget(btnappstore, 0, Qt::AlignLeft);

    auto *row = new QHBoxLayout(frame);
    row->setContentsMargins(16, 16, 16, 14);
    row->setSpacing(16);
    row->addWidget(imgview, 0, Qt::AlignTop);
    row->addLayout(text, 1);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->addWidget(frame);
}

// ---------------------------------------------------------------- grid

PromotionGridView::PromotionGridView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("collectionView"));
}

void PromotionGridView::setCollectionViewLayout(const FlowLayout &layout)
{
    m_layout = layout;
    relayout();
}

void PromotionGridView::setItems(const QList<QWidget *> &items)
{
    // Nothing of a card calls back into this: the old ones can go at once.
    qDeleteAll(m_items);
    m_items = items;
    for (QWidget *item : std::as_const(m_items)) {
        item->setParent(this);
        item->show();
    }
    relayout();
}

int PromotionGridView::columnCount() const
{
    const int room = width() - m_layout.sectionInset.left() - m_layout.sectionInset.right();
    const int step = m_layout.itemSize.width() + m_layout.minimumInteritemSpacing;
    if (step <= 0)
        return 1;
    return std::max(1, (room + m_layout.minimumInteritemSpacing) / step);
}

QRect PromotionGridView::itemFrame(int index) const
{
    const int columns = columnCount();
    const int row = index / columns;
    const int column = index % columns;
    const int x = m_layout.sectionInset.left() + column * (m_layout.itemSize.width() + m_layout.minimumInteritemSpacing);
    const int y = m_layout.sectionInset.top() + row * (m_layout.itemSize.height() + m_layout.minimumLineSpacing);
    return QRect(QPoint(x, y), m_layout.itemSize);
}

void PromotionGridView::relayout()
{
    for (int i = 0; i < m_items.size(); ++i)
        m_items.at(i)->setGeometry(itemFrame(i));
    const int columns = columnCount();
    const int rows = int((m_items.size() + columns - 1) / columns);
    const int height = m_layout.sectionInset.top() + m_layout.sectionInset.bottom()
                       + rows * m_layout.itemSize.height() + std::max(0, rows - 1) * m_layout.minimumLineSpacing;
    if (minimumHeight() != height)
        setMinimumHeight(height);
}

void PromotionGridView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayout();
}

// ---------------------------------------------------------------- panel

utilityKitvc::utilityKitvc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("utilityKitvc"));
    buildLayout();
    viewDidLoad();
}

void utilityKitvc::buildLayout()
{
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(withAccentColour(QString::fromLatin1(panelStyle)));

    auto *header = new QFrame(this);
    header->setObjectName(QStringLiteral("panelHeader"));
    header->setFixedHeight(48);
    auto *title = new QLabel(QStringLiteral("More Apps"), header);
    title->setObjectName(QStringLiteral("lblPanelTitle"));
    QFont titleFont = title->font();
    titleFont.setPointSize(13);
    title->setFont(titleFont);
    btnclosebutton = new QPushButton(QStringLiteral("Close"), header);
    btnclosebutton->setObjectName(QStringLiteral("btnclose"));
    btnclosebutton->setCursor(Qt::PointingHandCursor);
    connect(btnclosebutton, &QPushButton::clicked, this, &utilityKitvc::btnclose);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(18, 0, 14, 1);
    headerLayout->addWidget(title);
    headerLayout->addStretch(1);
    headerLayout->addWidget(btnclosebutton);

    scrollview = new ThemedScrollView(this);
    scrollview->setObjectName(QStringLiteral("scrollview"));
    scrollview->setWidgetResizable(true);
    scrollview->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    collectionView = new PromotionGridView;
    scrollview->setWidget(collectionView);

    lblempty = new QLabel(QStringLiteral("No other applications to show."), this);
    lblempty->setObjectName(QStringLiteral("lblempty"));
    lblempty->setAlignment(Qt::AlignCenter);
    lblempty->hide();

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header);
    column->addWidget(scrollview, 1);
    column->addWidget(lblempty, 1);
}

void utilityKitvc::viewDidLoad()
{
    scrollview->viewport()->setAutoFillBackground(false);
    collectionView->setAutoFillBackground(false);
}

void utilityKitvc::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    viewWillAppear();
    viewDidAppear();
}

void utilityKitvc::viewWillAppear()
{
    buildPromotionCatalogue();
}

void utilityKitvc::viewDidAppear()
{
    if (!isfirstTimeLodded) {
        isfirstTimeLodded = true;
        lg::afterDelay(100, this, [this] { configureCollectionView(); });
        return;
    }
    configureCollectionView();
}

void utilityKitvc::configureCollectionView()
{
    PromotionGridView::FlowLayout layout;
    layout.itemSize = QSize(400, 204);
    layout.sectionInset = QMargins(20, 20, 20, 20);
    layout.minimumInteritemSpacing = 0;
    collectionView->setCollectionViewLayout(layout);
}

void utilityKitvc::buildPromotionCatalogue()
{
    const int drawn = int(QRandomGenerator::global()->bounded(10));
    const auto &order = PromotionCatalogue::displayOrders.at(size_t(drawn));
    randomPrmotarr = QList<int>(order.begin(), order.end());
    allappsDic.clear();

    refreshInstalledApps();
    const QList<PromotionEntry> entries = PromotionCatalogue::load();
    for (int number : std::as_const(randomPrmotarr)) {
        if (number < 1 || number > PromotionCatalogue::entryCount || number > entries.size())
            continue;
        if (installedAppFlags.at(size_t(number - 1)))
            continue;
        allappsDic.append(entryDictionary(entries.at(number - 1)));
    }
    reloadData();
    configureCollectionView();
}

void utilityKitvc::reloadData()
{
    QList<QWidget *> cards;
    for (int i = 0; i < numberOfItems(); ++i)
        cards.append(itemForIndex(i));
    collectionView->setItems(cards);
    lblempty->setVisible(cards.isEmpty());
    scrollview->setVisible(!cards.isEmpty());
}

collectionView_cell *utilityKitvc::itemForIndex(int index)
{
    if (index < 0 || index >= numberOfItems())
        return nullptr;
    const QVariantMap &entry = allappsDic.at(index);
    auto *cell = new collectionView_cell;
    cell->lbltitle->setText(entry.value(QStringLiteral("Title")).toString());
    if (cell->imgview) {
        const QImage icon = entry.value(QStringLiteral("icon")).value<QImage>();
        if (!icon.isNull()) {
            const qreal ratio = 2.0;
            QPixmap pixmap = QPixmap::fromImage(icon.scaled(QSize(iconSize, iconSize) * ratio, Qt::KeepAspectRatio,
                                                            Qt::SmoothTransformation));
            pixmap.setDevicePixelRatio(ratio);
            cell->imgview->setPixmap(pixmap);
        }
    }
    cell->lblsubtitle->setText(entry.value(QStringLiteral("description")).toString());
    cell->lblapptype->setText(entry.value(QStringLiteral("category")).toString());
    cell->btnappstore->setProperty("tag", index);
    connect(cell->btnappstore, &QPushButton::clicked, this,
            [this, button = cell->btnappstore] { btnAppStoreClickedWithSender(button); });
    const bool isAppStore = entry.value(QStringLiteral("isappStore")).toBool();
    cell->btnappstore->setProperty("badge", badgeImage(isAppStore));
    // The two badges are drawn once.
    static QHash<QString, QIcon> badges;
    const QString badge = badgeImage(isAppStore);
    if (!badges.contains(badge))
        badges.insert(badge, QIcon(svgPixmap(badge, badgeSize)));
    cell->btnappstore->setIcon(badges.value(badge));
    return cell;
}

QString utilityKitvc::badgeImage(bool isAppStore)
{
    return isAppStore ? QStringLiteral(":/images/download-on-the-app-store.svg")
                      : QStringLiteral(":/images/download-now.svg");
}

void utilityKitvc::btnAppStoreClickedWithSender(QObject *sender)
{
    if (!sender)
        return;
    bool ok = false;
    const int index = sender->property("tag").toInt(&ok);
    if (!ok || index < 0 || index >= numberOfItems())
        return;
    const QUrl url(allappsDic.at(index).value(QStringLiteral("apppath")).toString(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
        printLine(QStringLiteral("No web page to open for ") + allappsDic.at(index).value(QStringLiteral("Title")).toString());
        return;
    }
    QDesktopServices::openUrl(url);
}

void utilityKitvc::btnclose()
{
    if (QWidget *host = parentWidget()) {
        if (QLayout *layout = host->layout())
            layout->removeWidget(this);
    }
    hide();
    setParent(nullptr);
}
