#include "app/mainvc.h"

#include "app/Essentials.h"
#include "app/ShareMenu.h"
#include "app/mainWindowController.h"
#include "app/splitvc.h"
#include "browser/ItemFileCommands.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "collage/collagevc.h"
#include "controls/LabelClicks.h"
#include "controls/PopoverMaxTypeVC.h"
#include "controls/ProgressViews.h"
#include "controls/Spinner.h"
#include "controls/SvgArt.h"
#include "controls/ZLFlatButton.h"
#include "model/FolderMonitor.h"
#include "outreach/utilityKitvc.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Timer.h"
#include "sidebar/sideMenuvc.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QSvgRenderer>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>

using lg::printLine;

namespace {

const char *hubStyle = R"css(
mainvc { background-color: #1e1e1e; }
QFrame#titlebox { background-color: #262626; border: none; border-bottom: 1px solid #353535; }
QLabel#lblcollage { color: #c8c8c8; background: transparent; }
QFrame#bgbox { background-color: rgba(0, 0, 0, 150); border: none; }
QFrame#progressBox { background-color: #2a2a2a; border: 1px solid #3c3c3c; border-radius: 12px; }
QLabel#lblProcessTitle { color: #f0f0f0; background: transparent; font-weight: 600; }
QLabel#lblpath { color: #9a9a9a; background: transparent; }
QPushButton#btncancel {
    background-color: #3a3a3a; color: #f0f0f0; border: 1px solid #4c4c4c;
    border-radius: 6px; padding: 5px 22px;
}
QPushButton#btncancel:hover { background-color: #454545; }
QPushButton#btncancel:pressed { background-color: #303030; }
)css";

const QColor headerImageColor(196, 196, 196);
const QColor headerImageHoverColor(255, 255, 255);
const QColor headerHoverColor(58, 58, 58);
const QColor headerDownColor(44, 44, 44);


} // namespace

// ---------------------------------------------------------------- LayoutHeightConstraint

void LayoutHeightConstraint::setConstant(int height)
{
    m_constant = std::max(0, height);
    if (m_view)
        m_view->setFixedHeight(m_constant);
}

// ---------------------------------------------------------------- split-pane buttons

void setSplitButtonColor(ZLFlatButton *mainvc::*button, const QColor &color)
{
    auto *hub = qobject_cast<mainvc *>(lg::ControllerRegistry::existing(QStringLiteral("mainvc")));
    if (!hub || !button)
        return;
    ZLFlatButton *target = hub->*button;
    if (!target)
        return;
    target->set_ImageNormalColor(color);
    target->setImageNormalColor(color);
    target->set_ImageHoverColor(color);
}

void highlightLeftSplitButton() { setSplitButtonColor(&mainvc::btnLeftSplit, accentOrange()); }
void unhighlightLeftSplitButton() { setSplitButtonColor(&mainvc::btnLeftSplit, neutralGrey()); }
void highlightRightSplitButton() { setSplitButtonColor(&mainvc::btnrightsplit, accentOrange()); }
void unhighlightRightSplitButton() { setSplitButtonColor(&mainvc::btnrightsplit, neutralGrey()); }

// ---------------------------------------------------------------- construction

mainvc::mainvc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("mainvc"));
    timerReload = new lg::Timer(this);
    timerReload->setObjectName(QStringLiteral("timerReload"));
    timerReload->setSingleShot(true);
    timerReload->setInterval(reloadDelayMs);
    connect(timerReload, &lg::Timer::timeout, this, &mainvc::reloaddata);
    buildLayout();
    viewDidLoad();
}

mainvc::~mainvc()
{
    // The split view, collage and editor belong to the registry: hand them back
    // instead of deleting them with the container.
    for (QWidget *view : container->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        view->hide();
        view->setParent(nullptr);
    }
    if (auto *panel = findChild<utilityKitvc *>(QString(), Qt::FindDirectChildrenOnly)) {
        panel->hide();
        panel->setParent(nullptr);
    }
}

ZLFlatButton *mainvc::makeHeaderButton(const QString &name, const QString &icon, const QString &hint)
{
    auto *button = new ZLFlatButton(titlebox);
    button->setObjectName(name);
    button->setAccessibleName(hint);
    button->setIcon(svgIcon(icon, QSize(20, 20)));
    button->setIconSize(QSize(20, 20));
    button->setImagePosition(ZLFlatButton::ImageOnly);
    button->setFixedSize(34, 28);
    button->setCornerRadius(6);
    button->initializeButtonColor(QColor(Qt::transparent), headerHoverColor, headerDownColor);
    button->setBackgroundNormalColor(QColor(Qt::transparent));
    button->setBackgroundHighlightColor(QColor(Qt::transparent));
    button->set_ImageNormalColor(headerImageColor);
    button->set_ImageHoverColor(headerImageHoverColor);
    button->set_ImageDownColor(headerImageColor);
    button->setImageNormalColor(headerImageColor);
    button->setImageHighlightColor(accentOrange());
    return button;
}

void mainvc::buildLayout()
{
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QString::fromLatin1(hubStyle));

    // The header bar and the container, one column; the promotion panel and the
    // busy overlay lie over both, in the same cell of the grid.
    auto *column = new QWidget(this);
    column->setObjectName(QStringLiteral("hubColumn"));
    auto *columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);

    titlebox = new QFrame(column);
    titlebox->setObjectName(QStringLiteral("titlebox"));
    titleboxHeight.bind(titlebox);
    titleboxHeight.setConstant(titleboxDefaultHeight);

    btnLeftSplit = makeHeaderButton(QStringLiteral("btnLeftSplit"), QStringLiteral(":/images/header/left-pane.svg"),
                                    QStringLiteral("Left Pane"));
    btncollage = makeHeaderButton(QStringLiteral("btncollage"), QStringLiteral(":/images/header/collage.svg"),
                                  QStringLiteral("Collage"));
    lblcollage = new QLabel(QStringLiteral("Collage"), titlebox);
    lblcollage->setObjectName(QStringLiteral("lblcollage"));
    btnutilitykit = makeHeaderButton(QStringLiteral("btnutilitykit"), QStringLiteral(":/images/header/more-apps.svg"),
                                     QStringLiteral("More Apps"));
    btnFullImagePlay = makeHeaderButton(QStringLiteral("btnFullImagePlay"),
                                        QStringLiteral(":/images/header/full-image.svg"), QStringLiteral("Full Screen"));
    btnzoom = makeHeaderButton(QStringLiteral("btnzoom"), QStringLiteral(":/images/header/zoom.svg"),
                               QStringLiteral("Zoom"));
    btnShere = makeHeaderButton(QStringLiteral("btnShere"), QStringLiteral(":/images/header/share.svg"),
                                QStringLiteral("Share"));
    btnrightsplit = makeHeaderButton(QStringLiteral("btnrightsplit"), QStringLiteral(":/images/header/right-pane.svg"),
                                     QStringLiteral("Right Pane"));
    // The sidebar shows at first: its toggle starts highlighted.
    btnLeftSplit->set_ImageNormalColor(accentOrange());
    btnLeftSplit->setImageNormalColor(accentOrange());
    btnLeftSplit->set_ImageHoverColor(accentOrange());

    auto *header = new QHBoxLayout(titlebox);
    header->setContentsMargins(10, 0, 10, 1);
    header->setSpacing(4);
    header->addWidget(btnLeftSplit);
    header->addStretch(1);
    header->addWidget(btncollage);
    header->addWidget(lblcollage);
    header->addSpacing(10);
    header->addWidget(btnutilitykit);
    header->addStretch(1);
    header->addWidget(btnFullImagePlay);
    header->addWidget(btnzoom);
    header->addWidget(btnShere);
    header->addSpacing(6);
    header->addWidget(btnrightsplit);

    container = new QWidget(column);
    container->setObjectName(QStringLiteral("container"));
    columnLayout->addWidget(titlebox);
    columnLayout->addWidget(container, 1);

    // The busy overlay: a dimming box with the spinner and the progress sheet.
    bgbox = new QFrame(this);
    bgbox->setObjectName(QStringLiteral("bgbox"));
    bgbox->hide();
    loader = new Spinner(bgbox);
    loader->setObjectName(QStringLiteral("loader"));
    loader->setFixedSize(80, 80);
    loader->setBackground(QColor(Qt::transparent));
    loader->setForeground(QColor(235, 235, 235));
    loader->hide();

    progressBox = new QFrame(bgbox);
    progressBox->setObjectName(QStringLiteral("progressBox"));
    progressBox->setFixedSize(340, 250);
    progressBox->hide();
    circularview = new CircularProgressView(progressBox);
    circularview->setObjectName(QStringLiteral("circularview"));
    circularview->setFixedSize(110, 110);
    circularview->setBackground(QColor(Qt::transparent));
    circularview->setForeground(accentOrange());
    circularview->hide();
    lblProcessTitle = new QLabel(progressBox);
    lblProcessTitle->setObjectName(QStringLiteral("lblProcessTitle"));
    lblProcessTitle->setAlignment(Qt::AlignCenter);
    lblpath = new QLabel(progressBox);
    lblpath->setObjectName(QStringLiteral("lblpath"));
    lblpath->setAlignment(Qt::AlignCenter);
    lblpath->setTextFormat(Qt::PlainText);
    lblpath->setMinimumWidth(10);
    lblpath->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    btncancel = new QPushButton(QStringLiteral("Stop"), progressBox);
    btncancel->setObjectName(QStringLiteral("btncancel"));
    btncancel->setCursor(Qt::PointingHandCursor);

    auto *sheet = new QVBoxLayout(progressBox);
    sheet->setContentsMargins(22, 18, 22, 18);
    sheet->setSpacing(8);
    sheet->addWidget(circularview, 0, Qt::AlignHCenter);
    sheet->addWidget(lblProcessTitle);
    sheet->addWidget(lblpath);
    sheet->addStretch(1);
    sheet->addWidget(btncancel, 0, Qt::AlignHCenter);

    auto *overlay = new QGridLayout(bgbox);
    overlay->addWidget(loader, 0, 0, Qt::AlignCenter);
    overlay->addWidget(progressBox, 0, 0, Qt::AlignCenter);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    grid->addWidget(column, 0, 0);
    grid->addWidget(bgbox, 0, 0);

    tooltipVc = new PopoverMaxTypeVC(this);

    connect(btnLeftSplit, &QAbstractButton::clicked, this, &mainvc::btnleft);
    connect(btnrightsplit, &QAbstractButton::clicked, this, &mainvc::btnright);
    connect(btnFullImagePlay, &QAbstractButton::clicked, this, &mainvc::btnfullimage);
    connect(btnzoom, &QAbstractButton::clicked, this, &mainvc::btnzoomClicked);
    connect(btnShere, &QAbstractButton::clicked, this, &mainvc::btnShare);
    connect(btncollage, &QAbstractButton::clicked, this, &mainvc::showCollagevc);
    forwardLabelClicks(lblcollage, btncollage);
    connect(btnutilitykit, &QAbstractButton::clicked, this, &mainvc::btnUtilityKit);
    connect(btncancel, &QPushButton::clicked, this, &mainvc::btncancelClicked);
}

void mainvc::viewDidLoad()
{
    m_splitView = splitController();
    pinViewToContainerEdges(container, m_splitView);

    // The information pane's toggle shows the pane's state (it starts hidden).
    QWidget *pane = contentController()->splitview->widget(1);
    const QColor paneColor = pane && !pane->isHidden() ? accentOrange() : neutralGrey();
    btnrightsplit->set_ImageNormalColor(paneColor);
    btnrightsplit->setImageNormalColor(paneColor);
    btnrightsplit->set_ImageHoverColor(paneColor);

    // Hover areas: the four buttons and the header bar.
    for (QWidget *area : {static_cast<QWidget *>(btnShere), static_cast<QWidget *>(btnFullImagePlay),
                          static_cast<QWidget *>(btnLeftSplit), static_cast<QWidget *>(btnrightsplit),
                          static_cast<QWidget *>(titlebox)})
        area->installEventFilter(this);
}

// ---------------------------------------------------------------- hover hints

bool mainvc::eventFilter(QObject *watched, QEvent *event)
{
    if (auto *area = qobject_cast<QWidget *>(watched)) {
        if (event->type() == QEvent::Enter)
            mouseEntered(area);
        else if (event->type() == QEvent::Leave)
            mouseExited(area);
    }
    return QWidget::eventFilter(watched, event);
}

void mainvc::mouseEntered(QWidget *area)
{
    if (isBusy)
        return;
    tooltipVc->showHintFor(area, {
        {btnShere, "Share"},
        {btnFullImagePlay, "Full Screen"},
        {btnLeftSplit, "Left Pane"},
        {btnrightsplit, "Right Pane "},
    });
    printLine(QStringLiteral("enetr"));
}

void mainvc::mouseExited(QWidget *)
{
    printLine(QStringLiteral("exit"));
    tooltipVc->hide();
}

// ---------------------------------------------------------------- container swaps

void mainvc::swapContainerView(QWidget *outgoing, QWidget *incoming)
{
    if (outgoing && outgoing->parentWidget() == container) {
        if (QLayout *layout = container->layout())
            layout->removeWidget(outgoing);
        outgoing->hide();
        outgoing->setParent(nullptr);
    }
    if (incoming)
        pinViewToContainerEdges(container, incoming);
}

void mainvc::setHeaderItemsVisible(bool visible, bool includingPromotion)
{
    for (QWidget *item : {static_cast<QWidget *>(btnShere), static_cast<QWidget *>(btnLeftSplit),
                          static_cast<QWidget *>(btnrightsplit), static_cast<QWidget *>(btnFullImagePlay),
                          static_cast<QWidget *>(btncollage), static_cast<QWidget *>(lblcollage)})
        item->setVisible(visible);
    if (includingPromotion)
        btnutilitykit->setVisible(visible);
}

void mainvc::showCollagevc()
{
    viewimagevc *viewer = imageViewer();
    if (viewer->isSlideShowRunning)
        viewer->toggleSlideShow();
    previousScreenMode = currentScreenMode;
    collagevc *collage = collageMaker();
    swapContainerView(m_splitView, collage);
    // The slots decode their pictures again, off the main thread.
    if (isCollageFirstLoad)
        collage->reloadSlotImages();
    currentScreenMode = ScreenCollage;
    setHeaderItemsVisible(false, true);
}

void mainvc::closeCollagevc()
{
    currentScreenMode = previousScreenMode;
    if (QObject *collage = lg::ControllerRegistry::existing(QStringLiteral("collagevc")))
        swapContainerView(qobject_cast<QWidget *>(collage), nullptr);
    if (auto *maker = qobject_cast<collagevc *>(lg::ControllerRegistry::existing(QStringLiteral("collagevc"))))
        maker->clearSlotImages();
    swapContainerView(nullptr, m_splitView);
    setHeaderItemsVisible(true, true);
    // Changes made meanwhile (a collage saved into the folder) were not shown.
    if (!monitor)
        startMonitorWithSender();
    reloaddata();
}

void mainvc::showEditImagevc()
{
    if (!editImageController)
        editImageController = instantiateMainStoryboardController<editImagevc>(QStringLiteral("editImagevc"));
    swapContainerView(m_splitView, editImageController);
    setHeaderItemsVisible(false, false);
    editImageController->loadImage();
}

void mainvc::closeEditImagevc()
{
    if (editImageController)
        swapContainerView(editImageController, nullptr);
    swapContainerView(nullptr, m_splitView);
    setHeaderItemsVisible(true, false);
}

// ---------------------------------------------------------------- header actions

void mainvc::btnleft()
{
    if (isBusy)
        return;
    splitvc *split = splitController();
    if (!split->item)
        return;
    if (split->item->isHidden()) {
        split->item->show();
        highlightLeftSplitButton();
    } else {
        split->item->hide();
        unhighlightLeftSplitButton();
    }
    lg::afterDelay(0, this, [this] { resize(); });
}

void mainvc::btnright()
{
    if (isBusy)
        return;
    contentController()->toggleInfoPane();
    lg::afterDelay(100, this, [this] { resizeViewimage(); });
    lg::afterDelay(0, this, [this] { resize(); });
}

void mainvc::btnfullimage()
{
    if (isBusy)
        return;
    enterFullImage();
}

void mainvc::enterFullImage()
{
    const bool alreadyFullImage = currentScreenMode == ScreenFullImage;
    titlebox->hide();
    titleboxHeight.setConstant(0);

    ViewController *content = contentController();
    switch (currentScreenMode) {
    case ScreenViewer:
        fullImageReturnStyle = viewerStyle;
        break;
    case ScreenList:
        fullImageReturnStyle = listStyle;
        content->viewFullimage();
        break;
    case ScreenGrid:
        fullImageReturnStyle = gridStyle;
        content->viewFullimage();
        break;
    default:
        break;
    }
    viewimagevc *viewer = imageViewer();
    viewer->enterFullImageLayout();

    if (content->boxbottum)
        content->boxbottum->hide();
    if (content->bgbox && content->scrollview) {
        const QColor fill = content->scrollview->palette().color(content->scrollview->backgroundRole());
        QPalette palette = content->bgbox->palette();
        palette.setColor(QPalette::Window, fill);
        content->bgbox->setPalette(palette);
        content->bgbox->setAutoFillBackground(true);
    }
    currentScreenMode = ScreenFullImage;

    if (content->splitview && content->splitview->count() > 1) {
        QWidget *pane = content->splitview->widget(1);
        // Entering the layout again from itself keeps the first record.
        if (!alreadyFullImage)
            infoPaneShownBeforeFullImage = !pane->isHidden();
        pane->hide();
    }
    unhighlightRightSplitButton();
    if (QWidget *sidebar = splitController()->item)
        sidebar->hide();
    unhighlightLeftSplitButton();

    viewer->recenterZoom();
    mainWindowController *window = mainWindow();
    if (!window->isInFullScreen())
        window->setWindowState(window->windowState() | Qt::WindowFullScreen);
    lg::afterDelay(0, this, [this] { resize(); });
}

void mainvc::btnzoomClicked()
{
    if (isBusy)
        return;
    mainWindowController *window = mainWindow();
    window->setWindowState(window->windowState() ^ Qt::WindowFullScreen);
}

void mainvc::btnShare()
{
    if (isBusy)
        return;
    const QVector<InitialDirectory> &items = activeItemList();
    if (selectedItemIndex < 0 || selectedItemIndex >= items.size())
        return;
    // A name that is not valid UTF-8 would reach another program as its
    // look-alike's: the window says so instead.
    const InitialDirectory &item = items.at(selectedItemIndex);
    if (item.url && item.url->isLocalFile()
        && ItemFileCommands::instance()->sayNameIsNotText(lg::FileNames::pathOf(*item.url)))
        return;
    const QString path = item.commandPath();
    if (path.isEmpty())
        return;
    ShareMenu::popup(path, btnShere);
}

void mainvc::btncancelClicked()
{
    stopAddingFolders = true;
    sidebarController()->alertforStopAddingFolder();
}

void mainvc::btnUtilityKit()
{
    utilityKitvc *panel = promotionPanel();
    auto *grid = static_cast<QGridLayout *>(layout());
    if (panel->parentWidget() != this)
        panel->setParent(this);
    grid->addWidget(panel, 0, 0);
    panel->show();
    panel->raise();
    // The busy overlay stays on top of everything.
    bgbox->raise();
}

void mainvc::resize()
{
    thumbnailGrid()->resize();
}

void mainvc::resizeViewimage()
{
    if (currentScreenMode != ScreenViewer && currentScreenMode != ScreenFullImage)
        return;
    viewimagevc *viewer = imageViewer();
    viewer->recenterZoom();
    viewer->applyFitStyle();
}

// ---------------------------------------------------------------- busy overlay

void mainvc::showBusyLoader()
{
    bgbox->show();
    bgbox->raise();
    isBusy = true;
    if (!isonlyalert) {
        loader->startAnimation();
        loader->show();
    } else {
        loader->stopAnimation();
        loader->hide();
    }
}

void mainvc::hideBusyLoader()
{
    bgbox->hide();
    isBusy = false;
    loader->stopAnimation();
    loader->hide();
    Q_EMIT busyLoaderHidden();
}

// ---------------------------------------------------------------- progress sheet

double mainvc::progressRatio(int count, int total)
{
    if (total <= 0 || count <= 0)
        return 0.0;
    if (count >= total)
        return 1.0;
    return double(count) / double(total);
}

void mainvc::showProgressSheet()
{
    QPointer<mainvc> self(this);
    lg::onMain([self] {
        if (!self)
            return;
        self->loader->stopAnimation();
        self->loader->hide();
        self->circularview->show();
        self->progressBox->show();
        self->lblpath->clear();
        self->lblProcessTitle->setText(QStringLiteral("Adding Folders..."));
        self->circularview->setAnimated(false);
        self->circularview->setProgress(0.0);
        self->circularview->setAnimated(true);
    });
}

void mainvc::updateProgressSheet()
{
    // Read the counts now, from the caller's thread; show them on the main thread.
    const double ratio = progressRatio(currentCount.load(), totalcount.load());
    QPointer<mainvc> self(this);
    lg::onMain([self, ratio] {
        if (self)
            self->circularview->setProgress(ratio);
    });
}

void mainvc::updateProgressSheet(int count, int total)
{
    currentCount = count;
    totalcount = total;
    updateProgressSheet();
}

void mainvc::setProgressPath(const QString &path)
{
    QPointer<mainvc> self(this);
    lg::onMain([self, path] {
        if (!self)
            return;
        const QFontMetrics metrics(self->lblpath->font());
        const int room = std::max(40, self->progressBox->width() - 50);
        self->lblpath->setText(metrics.elidedText(path, Qt::ElideMiddle, room));
        self->lblpath->setToolTip(path);
    });
}

void mainvc::hideProgressSheet()
{
    QPointer<mainvc> self(this);
    lg::onMain([self] {
        if (!self)
            return;
        // The spinner comes back only where the overlay still shows in its
        // spinner form: a sheet over the overlay, or no overlay, keeps it hidden.
        if (!self->bgbox->isHidden() && !self->isonlyalert) {
            self->loader->startAnimation();
            self->loader->show();
        }
        self->circularview->hide();
        self->progressBox->hide();
        self->lblpath->clear();
    });
}
