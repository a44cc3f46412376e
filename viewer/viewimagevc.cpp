#include "viewer/viewimagevc.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/Listing.h"
#include "model/ThumbnailCache.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "controls/CursorButtons.h"
#include "controls/PopoverMaxTypeVC.h"
#include "controls/ZLFlatButton.h"
#include "model/ImageTransforms.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Clipboard.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/desktop/NotificationHub.h"
#include "platform/runtime/Timer.h"
#include "sidebar/sideMenuvc.h"
#include "viewer/AnimatedImage.h"
#include "viewer/ElidedLabel.h"
#include "viewer/PictureWaitOffer.h"
#include "viewer/SlideTransition.h"
#include "viewer/VideoControlStrip.h"
#include "viewer/ViewerCanvas.h"
#include "viewer/ViewerFileCommands.h"
#include "viewer/ViewerFollow.h"
#include "viewer/VideoPlayer.h"
#include "viewer/ViewerLayout.h"
#include "viewer/ViewerRotate.h"
#include "viewer/ViewerSlideshow.h"
#include "viewer/ViewerVideo.h"
#include "viewer/ViewerZoom.h"
#include "model/FileTypeIcon.h"

#include <QAction>
#include <QCursor>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>

std::optional<QUrl> viewerItemURL;
bool minimizedWhileViewing = false;

void ViewerLayoutConstant::setConstant(int value)
{
    m_constant = value;
    if (onChange)
        onChange();
}

namespace {

constexpr int decodePriorityShown = 10;
constexpr int decodePriorityFullSize = 5;
constexpr int decodePriorityNeighbour = 0;

// Removes a menu's items and the submenus made for them.
void emptyMenu(QMenu *menu)
{
    const QList<QMenu *> submenus = menu->findChildren<QMenu *>(Qt::FindDirectChildrenOnly);
    menu->clear();
    for (QMenu *submenu : submenus)
        submenu->deleteLater();
}

std::optional<QUrl> fileURLOf(const InitialDirectory &item)
{
    if (!item.file)
        return std::nullopt;
    return item.file->url;
}

} // namespace

viewimagevc::viewimagevc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("viewimagevc"));
    setFocusPolicy(Qt::StrongFocus);
    m_fileCommands = new ViewerFileCommands(this);
    m_slideshow = new ViewerSlideshow(this);
    m_video = new ViewerVideo(this);
    m_zoom = new ViewerZoom(this);
    m_layout = new ViewerLayout(this);
    m_follow = new ViewerFollow(this);
    m_rotate = new ViewerRotate(this);
    viewDidLoad();
}

viewimagevc::~viewimagevc()
{
    m_video->stop();
}

// ---------------------------------------------------------------- set-up

void viewimagevc::viewDidLoad()
{
    m_loader = new PictureLoader(this);
    connect(m_loader, &PictureLoader::ready, this, &viewimagevc::pictureReady);
    new PictureWaitOffer(m_loader, this);
    m_animation = new AnimatedImage(this);

    buildLayout();
    fitStyle = autoFit;

    imgviewMenu = new QMenu(this);
    fitemenu = new QMenu(this);
    fitemenu->setObjectName(QStringLiteral("fitemenu"));
    slideShowMenu = new QMenu(this);
    slideShowMenu->setObjectName(QStringLiteral("slideShowMenu"));

    // Pointer movement over the picture shows the control bar; entering and
    // leaving the bar and the back button are watched too.
    // (A widget without tracking swallows plain movement: the image view and
    // the clip view pass it on to the scroll view, which reports it.)
    for (QWidget *tracked : {static_cast<QWidget *>(scrollview), static_cast<QWidget *>(clipview),
                             static_cast<QWidget *>(imgview)})
        tracked->setMouseTracking(true);
    scrollview->installEventFilter(this);
    bottom_box->installEventFilter(this);
    btnback->installEventFilter(this);
    applogo->installEventFilter(this);
    avKitPlayer->installEventFilter(this);
    boxbg->installEventFilter(this);

    tooltipVc = new PopoverMaxTypeVC(this);
    tooltipVc->setAnimates(false);
    tooltipVc->hide();

    connect(m_animation, &AnimatedImage::loaded, this, [this](const QImage &first) {
        if (m_animation->path() != m_shownPath)
            return;
        if (first.isNull()) {
            showFileTypeIcon(m_shownPath);
            return;
        }
        imgview->setPicture(first, first.size(), m_shownPath);
        showImageCommonTail();
        takeFollowedIdentity();
    });
    connect(m_animation, &AnimatedImage::frameChanged, this, [this](const QImage &frame) {
        if (m_animation->path() == m_shownPath && imgview->hasImage())
            imgview->setFrame(frame);
    });
    connect(scrollview, &scrollimage::wheelZoomRequested, this, &viewimagevc::wheelZoom);
    installContextMenu();
}

void viewimagevc::buildLayout()
{
    m_layout->build();
    connectControls();
}

// The title box's and the control bar's buttons.
void viewimagevc::connectControls()
{
    connect(btnback, &QAbstractButton::clicked, this, &viewimagevc::btnbackClicked);
    connect(btneditImage, &QAbstractButton::clicked, this, &viewimagevc::btneditclicked);
    connect(btnZoomout, &QAbstractButton::clicked, this, &viewimagevc::btnzoomoutClicked);
    connect(btnzoomin, &QAbstractButton::clicked, this, &viewimagevc::btnzoominClicked);
    connect(slider, &QSlider::valueChanged, m_zoom, &ViewerZoom::sliderMoved);
    connect(btnprevious, &QAbstractButton::clicked, this, &viewimagevc::btnleft);
    connect(btnnext, &QAbstractButton::clicked, this, &viewimagevc::btnright);
    connect(btnslideShow, &QAbstractButton::clicked, this, &viewimagevc::btnslideshow);
    connect(btnSlidshowSpeed, &QAbstractButton::clicked, this, [this] { btnselectAutoplaySpeed(btnSlidshowSpeed); });
    connect(btnfit, &QAbstractButton::clicked, this, [this] { btnfitClicked(btnfit); });
    connect(btnCLoseviewImage, &QAbstractButton::clicked, this, &viewimagevc::btnCloseViewedImage);
    connect(scrollview, &scrollimage::geometryChanged, this, &viewimagevc::requestFullResolutionIfNeeded);
}

void viewimagevc::layoutPictureArea()
{
    m_layout->place();
}

void viewimagevc::setVideoShown(bool shown)
{
    avKitPlayer->setVisible(shown);
    videoControls->setVisible(shown);
}

// ---------------------------------------------------------------- appearance

void viewimagevc::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    layoutPictureArea();
    if (event->spontaneous())
        return;
    pictureTurnPool();   // a turn's thread and libraries are ready before the first turn
    // The keys go to the screen that shows, not to the sidebar or the grid behind.
    setFocus(Qt::OtherFocusReason);
    viewWillAppear();
    viewDidAppear();
}

void viewimagevc::keyPressEvent(QKeyEvent *event)
{
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Right:
        btnright();
        break;
    case Qt::Key_Left:
        btnleft();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void viewimagevc::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous())
        return;
    viewWillDisappear();
    // Taken off the screen: nothing goes on behind the user's back.
    if (isSlideShowRunning)
        toggleSlideShow();
    m_video->pause();
    tooltipVc->hide();
}

bool viewimagevc::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
        if (watched == scrollview)
            mouseMoved();
        break;
    case QEvent::Enter:
        if (watched == bottom_box || watched == btnback || watched == applogo)
            mouseEntered(static_cast<QWidget *>(watched));
        break;
    case QEvent::Leave:
        if (watched == bottom_box || watched == btnback || watched == applogo)
            mouseExited(static_cast<QWidget *>(watched));
        break;
    case QEvent::Hide:
        // A video that cannot be seen does not play on.
        if (watched == avKitPlayer && !event->spontaneous())
            m_video->pause();
        break;
    case QEvent::Resize:
        if (watched == boxbg)
            layoutPictureArea();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void viewimagevc::viewWillAppear()
{
    if (minimizedWhileViewing) {
        minimizedWhileViewing = false;
        return;
    }
    lblfilename->setText(QString());
    if (itemList.isEmpty()) {
        imgview->hide();
        boxForImgview->hide();
        setVideoShown(false);
        scrollview->hide();
        box_nofilefound->show();
    } else {
        openSelectedItem();
    }
    updateEditButton();
    updateSidebarPreview();
}

void viewimagevc::viewDidAppear()
{
    if (!startSlideshow)
        return;
    startSlideshow = false;
    toggleSlideShow();
}

void viewimagevc::updateSidebarPreview()
{
    if (auto *sidebar = lg::ControllerRegistry::existingAs<sideMenuvc>(QStringLiteral("sideMenuvc")))
        sidebar->updatePreviewThumbnail();
}

// ---------------------------------------------------------------- showing items

void viewimagevc::openSelectedItem()
{
    if (selectedItemIndex == -1)
        selectedItemIndex = 0;
    if (itemList.isEmpty())
        return;
    if (isSearchActive) {
        if (searchResults.isEmpty()) {
            imgview->hide();
            boxForImgview->hide();
            setVideoShown(false);
            return;
        }
        if (selectedItemIndex < 0 || selectedItemIndex >= searchResults.size())
            selectedItemIndex = 0;
        const InitialDirectory &item = searchResults.at(selectedItemIndex);
        showItem(fileURLOf(item), item.isImage);
        return;
    }
    if (selectedItemIndex < 0 || selectedItemIndex >= itemList.size())
        selectedItemIndex = 0;
    const InitialDirectory &item = itemList.at(selectedItemIndex);
    if (!item.file)
        showItem(std::nullopt, std::nullopt);
    else
        showItem(item.file->url, item.isImage);
}

bool viewimagevc::hasShownFile() const
{
    return viewerItemURL.has_value() && !m_shownPath.isEmpty() && box_nofilefound->isHidden();
}

void viewimagevc::updateEditButton()
{
    btneditImage->setEnabled(hasShownFile());
    btneditlabel->setEnabled(btneditImage->isEnabled());   // its word dims with it
}

void viewimagevc::showItem(const std::optional<QUrl> &url, std::optional<bool> isImage)
{
    if (!url) {
        setVideoShown(false);
        imgview->hide();
        boxForImgview->hide();
        scrollview->hide();
        // Nothing on show: nothing for the editor or the commands to take.
        m_shownPath.clear();
        m_shownIdentity.reset();
        updateEditButton();
        return;
    }
    setSliderValue(1.0);
    lblfilename->setText(url->fileName());
    viewerItemURL = *url;

    // By its exact bytes: a name that is not valid UTF-8 is shown as itself,
    // never as the look-alike whose name holds U+FFFD.
    const QString path = lg::FileNames::pathOf(*url);
    const QString extension = pathExtensionOf(url->fileName()).toLower();
    m_shownPath = path;
    m_loader->showing(path);
    m_shownIdentity = lg::fileIdentity(path);
    m_followedIdentity.reset();
    m_video->forgetWaiting();
    m_follow->forgetGoneItem();
    m_zoom->keep(false);
    m_wantedKey.reset();
    box_nofilefound->hide();
    updateEditButton();
    if (extension == QLatin1String("gif"))
        showAnimated(path);
    else if (isImage.value_or(false))
        showStill(path);
    else if (videoExtensions.contains(extension))
        m_video->show(*url);
    else
        showEmptyPicture();
}

void viewimagevc::showImageCommonTail()
{
    m_zoom->fitNewPicture();
}

void viewimagevc::showAnimated(const QString &path)
{
    transitionView->finish();
    boxForImgview->show();
    imgview->show();
    scrollview->show();
    setVideoShown(false);
    setPlaceholderFor(path);
    showImageCommonTail();
    if (isVisible())
        m_animation->setImageWithURL(path);
    else
        m_animation->stop();
}

void viewimagevc::showStill(const QString &path)
{
    m_animation->stop();
    setVideoShown(false);
    // The picture that goes, for the slideshow's transition.
    const bool withTransition = isSlideShowRunning && isVisible();
    QPixmap outgoing;
    if (withTransition) {
        if (transitionView->isRunning() || transitionView->isHolding())
            transitionView->finish();
        outgoing = scrollview->grab();
    } else {
        transitionView->finish();
    }
    imgview->show();
    boxForImgview->show();
    scrollview->show();
    if (!isVisible()) {
        // Decoded when the viewer appears.
        imgview->clearPicture();
        showImageCommonTail();
        return;
    }

    const PictureKey key = PictureLoader::keyFor(path, decodeBound());
    if (std::optional<DecodedPicture> picture = m_loader->cached(key)) {
        if (withTransition)
            transitionView->hold(outgoing);
        applyStill(key, *picture);
    } else {
        m_wantedKey = key;
        if (withTransition)
            transitionView->hold(outgoing);
        setPlaceholderFor(path);
        showImageCommonTail();
        m_loader->request(key, decodePriorityShown);
    }
    preloadNeighbours();
}

void viewimagevc::applyStill(const PictureKey &key, const DecodedPicture &picture)
{
    m_wantedKey.reset();
    if (key.path == m_shownPath)
        takeFollowedIdentity();
    if (!picture.ok()) {
        transitionView->finish();
        showFileTypeIcon(key.path);
        return;
    }
    imgview->setPicture(picture.image, picture.pixelSize, key.path);
    showImageCommonTail();
    if (transitionView->isHolding()) {
        if (isSlideShowRunning)
            transitionView->run(scrollview->grab(), selectedTransition, selectedTransition_From);
        else
            transitionView->finish();
    }
    requestFullResolutionIfNeeded();
}

void viewimagevc::pictureReady(const PictureKey &key)
{
    if (m_wantedKey && *m_wantedKey == key) {
        if (std::optional<DecodedPicture> picture = m_loader->cached(key))
            applyStill(key, *picture);
        return;
    }
    // A sharper decode of the picture on show (not of what the file held before it changed).
    if (key.bound.isEmpty() && imgview->hasImage() && key.path == imgview->pictureKey()
        && key == PictureLoader::keyFor(key.path, QSize())) {
        if (std::optional<DecodedPicture> picture = m_loader->cached(key); picture && picture->ok())
            imgview->upgradePicture(picture->image, key.path);
    }
}

void viewimagevc::setPlaceholderFor(const QString &path)
{
    const QVector<InitialDirectory> &items = activeItemList();
    if (selectedItemIndex >= 0 && selectedItemIndex < items.size()) {
        const InitialDirectory &item = items.at(selectedItemIndex);
        if (item.file && lg::FileNames::pathOf(item.file->url) == path) {
            ThumbnailCache &cache = thumbnailCache();
            const ThumbnailKey key = thumbnailKeyFor(item);
            const std::optional<QImage> thumbnail = cache.thumbnail(key);
            const std::optional<PixelInfo> info = cache.pixelInfo(key);
            QSize size = thumbnail ? thumbnail->size() : QSize();
            if (info && info->imageSize)
                size = *info->imageSize;
            imgview->setPlaceholder(thumbnail.value_or(QImage()), size, path);
            return;
        }
    }
    imgview->setPlaceholder(QImage(), QSize(), path);
}

void viewimagevc::preloadNeighbours()
{
    if (!m_preloading)
        return;
    const QVector<InitialDirectory> &items = activeItemList();
    const int count = int(items.size());
    if (count < 2 || selectedItemIndex < 0 || selectedItemIndex >= count)
        return;
    const QSize bound = decodeBound();
    for (int offset : {1, -1}) {
        const InitialDirectory &item = items.at((selectedItemIndex + offset + count) % count);
        if (!item.file || !item.isImage)
            continue;
        const QString path = lg::FileNames::pathOf(item.file->url);
        if (pathExtensionOf(item.file->url.fileName()).toLower() == QLatin1String("gif"))
            continue;
        m_loader->request(PictureLoader::keyFor(path, bound), decodePriorityNeighbour);
    }
}

void viewimagevc::requestFullResolutionIfNeeded()
{
    if (!imgview->hasImage() || !imgview->wantsMoreResolution() || !isVisible())
        return;
    if (m_animation->path() == m_shownPath && m_animation->frameCount() > 0)
        return;  // frames are shown at their own size
    const PictureKey full = PictureLoader::keyFor(imgview->pictureKey(), QSize());
    if (std::optional<DecodedPicture> picture = m_loader->cached(full)) {
        if (picture->ok())
            imgview->upgradePicture(picture->image, full.path);
        return;
    }
    m_loader->request(full, decodePriorityFullSize);
}

QSize viewimagevc::decodeBound() const
{
    const QScreen *shown = screen() ? screen() : QGuiApplication::primaryScreen();
    QSize bound = shown ? shown->size() * shown->devicePixelRatio() : QSize(1920, 1080);
    bound = bound.expandedTo(size() * devicePixelRatioF());
    return bound;
}

void viewimagevc::takeFollowedIdentity()
{
    if (!m_followedIdentity)
        return;
    m_shownIdentity = m_followedIdentity;
    m_followedIdentity.reset();
    updateSidebarPreview();   // the sidebar's picture of it too
}

void viewimagevc::showEmptyPicture()
{
    imgview->clearPicture();
    m_animation->stop();
    transitionView->finish();
    setVideoShown(false);
    imgview->show();
    boxForImgview->show();
    scrollview->show();
}

void viewimagevc::showFileTypeIcon(const QString &path)
{
    // A file with no picture to show (damaged, empty, not what its name says)
    // shows the icon of its type, as the grid does; the view stays usable.
    setVideoShown(false);
    imgview->show();
    boxForImgview->show();
    scrollview->show();
    imgview->clearPicture();
    showImageCommonTail();
    const QImage icon = fileTypeIconImage(path);
    imgview->setPlaceholder(icon, icon.size() / std::max<qreal>(1, icon.devicePixelRatio()), path);
}

void viewimagevc::itemDidFinishPlaying()
{
    if (isSlideShowRunning)
        restartSlideShowTimer();
}

void viewimagevc::reloadItems()
{
    m_follow->reload();
}

void viewimagevc::waitFor(const PictureKey &key)
{
    m_wantedKey = key;
    m_loader->request(key, decodePriorityShown);
}

void viewimagevc::showNoFiles()
{
    m_video->release();
    m_animation->stop();
    transitionView->finish();
    imgview->clearPicture();
    boxForImgview->hide();
    imgview->hide();
    setVideoShown(false);
    scrollview->hide();
    lblfilename->setText(QString());
    box_nofilefound->show();
    viewerItemURL.reset();   // nothing on show
    m_shownPath.clear();
    m_shownIdentity.reset();
    updateEditButton();
}

void viewimagevc::resizeViewimage()
{
    if (currentScreenMode == ScreenViewer || currentScreenMode == ScreenFullImage)
        recenterZoom();
}

// ---------------------------------------------------------------- navigation

void viewimagevc::showNextItem()
{
    stepItem(1);
}

void viewimagevc::showPreviousItem()
{
    stepItem(-1);
}

void viewimagevc::stepItem(int step)
{
    const QVector<InitialDirectory> &items = activeItemList();
    // Nothing to step over (an empty folder, or a search without results).
    if (itemList.isEmpty() || items.isEmpty()) {
        if (isSlideShowRunning)
            toggleSlideShow();
        return;
    }
    if (videoPlayer) {
        videoPlayer->pause();
        videoPlayer = nullptr;
    }
    const int count = int(items.size());
    int index = selectedItemIndex;
    // The shown file left the list: the item that stood after (or before) it.
    if (const int beside = selectedItemIndex < 0 ? m_follow->indexBesideGoneItem(step) : -1; beside >= 0)
        index = beside;
    // An index outside the list (it shrank since) starts again at an end.
    else if (step > 0)
        index = (index < 0 || index >= count - 1) ? 0 : index + 1;
    else
        index = (index <= 0 || index >= count) ? count - 1 : index - 1;
    selectedItemIndex = index;
    const InitialDirectory &item = items.at(index);
    if (isSearchActive || item.file)
        showItem(fileURLOf(item), item.isImage);
    else
        showItem(std::nullopt, std::nullopt);
    updateSidebarPreview();
}

void viewimagevc::btnright()
{
    restartHideTimer();
    boxForImgview->hide();
    imgview->hide();
    scrollview->hide();
    if (isSlideShowRunning)
        restartSlideShowTimer();
    showNextItem();
}

void viewimagevc::btnleft()
{
    restartHideTimer();
    boxForImgview->hide();
    scrollview->hide();
    imgview->hide();
    showPreviousItem();
}

void viewimagevc::rightSwipe()
{
    showNextItem();
}

void viewimagevc::leftSwipe()
{
    showPreviousItem();
}

void viewimagevc::btnbackClicked()
{
    if (videoPlayer) {
        videoPlayer->pause();
        videoPlayer = nullptr;
    }
    lg::NotificationHub::instance().post(QStringLiteral("backtofiles"));
}

void viewimagevc::btnCloseViewedImage()
{
    closeViewer();
}

QAbstractButton *viewimagevc::escapeButton() const
{
    const QKeySequence escape(Qt::Key_Escape);
    if (btnslideShow->shortcut() == escape)
        return btnslideShow;
    if (btnCLoseviewImage->shortcut() == escape)
        return btnCLoseviewImage;
    return nullptr;
}

void viewimagevc::enterFullImageLayout()
{
    m_layout->enterFullImage();
}

void viewimagevc::closeViewer()
{
    m_layout->leaveFullImage();
}

void viewimagevc::resize()
{
    if (auto *grid = lg::ControllerRegistry::existingAs<thumbnailvc>(QStringLiteral("thumbnailvc")))
        grid->resize();
}

void viewimagevc::btneditclicked()
{
    if (isSlideShowRunning)
        return;
    showEditview();
}

void viewimagevc::showEditview()
{
    // A video never reaches the editor: the refusal shows over the viewer.
    if (viewerItemURL && videoExtensions.contains(pathExtensionOf(viewerItemURL->fileName()).toLower())) {
        lg::Alert::inform(window(), QStringLiteral("This Image can not be edited."));
        return;
    }
    // Nothing on show: the editor would have no picture of this viewer's to open.
    if (!hasShownFile())
        return;
    // A name that is not valid UTF-8 (the editor would read and write the
    // look-alike's), or a file renamed, moved, deleted or written over by
    // another program since it was shown.
    if (viewerItemURL && viewerItemURL->isLocalFile()) {
        const QString path = lg::FileNames::pathOf(*viewerItemURL);
        if (sayNameIsNotText(path) || !isStillTheShownFile(path))
            return;
    }
    contentHub()->showEditImagevc();
}

// ---------------------------------------------------------------- hover controls

void viewimagevc::restartHideTimer()
{
    if (!timer) {
        timer = new lg::Timer(this);
        timer->setSingleShot(false);
        connect(timer, &lg::Timer::timeout, this, &viewimagevc::timercall);
    }
    timer->start(hideDelayMs);
    setBottomBoxAlpha(1.0);
}

void viewimagevc::mouseMoved()
{
    if (m_pictureTracking)
        restartHideTimer();
}

void viewimagevc::mouseEntered(QWidget *area)
{
    if (area == bottom_box) {
        // Resting on the bar keeps it.
        m_pictureTracking = false;
        if (timer)
            timer->stop();
        setBottomBoxAlpha(1.0);
    }
    tooltipVc->showHintFor(area, {{btnback, "Back"}});
}

void viewimagevc::mouseExited(QWidget *area)
{
    if (area == bottom_box) {
        setBottomBoxAlpha(0.0);
        m_pictureTracking = true;
    }
    if (area == btnback)
        tooltipVc->hide();
}

void viewimagevc::timercall()
{
    setBottomBoxAlpha(0.0);
}

void viewimagevc::setBottomBoxAlpha(double alpha)
{
    m_barOpacity->setOpacity(alpha);
    // Painted straight while fully shown.
    m_barOpacity->setEnabled(alpha < 1.0);
}

double viewimagevc::bottomBoxAlpha() const
{
    return m_barOpacity->opacity();
}

// ---------------------------------------------------------------- zoom and fit

double viewimagevc::sliderValue() const
{
    return m_zoom->sliderValue();
}

void viewimagevc::setSliderValue(double value)
{
    m_zoom->setSliderValue(value);
}

double viewimagevc::magnification() const
{
    return scrollview->magnification();
}

void viewimagevc::wheelZoom(double delta, QPointF point)
{
    m_zoom->wheel(delta, point);
}

void viewimagevc::btnzoominClicked()
{
    m_zoom->stepBy(1.0);
}

void viewimagevc::btnzoomoutClicked()
{
    m_zoom->stepBy(-1.0);
}

void viewimagevc::sliderChanged()
{
    m_zoom->applySlider();
}

void viewimagevc::setImage_fittoImage()
{
    m_zoom->fit(imageFit);
}

void viewimagevc::setImage_fittoView()
{
    m_zoom->fit(viewfit);
}

void viewimagevc::setImage_autoFit()
{
    m_zoom->fit(autoFit);
}

void viewimagevc::applyFitStyle()
{
    m_zoom->refit();
}

void viewimagevc::recenterZoom()
{
    m_zoom->recenter();
}

QSizeF viewimagevc::displayedImageSize() const
{
    return scrollview->model().displayedImageSize();
}

QSizeF viewimagevc::filledImageSize() const
{
    return scrollview->model().filledImageSize();
}

void viewimagevc::popUpMenu(QMenu *menu, QWidget *sender, int dx)
{
    if (!sender) {
        menu->popup(QCursor::pos());
        return;
    }
    // Above the button, so that the menu does not cover the bar.
    const QPoint corner = sender->mapToGlobal(QPoint(dx, 0));
    menu->popup(corner - QPoint(0, menu->sizeHint().height() + 4));
}

void viewimagevc::btnfitClicked(QWidget *sender)
{
    emptyMenu(fitemenu);
    struct Entry
    {
        const char *title;
        void (viewimagevc::*action)();
        int style;
    };
    const Entry entries[] = {
        {"Fit to Image", &viewimagevc::setImage_fittoImage, imageFit},
        {"Fit to View", &viewimagevc::setImage_fittoView, viewfit},
        {"Auto Fit", &viewimagevc::setImage_autoFit, autoFit},
    };
    for (const Entry &entry : entries) {
        QAction *action = fitemenu->addAction(QString::fromLatin1(entry.title));
        action->setCheckable(true);
        action->setChecked(fitStyle == entry.style);
        connect(action, &QAction::triggered, this, entry.action);
    }
    popUpMenu(fitemenu, sender, 0);
}

// ---------------------------------------------------------------- slideshow

void viewimagevc::btnslideshow()
{
    if (!itemList.isEmpty())
        toggleSlideShow();
}

void viewimagevc::slideShowClicked()
{
    toggleSlideShow();
}

void viewimagevc::toggleSlideShow()
{
    m_slideshow->toggle();
}

void viewimagevc::autoplaycall()
{
    m_slideshow->tick();
}

void viewimagevc::restartSlideShowTimer()
{
    m_slideshow->restartTimer();
}

QMenu *viewimagevc::menuplaySpeed(QWidget *parent)
{
    return m_slideshow->speedMenu(parent ? parent : this);
}

void viewimagevc::menuClicked_PlaySpeedWithSender(QAction *sender)
{
    m_slideshow->chooseSpeed(sender);
}

QMenu *viewimagevc::makeTransitionsMenu(QWidget *parent)
{
    return m_slideshow->transitionsMenu(parent ? parent : this);
}

void viewimagevc::btnselectAutoplaySpeed(QWidget *sender)
{
    emptyMenu(slideShowMenu);
    QAction *transitions = slideShowMenu->addAction(QStringLiteral("Slide Show Transitions"));
    QAction *speed = slideShowMenu->addAction(QStringLiteral("Slide Show Speed"));
    transitions->setMenu(makeTransitionsMenu(slideShowMenu));
    speed->setMenu(menuplaySpeed(slideShowMenu));
    popUpMenu(slideShowMenu, sender, 8);
}

void viewimagevc::setTransition(int kind, int direction)
{
    m_slideshow->setTransition(kind, direction);
}

// ---------------------------------------------------------------- pasteboard

void viewimagevc::copyCurrentItemToPasteboard()
{
    const std::optional<ChosenItem> shown = shownFileAsChosen();
    if (!shown)
        return;
    copiedURLs = {lg::FileNames::urlOf(shown->path)};
    lg::Clipboard::writeFiles(copiedURLs);
}
