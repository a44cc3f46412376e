#include "browser/ViewController.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/BrowserStyle.h"
#include "browser/InfoPane.h"
#include "browser/ItemFileCommands.h"
#include "browser/Listing.h"
#include "browser/SegmentedControl.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "controls/Cells.h"
#include "controls/ClickViews.h"
#include "controls/ScrollViews.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/desktop/NotificationHub.h"
#include "platform/runtime/Timer.h"
#include "viewer/VideoPlayer.h"
#include "viewer/viewimagevc.h"

#include <QActionGroup>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QScrollArea>
#include <QSplitter>
#include <QToolButton>
#include <QTreeView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// The view this controller last put in its content area.
QPointer<QWidget> embeddedContentView;

// Reports resizes of the content area as the split view's subview resizes.
class ResizeWatcher : public QObject
{
public:
    ResizeWatcher(QObject *parent, std::function<void()> onResize) : QObject(parent), m_onResize(std::move(onResize)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            m_onResize();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onResize;
};

viewimagevc *existingViewer()
{
    return qobject_cast<viewimagevc *>(lg::ControllerRegistry::existing(QStringLiteral("viewimagevc")));
}

} // namespace

ViewController::ViewController(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ViewController"));
    timerResize = new lg::Timer(this);
    timerResize->setSingleShot(true);
    timerResize->setInterval(0);
    connect(timerResize, &lg::Timer::timeout, this, [this] { resizeViewimage(); });
    sizemenu = new QMenu(this);
    viewDidLoad();
}

void ViewController::viewDidLoad()
{
    browserstyle::applyDarkPalette(this);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(titleBarSpace);

    buildTitleBar();
    root->addWidget(titlebox);

    bgbox = new QFrame(this);
    bgbox->setObjectName(QStringLiteral("bgbox"));
    browserstyle::applyDarkPalette(bgbox);
    auto *bgLayout = new QVBoxLayout(bgbox);
    bgLayout->setContentsMargins(0, 0, 0, 0);
    bgLayout->setSpacing(0);
    root->addWidget(bgbox, 1);

    splitview = new QSplitter(Qt::Horizontal, bgbox);
    splitview->setObjectName(QStringLiteral("splitview"));
    splitview->setHandleWidth(1);
    splitview->setChildrenCollapsible(false);
    splitview->setStyleSheet(QStringLiteral("QSplitter::handle { background: #333333; }"));
    bgLayout->addWidget(splitview);

    customview = new myview(splitview);
    customview->setObjectName(QStringLiteral("customview"));
    browserstyle::applyDarkPalette(customview);
    splitview->addWidget(customview);

    rightBox = new QFrame(splitview);
    rightBox->setObjectName(QStringLiteral("rightBox"));
    browserstyle::applyDarkPalette(rightBox);
    rightBox->setMinimumWidth(220);
    auto *paneLayout = new QVBoxLayout(rightBox);
    paneLayout->setContentsMargins(0, 0, 0, 0);
    scrollview = new ThemedScrollView(rightBox);
    scrollview->setObjectName(QStringLiteral("scrollview"));
    scrollview->setFrameShape(QFrame::NoFrame);
    scrollview->setWidgetResizable(true);
    browserstyle::applyDarkPalette(scrollview);
    outlineview = new rightOutlineView(scrollview);
    ThemedScrollView::applyTheme(outlineview);
    outlineview->setObjectName(QStringLiteral("outlineview"));
    outlineview->setFrameShape(QFrame::NoFrame);
    outlineview->header()->hide();
    browserstyle::applyDarkPalette(outlineview);
    scrollview->setWidget(outlineview);
    paneLayout->addWidget(scrollview);
    splitview->addWidget(rightBox);
    splitview->setStretchFactor(0, 1);
    splitview->setStretchFactor(1, 0);
    splitview->setSizes({900, 260});
    rightBox->hide();

    boxbottum = new QFrame(this);
    boxbottum->setObjectName(QStringLiteral("boxbottum"));
    boxbottum->setFixedHeight(1);
    boxbottum->setStyleSheet(QStringLiteral("background: #333333;"));
    root->addWidget(boxbottum);

    connect(splitview, &QSplitter::splitterMoved, this, [this] { splitViewDidResizeSubviews(); });
    customview->installEventFilter(new ResizeWatcher(this, [this] { splitViewDidResizeSubviews(); }));

    // The grid shows first.
    thumbnailvc *grid = thumbnailGrid();
    pinViewToContainerEdges(customview, grid);
    embeddedContentView = grid;

    currentScreenMode = ScreenGrid;
    segmentControl->setSelectedSegment(0);
    setTitleBarShown(true);

    lg::NotificationHub &hub = lg::NotificationHub::instance();
    hub.observe(QStringLiteral("viewimage"), this, [this](const QVariant &) { viewimage(); });
    hub.observe(QStringLiteral("backtofiles"), this, [this](const QVariant &) { buttonbackClicked(); });
}

void ViewController::buildTitleBar()
{
    titlebox = new QFrame(this);
    titlebox->setObjectName(QStringLiteral("titlebox"));
    titlebox->setStyleSheet(withAccentColour(QStringLiteral(
        "QFrame#titlebox { background: #2a2a2a; }"
        "QLabel { color: #b4b4b4; }"
        "QToolButton#btnSort { border: none; background: transparent; padding: 0 4px; }"
        "QToolButton#btnSort:hover { background: #3a3a3a; border-radius: 3px; }"
        "QLineEdit { background: #1e1e1e; color: #e6e6e6; border: 1px solid #444444; border-radius: 4px;"
        " padding: 0 6px; selection-background-color: @accent; }"
        "QLineEdit:focus { border-color: @accent; }")));
    auto *layout = new QHBoxLayout(titlebox);
    layout->setContentsMargins(8, 2, 8, 2);
    layout->setSpacing(10);

    segmentControl = new SegmentedControl(titlebox);
    segmentControl->setObjectName(QStringLiteral("segmentControl"));
    segmentControl->addSegment(browserstyle::icon(QStringLiteral("grid")), QStringLiteral("Thumbnails"));
    segmentControl->addSegment(browserstyle::icon(QStringLiteral("list")), QStringLiteral("List"));
    segmentControl->addSegment(browserstyle::icon(QStringLiteral("viewer")), QStringLiteral("Viewer"));
    connect(segmentControl, &SegmentedControl::segmentClicked, this, [this](int s) { segmentControlClicked(s); });
    layout->addWidget(segmentControl);

    lblNumberofitems = new QLabel(titlebox);
    lblNumberofitems->setObjectName(QStringLiteral("lblNumberofitems"));
    layout->addWidget(lblNumberofitems);
    layout->addStretch(1);

    lblSearchREsult = new QLabel(titlebox);
    lblSearchREsult->setObjectName(QStringLiteral("lblSearchREsult"));
    lblSearchREsult->hide();
    layout->addWidget(lblSearchREsult);

    btnSort = new QToolButton(titlebox);
    btnSort->setObjectName(QStringLiteral("btnSort"));
    btnSort->setIcon(browserstyle::icon(QStringLiteral("sort")));
    btnSort->setIconSize(QSize(16, 16));
    btnSort->setToolTip(QStringLiteral("Sort"));
    connect(btnSort, &QToolButton::clicked, this, [this] { btnsort(); });
    layout->addWidget(btnSort);

    searchField = new Editing(titlebox);
    searchField->setObjectName(QStringLiteral("searchField"));
    searchField->setPlaceholderText(QStringLiteral("Search"));
    searchField->setClearButtonEnabled(true);
    searchField->setFixedWidth(200);
    searchField->setFixedHeight(22);
    connect(searchField, &QLineEdit::textChanged, this, [this](const QString &text) { onSearchTextChanged(text); });
    layout->addWidget(searchField);
}

void ViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_laidOut) {
        m_laidOut = true;
        updateItemCountLabel();
    }
}

int ViewController::titleBoxHeight() const
{
    return titlebox->isHidden() ? 0 : titlebox->maximumHeight();
}

void ViewController::setTitleBarShown(bool shown)
{
    titlebox->setFixedHeight(shown ? titleBarHeight : 0);
    layout()->setSpacing(shown ? titleBarSpace : 0);
    titlebox->setVisible(shown);
}

// ---------------------------------------------------------------- switching

void ViewController::segmentControlClicked(int segment)
{
    switch (segment) {
    case 0:
        showThumbnailView();
        break;
    case 1:
        showListView();
        break;
    case 2:
        viewimage();
        break;
    default:
        break;
    }
}

void ViewController::btnthumbail()
{
    showThumbnailView();
}

void ViewController::btnlist()
{
    showListView();
}

void ViewController::btnviewfile()
{
    viewimage();
}

void ViewController::showThumbnailView()
{
    switchToBrowseView(ScreenGrid);
}

void ViewController::showListView()
{
    switchToBrowseView(ScreenList);
}

void ViewController::switchToBrowseView(int target)
{
    if (segmentControl->selectedSegment() != target)
        segmentControl->setSelectedSegment(target);
    viewimagevc *viewer = existingViewer();
    if (currentScreenMode == ScreenViewer && viewer && viewer->videoPlayer) {
        viewer->videoPlayer->pause();
        viewer->videoPlayer = nullptr;
    }
    if (currentScreenMode == target)
        return;
    if (viewer && viewer->isSlideShowRunning)
        viewer->toggleSlideShow();
    setTitleBarShown(true);
    if (target == ScreenGrid) {
        thumbnailvc *grid = thumbnailGrid();
        grid->reloadCollectionView();
        currentScreenMode = ScreenGrid;
        embedContentController(grid);
    } else {
        // The table is reloaded only once the list exists.
        if (auto *list = qobject_cast<listVc *>(lg::ControllerRegistry::existing(QStringLiteral("listVc"))))
            list->reloadTable();
        currentScreenMode = ScreenList;
        embedContentController(listController());
    }
}

void ViewController::viewimage()
{
    switchToViewer(ScreenViewer);
}

void ViewController::viewFullimage()
{
    switchToViewer(ScreenFullImage);
}

void ViewController::switchToViewer(int mode)
{
    if (segmentControl->selectedSegment() != 2)
        segmentControl->setSelectedSegment(2);
    if (currentScreenMode == mode)
        return;
    setTitleBarShown(false);
    // Remember where the viewer was opened from, in its windowed and its
    // full-image layout alike, so that closing it returns there.
    if (currentScreenMode == ScreenGrid)
        styleBeforeViewer = gridStyle;
    else if (currentScreenMode == ScreenList)
        styleBeforeViewer = listStyle;
    currentScreenMode = uint8_t(mode);
    embedContentController(imageViewer());
}

void ViewController::buttonbackClicked()
{
    if (styleBeforeViewer == listStyle)
        showListView();
    else if (styleBeforeViewer == gridStyle)
        showThumbnailView();
}

void ViewController::embedContentController(QWidget *controllerView)
{
    if (!controllerView)
        return;
    if (QWidget *previous = embeddedContentView.data()) {
        if (customview->layout())
            customview->layout()->removeWidget(previous);
        previous->hide();
    }
    embeddedContentView = controllerView;
    pinViewToContainerEdges(customview, controllerView);
}

// ---------------------------------------------------------------- pane, resize, count

void ViewController::toggleInfoPane()
{
    QWidget *pane = splitview->widget(1);
    if (!pane)
        return;
    if (pane->isHidden()) {
        pane->show();
        // Shown the first time: room for the longest property key and a value.
        if (!m_infoPaneSized) {
            m_infoPaneSized = true;
            QTimer::singleShot(0, this, [this] {   // once the splitter has taken the pane in
                constexpr int firstWidth = 320;
                const QList<int> sizes = splitview->sizes();
                const int total = sizes.value(0) + sizes.value(1);
                if (sizes.value(1) < firstWidth && total > 2 * firstWidth)
                    splitview->setSizes({total - firstWidth, firstWidth});
            });
        }
        highlightRightSplitButton();
    } else {
        pane->hide();
        unhighlightRightSplitButton();
    }
}

void ViewController::fillInfoPane()
{
    InfoPane::instance()->fill();
}

void ViewController::splitViewDidResizeSubviews()
{
    scheduleViewerResize();
}

void ViewController::scheduleViewerResize()
{
    if (isWindowResizing)
        return;
    timerResize->stop();
    timerResize->start(0);
}

void ViewController::resizeViewimage()
{
    if (currentScreenMode != ScreenViewer && currentScreenMode != ScreenFullImage)
        return;
    viewimagevc *viewer = imageViewer();
    viewer->recenterZoom();
    viewer->applyFitStyle();
}

void ViewController::updateItemCountLabel()
{
    lblNumberofitems->setText(QStringLiteral("Media items: ") + QString::number(itemList.size()));
}

void ViewController::pasteItems()
{
    ItemFileCommands::instance()->pasteItems();
}

// ---------------------------------------------------------------- sort

void ViewController::btnsort()
{
    // Ends any editing, in the search field for one.
    if (QWidget *focus = window()->focusWidget())
        focus->clearFocus();
    sizemenu->clear();
    struct Entry
    {
        const char *title;
        void (ViewController::*action)();
        int key;
    };
    const Entry keys[] = {
        {"Sort By Name", &ViewController::SortName, 1},
        {"Sort By Size", &ViewController::SortSize, 2},
        {"Sort By Type", &ViewController::SortType, 3},
        {"Sort By Date", &ViewController::SortDate, 4},
    };
    // Before any key is chosen the listing shows by name, ascending: that is
    // the key in force then (an order chosen alone waits for a key).
    const int keyInForce = Currentsort >= 1 && Currentsort <= 4 ? Currentsort : isDescending ? 0 : 1;
    for (const Entry &entry : keys) {
        QAction *action = sizemenu->addAction(QString::fromLatin1(entry.title));
        action->setCheckable(true);
        action->setChecked(keyInForce == entry.key);
        connect(action, &QAction::triggered, this, entry.action);
    }
    sizemenu->addSeparator();
    QAction *ascending = sizemenu->addAction(QStringLiteral("Ascending"));
    ascending->setCheckable(true);
    ascending->setChecked(!isDescending);
    connect(ascending, &QAction::triggered, this, &ViewController::SortAscending);
    QAction *descending = sizemenu->addAction(QStringLiteral("Descending"));
    descending->setCheckable(true);
    descending->setChecked(isDescending);
    connect(descending, &QAction::triggered, this, &ViewController::SortDescending);
    sizemenu->popup(btnSort->mapToGlobal(QPoint(0, btnSort->height())));
}

void ViewController::SortName()
{
    sortItemList(1);
}

void ViewController::SortSize()
{
    sortItemList(2);
}

void ViewController::SortType()
{
    sortItemList(3);
}

void ViewController::SortDate()
{
    sortItemList(4);
}

void ViewController::SortAscending()
{
    setSortOrder(false);
}

void ViewController::SortDescending()
{
    setSortOrder(true);
}

void ViewController::setSortOrder(bool descending)
{
    isDescending = descending;
    if (Currentsort >= 1 && Currentsort <= 4)
        sortItemList(Currentsort);
}

namespace {

// The stable order of the indices of keys, ascending or descending.
template <typename Key>
std::vector<qsizetype> stableOrder(const std::vector<Key> &keys, bool descending)
{
    std::vector<qsizetype> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    if (descending)
        std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) { return keys[b] < keys[a]; });
    else
        std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) { return keys[a] < keys[b]; });
    return order;
}

QString nameOf(const InitialDirectory &item)
{
    return item.url ? item.url->fileName() : QString();
}

} // namespace

void ViewController::sortItemList(int code)
{
    if (code < 1 || code > 4)
        return;
    isSorted = true;
    Currentsort = code;

    // Each key is taken once per item, then the indices are sorted.
    const qsizetype count = itemList.size();
    std::vector<qsizetype> order;
    if (code == 1 || code == 3) {
        std::vector<QString> keys;
        keys.reserve(size_t(count));
        for (const InitialDirectory &item : std::as_const(itemList))
            keys.push_back(code == 1 ? nameOf(item) : pathExtensionOf(nameOf(item)));
        order = stableOrder(keys, isDescending);
    } else {
        // Entries whose attributes could not be read count as the smallest and
        // the oldest.
        std::vector<double> keys;
        keys.reserve(size_t(count));
        for (const InitialDirectory &item : std::as_const(itemList)) {
            if (code == 2)
                keys.push_back(item.file ? item.file->size : -1.0);
            else
                keys.push_back(item.file && item.file->createdDate.isValid()
                                   ? double(item.file->createdDate.toMSecsSinceEpoch())
                                   : double(distantPast().toMSecsSinceEpoch()));
        }
        order = stableOrder(keys, isDescending);
    }
    QVector<InitialDirectory> sorted;
    sorted.reserve(count);
    for (qsizetype index : order)
        sorted.append(std::move(itemList[index]));
    itemList = std::move(sorted);

    if (isSearchActive)
        applySearchFilter();
    reloadVisibleView();
}

void ViewController::reloadVisibleView()
{
    if (currentScreenMode == ScreenList)
        listController()->reloadTable();
    else if (currentScreenMode == ScreenGrid)
        thumbnailGrid()->reloadCollectionView();
}

// ---------------------------------------------------------------- search

void ViewController::onSearchTextChanged(const QString &text)
{
    const bool wasEmpty = m_lastSearchText.isEmpty();
    m_lastSearchText = text;
    if (wasEmpty && !text.isEmpty())
        searchFieldDidStartSearching();
    controlTextDidChange();
    if (!wasEmpty && text.isEmpty())
        searchFieldDidEndSearching();
}

void ViewController::updateSearchResultLabel()
{
    lblSearchREsult->setText(QStringLiteral("Showing results for \"") + searchField->text() + QLatin1Char('"'));
}

void ViewController::searchFieldDidStartSearching()
{
    isSearchActive = true;
    lblSearchREsult->show();
    updateSearchResultLabel();
    reloadVisibleView();
}

void ViewController::controlTextDidChange()
{
    applySearchFilter();
    reloadVisibleView();
    updateSearchResultLabel();
}

void ViewController::searchFieldDidEndSearching()
{
    isSearchActive = false;
    lblSearchREsult->hide();
    // The views go back to the whole listing now, not at their next reload:
    // otherwise an emptied search field would leave them empty.
    reloadVisibleView();
}

void ViewController::applySearchFilter()
{
    searchResults.clear();
    const QString text = searchField->text().toLower();
    if (text.isEmpty())
        return;
    for (const InitialDirectory &item : std::as_const(itemList)) {
        const QString name = item.file ? item.file->url.fileName() : nameOf(item);
        if (name.toLower().contains(text))
            searchResults.append(item);
    }
}
