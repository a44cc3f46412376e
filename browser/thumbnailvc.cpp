#include "browser/thumbnailvc.h"

#include "app/Essentials.h"
#include "browser/BrowserStyle.h"
#include "browser/GridView.h"
#include "browser/ItemEditing.h"
#include "browser/ItemMenus.h"
#include "browser/Listing.h"
#include "browser/ShownItemsModel.h"
#include "model/ThumbnailCache.h"
#include "browser/ViewController.h"
#include "controls/Spinner.h"
#include "controls/Sliders.h"
#include "platform/desktop/NotificationHub.h"
#include "platform/image/ModulesForFiles.h"
#include "platform/modules/ModulePreload.h"
#include "sidebar/sideMenuvc.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QSlider>
#include <QToolButton>

namespace {

// The codec modules the files of items will need: the video modules for the
// videos, and the decoders of the pictures Qt does not read itself.
QList<lg::image::Module> modulesNeededBy(const QVector<InitialDirectory> &items)
{
    constexpr qsizetype everyModule = 5;
    QList<lg::image::Module> modules;
    QString last;   // a run of one extension (the listing is in name order) is judged once
    bool lastImage = false;
    for (const InitialDirectory &item : items) {
        if (!item.url)
            continue;
        const QString extension = pathExtensionOf(item.url->fileName()).toLower();
        if (extension == last && item.isImage == lastImage)
            continue;
        last = extension;
        lastImage = item.isImage;
        const QList<lg::image::Module> needed = item.isImage ? lg::image::modulesForPictureExtension(extension)
                                                : videoExtensions.contains(extension) ? lg::image::modulesForVideo()
                                                                                      : QList<lg::image::Module>();
        for (const lg::image::Module module : needed) {
            if (!modules.contains(module))
                modules.append(module);
        }
        if (modules.size() >= everyModule)
            break;
    }
    return modules;
}

} // namespace

thumbnailvc::thumbnailvc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("thumbnailvc"));
    viewDidLoad();
}

void thumbnailvc::viewDidLoad()
{
    browserstyle::applyDarkPalette(this);
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_model = new ShownItemsModel(ShownItemsModel::Grid, this);
    collectionview = new GridView(this);
    collectionview->setObjectName(QStringLiteral("collectionview"));
    collectionview->setModel(m_model);
    collectionview->setItemsPerRow(numberofitemsinOneRow);
    layout->addWidget(collectionview, 0, 0);

    box_nofilefound = browserstyle::noFilesNotice(this);
    layout->addWidget(box_nofilefound, 0, 0, Qt::AlignCenter);
    listingSpinner = browserstyle::listingSpinner(box_nofilefound);
    layout->addWidget(listingSpinner, 0, 0, Qt::AlignCenter);

    auto *bar = new QFrame(this);
    bar->setObjectName(QStringLiteral("zoombar"));
    bar->setFixedHeight(28);
    bar->setStyleSheet(QStringLiteral("QFrame#zoombar { background: #262626; border-top: 1px solid #333333; }"
                                      "QToolButton { border: none; background: transparent; }"));
    auto *barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(10, 2, 10, 2);
    barLayout->setSpacing(6);
    barLayout->addStretch(1);
    btnZoomOut = new QToolButton(bar);
    btnZoomOut->setObjectName(QStringLiteral("btnzoomout"));
    btnZoomOut->setIcon(browserstyle::icon(QStringLiteral("zoomout")));
    btnZoomOut->setToolTip(QStringLiteral("Smaller thumbnails"));
    btnZoomOut->setIconSize(QSize(16, 16));
    slider = new CustomSliderCell(Qt::Horizontal, bar);
    slider->setObjectName(QStringLiteral("slider"));
    slider->setRange(0, 100);
    slider->setValue(50);
    slider->setFixedWidth(140);
    btnZoomIn = new QToolButton(bar);
    btnZoomIn->setObjectName(QStringLiteral("btnzoomin"));
    btnZoomIn->setIcon(browserstyle::icon(QStringLiteral("zoomin")));
    btnZoomIn->setToolTip(QStringLiteral("Larger thumbnails"));
    btnZoomIn->setIconSize(QSize(16, 16));
    barLayout->addWidget(btnZoomOut);
    barLayout->addWidget(slider);
    barLayout->addWidget(btnZoomIn);
    layout->addWidget(bar, 1, 0);

    connect(slider, &QSlider::valueChanged, this, [this] { sliderUpdate(); });
    connect(btnZoomIn, &QToolButton::clicked, this, [this] { btnzoomin(); });
    connect(btnZoomOut, &QToolButton::clicked, this, [this] { btnzoomout(); });
    connect(collectionview->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &selected, const QItemSelection &) { didSelectItems(selected); });
    connect(collectionview, &GridView::itemDoubleClicked, this,
            [] { lg::NotificationHub::instance().post(QStringLiteral("viewimage")); });
    keepSelectionByPath(collectionview, m_model, [] { return currentScreenMode == ScreenGrid; }, &m_selectingItself);
    installItemEditing(collectionview, true);
}

void thumbnailvc::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    viewWillAppear();
    viewDidAppear();
}

void thumbnailvc::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Out of sight: its thumbnails are no longer wanted first.
    m_model->cancelWork();
}

void thumbnailvc::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    resize();
}

void thumbnailvc::viewWillAppear()
{
    browserstyle::showListingState();
    // The list may have changed while another view showed.
    if (!m_model->showsActiveList())
        reloadCollectionView();
}

void thumbnailvc::viewDidAppear()
{
    resize();
    selectCurrentItem();
}

void thumbnailvc::resize()
{
    collectionview->setItemsPerRow(numberofitemsinOneRow);
    space = collectionview->metrics().inset;
}

void thumbnailvc::configureCollectionView()
{
    resize();
}

double thumbnailvc::itemsPerRowForSliderValue(int value, double current)
{
    if (value >= 81)
        return 3;
    if (value >= 61)
        return 4;
    if (value >= 41)
        return 5;
    if (value >= 21)
        return 6;
    if (value >= 0)
        return 7;
    return current;
}

void thumbnailvc::sliderUpdate()
{
    numberofitemsinOneRow = itemsPerRowForSliderValue(slider->value(), numberofitemsinOneRow);
    resize();
}

void thumbnailvc::btnzoomin()
{
    int value = slider->value() + 20;
    if (value >= slider->maximum())
        value = slider->maximum();
    const QSignalBlocker blocker(slider);
    slider->setValue(value);
    sliderUpdate();
}

void thumbnailvc::btnzoomout()
{
    int value = slider->value() - 20;
    if (slider->minimum() >= value)
        value = slider->minimum();
    const QSignalBlocker blocker(slider);
    slider->setValue(value);
    sliderUpdate();
}

void thumbnailvc::reloadCollectionView()
{
    m_model->reloadData();
}

void thumbnailvc::selectCurrentItem()
{
    firstAccess = true;
    if (selectedItemIndex < 0 || selectedItemIndex >= activeItemList().size()
        || selectedItemIndex >= m_model->rowCount())
        return;
    const QModelIndex index = m_model->index(selectedItemIndex, 0);
    m_selectingItself = true;
    collectionview->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_selectingItself = false;
    collectionview->scrollTo(index);
}

void thumbnailvc::didSelectItems(const QItemSelection &selected)
{
    if (m_selectingItself || selected.isEmpty())
        return;
    // The item the user acted on when it is among the new ones, else the first.
    const QModelIndex current = collectionview->selectionModel()->currentIndex();
    int row = selected.indexes().first().row();
    if (current.isValid() && selected.contains(current))
        row = current.row();
    selectedItemIndex = row;
    sidebarController()->updatePreviewThumbnail();
}

void thumbnailvc::refreshData()
{
    if (isFileOperationRunning)
        return;
    fillItemListFromSource(this, [this] { finishReload(); });
    browserstyle::showListingState();
}

void thumbnailvc::finishReload()
{
    browserstyle::showListingState();
    // The first listing that holds items ends the first time. Every listing
    // (an empty one too) replaces what the grid shows, with the chosen sort and
    // the search applied.
    if (firsttime && !itemList.isEmpty())
        firsttime = false;
    finishBrowseReload([this] { reloadCollectionView(); }, collectionview, firstAccess,
                       [this] { selectCurrentItem(); });
    preloadModulesAfterFirstScreen();
    Q_EMIT reloadFinished();
}

void thumbnailvc::preloadModulesAfterFirstScreen()
{
    disconnect(m_preloadOnPaint);
    disconnect(m_preloadOnIdle);
    const QList<lg::image::Module> modules = modulesNeededBy(itemList);
    if (modules.isEmpty())
        return;
    // Not before: loading competes with the first screen's thumbnails for
    // the disk and the processors.
    const auto start = [this, modules] {
        disconnect(m_preloadOnPaint);
        disconnect(m_preloadOnIdle);
        lg::image::loadInBackground(modules);
    };
    m_preloadOnPaint = connect(collectionview, &GridView::painted, this, [this, start] {
        if (!isListingPending() && m_model->showsActiveList() && m_model->rowCount() > 0
            && collectionview->lastPaintPending() == 0)
            start();
    });
    // The grid off the screen (the list or the viewer shows the folder): once
    // the thumbnails asked for are made.
    m_preloadOnIdle = connect(&thumbnailCache(), &ThumbnailCache::idle, this, [this, start] {
        if (!isListingPending() && !collectionview->isVisible())
            start();
    });
}

void thumbnailvc::copyItem_menu()
{
    itemmenus::copyItems(gridBrowseView());
}

void thumbnailvc::handleRightMouseDown(QMouseEvent *event)
{
    itemmenus::handleRightMouseDown(gridBrowseView(), event);
}
