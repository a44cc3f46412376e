#include "collage/CollageSlots.h"

#include "app/Essentials.h"
#include "collage/collagevc.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "platform/image/ImageSource.h"
#include "platform/files/names/FileIdentity.h"
#include "platform/files/names/FileNames.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGraphicsDropShadowEffect>
#include <QMimeData>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

Q_LOGGING_CATEGORY(lcCollageSlots, "lumengallery.collage.slots", QtInfoMsg)

std::optional<QUrl> hoveredSlotURL;
QImage slotDraggedImage;
std::optional<QUrl> slotDragSourceURL;
bool isSlotDragStarted = false;
std::optional<QUrl> slotDropSwapURL;
bool isSlotHovered = false;

QList<QPointer<QWidget>> collageRotateSlotList;
int collageBorderWidth = 7;
bool isCollageShadowOn = true;
QColor collageSlotBorderColor = collageBorderColor();

namespace {

draggablebutton::DragRunner &dragRunner()
{
    static draggablebutton::DragRunner runner;
    return runner;
}

// Six dots in two columns: the handle's picture.
QIcon gripIcon()
{
    QPixmap pixmap(36, 36);
    pixmap.setDevicePixelRatio(2.0);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 2; ++col)
            painter.drawEllipse(QPointF(6.5 + col * 5, 4 + row * 5), 1.6, 1.6);
    }
    return QIcon(pixmap);
}

// How long after a drop the slot shows the dropped photo.
constexpr int dropRefreshDelayMs = 100;

ThumbnailKey pictureKey(const QUrl &url, int rendition)
{
    ThumbnailKey key;
    key.path = lg::FileNames::pathOf(url);
    // Read by the path's bytes: never the look-alike's time and size.
    if (const std::optional<lg::FileIdentity> file = lg::fileIdentityFollowing(key.path)) {
        key.modified = file->modifiedSeconds * 1000 + file->modifiedNanoseconds / 1000000;
        key.size = file->size;
    }
    key.rendition = rendition;
    return key;
}

} // namespace

void resetSlotDragState()
{
    hoveredSlotURL.reset();
    slotDraggedImage = QImage();
    slotDragSourceURL.reset();
    isSlotDragStarted = false;
    slotDropSwapURL.reset();
    isSlotHovered = false;
}

QList<CollageSlotBase *> allCollageSlots()
{
    QList<CollageSlotBase *> found;
    for (QWidget *slot : std::as_const(collageSlotList)) {
        if (auto *base = qobject_cast<CollageSlotBase *>(slot))
            found << base;
    }
    for (const QPointer<QWidget> &slot : std::as_const(collageRotateSlotList)) {
        if (auto *base = qobject_cast<CollageSlotBase *>(slot.data()))
            found << base;
    }
    return found;
}

void resetCollageGlobals()
{
    resetSlotDragState();
    collageRotateSlotList.clear();
    collageBorderWidth = 7;
    isCollageShadowOn = true;
    collageSlotBorderColor = collageBorderColor();
}

QVector<arrayStruct> entriesWithURL(const QVector<arrayStruct> &list, const std::optional<QUrl> &url)
{
    QVector<arrayStruct> found;
    for (const arrayStruct &entry : list) {
        if (entry.url == url)
            found.append(entry);
    }
    return found;
}

bool isCollageImageURL(const QUrl &url)
{
    const QString suffix = QFileInfo(lg::FileNames::pathOf(url)).suffix().toLower();
    return !suffix.isEmpty() && imageExtensions.contains(suffix);
}

// ---------------------------------------------------------------- CollageDropView

CollageDropView::CollageDropView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("imgview"));
    setAcceptDrops(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void CollageDropView::setImage(const QImage &image)
{
    m_image = image;
    update();
}

void CollageDropView::setImgurlValue(const QUrl &url)
{
    if (url.isEmpty())
        imgurl.reset();
    else
        imgurl = url;
}

void CollageDropView::updateImage()
{
    if (imageDelegate)
        imageDelegate->imageDropped();
    isSlotDragStarted = false;
}

void CollageDropView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_image.isNull()) {
        painter.fillRect(rect(), QColor(0, 0, 0, imgurl ? 90 : 45));
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(rect()), m_image, visibleImageRect(m_image.size(), size(), framing));
}

void CollageDropView::wheelEvent(QWheelEvent *event)
{
    if (!panAndZoom || m_image.isNull()) {
        event->ignore();
        return;
    }
    framing = zoomedFraming(framing, event->angleDelta().y(), m_image.size(), size(), event->position());
    isCollageSaved = false;
    update();
    Q_EMIT zoomChanged();
    event->accept();
}

void CollageDropView::mousePressEvent(QMouseEvent *event)
{
    if (panAndZoom && event->button() == Qt::LeftButton)
        m_panFrom = event->position();
}

void CollageDropView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_panFrom || m_image.isNull())
        return;
    const SlotFraming moved = pannedFraming(framing, event->position() - *m_panFrom, m_image.size(), size());
    m_panFrom = event->position();
    if (moved == framing)
        return;
    framing = moved;
    isCollageSaved = false;
    update();
}

void CollageDropView::mouseReleaseEvent(QMouseEvent *)
{
    m_panFrom.reset();
}

void CollageDropView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls() || isCollageDrag(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
}

void CollageDropView::dropEvent(QDropEvent *event)
{
    slotDropSwapURL.reset();
    ++m_dropTicket;   // a file drop still being checked gives way
    const QMimeData *mime = event->mimeData();
    auto take = [event] {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    };
    auto taken = [this, take] {
        lg::afterDelay(dropRefreshDelayMs, this, [this] { updateImage(); });
        take();
    };
    // From another slot: only a drag that started on a handle and is still
    // running counts, so a stale source never turns an outside drop into a swap.
    if (mime->hasFormat(collageSlotMimeType) && isSlotDragStarted && slotDragSourceURL) {
        isSlotDragStarted = false;
        slotDropSwapURL = imgurl;
        imgurl = slotDragSourceURL;
        framing = {};
        taken();
        return;
    }
    // From the strip (our own list of photos) or from another program (files).
    QList<QUrl> urls;
    if (mime->hasFormat(collagePhotoMimeType))
        urls = collageDraggedPhotos(mime);
    else if (mime->hasUrls())
        urls = mime->urls();
    else {
        event->ignore();
        return;
    }
    if (urls.isEmpty()) {
        taken();
        return;
    }
    const QUrl url = urls.first();
    if (!url.isLocalFile()) {
        event->ignore();
        return;
    }
    if (lg::FileNames::isFolder(lg::FileNames::pathOf(url)) || !isCollageImageURL(url)) {
        taken();
        return;
    }
    if (entriesWithURL(collagePhotoList, url).isEmpty()) {
        collagePhotoList.append(arrayStruct{url, false});
        isCollageSaved = false;
        collageMaker()->reloadStrip();
    }
    take();
    takeDroppedPhoto(url);
}

void CollageDropView::takeDroppedPhoto(const QUrl &url)
{
    const quint64 ticket = ++m_dropTicket;
    ++m_checking;
    lg::runThenCallback(
        this,
        // The same test the saved collage makes before it draws a photo.
        [path = lg::FileNames::pathOf(url)] { return lg::ImageSource(path).pixelSize().has_value(); },
        [this, ticket, url](bool shown) {
            --m_checking;
            if (ticket != m_dropTicket || !shown)
                return;   // superseded, or not a picture that can be shown and saved
            if (imgurl != url) {
                imgurl = url;
                framing = {};
                m_image = QImage();
            }
            lg::afterDelay(dropRefreshDelayMs, this, [this] { updateImage(); });
        });
}

// ---------------------------------------------------------------- draggablebutton

draggablebutton::draggablebutton(QWidget *parent) : ZLFlatButton(parent)
{
    setObjectName(QStringLiteral("btn"));
    setIcon(gripIcon());
    setIconSize(QSize(18, 18));
    setImagePosition(ImageOnly);
    setFixedSize(26, 26);
    setCornerRadius(13);
    initializeButtonColor(QColor(0, 0, 0, 150), QColor(0, 0, 0, 200), QColor(0, 0, 0, 230));
    setBackgroundNormalColor(QColor(0, 0, 0, 150));
    setBackgroundHighlightColor(QColor(0, 0, 0, 150));
    set_ImageNormalColor(Qt::white);
    set_ImageHoverColor(Qt::white);
    set_ImageDownColor(Qt::white);
    setImageNormalColor(Qt::white);
    setImageHighlightColor(Qt::white);
    setToolTip(tr("Drag onto another slot to swap the photos"));
    setCursor(Qt::OpenHandCursor);
}

void draggablebutton::setDragRunnerForTesting(DragRunner runner)
{
    dragRunner() = std::move(runner);
}

QImage draggablebutton::dragPicture(const QImage &image)
{
    if (image.isNull() || image.width() < 2 || image.height() < 2)
        return QImage();
    const QSize size(std::max(8, int(30 * std::log10(image.width()))), std::max(8, int(30 * std::log10(image.height()))));
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void draggablebutton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    m_pressPos = event->position();
    slotDropSwapURL.reset();
    // The photo the slot holds now, not the one it held when the pointer came
    // in: a drop since then (without leaving the slot) has replaced it.
    if (auto *slot = dynamic_cast<CollageSlotBase *>(btndelegate)) {
        hoveredSlotURL = slot->imgview->imgurl;
        slotDraggedImage = slot->imgview->image();
    }
    slotDragSourceURL = hoveredSlotURL;
}

void draggablebutton::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_pressed || !slotDragSourceURL || slotDraggedImage.isNull())
        return;
    if ((event->position() - m_pressPos).manhattanLength() < QApplication::startDragDistance())
        return;
    m_pressed = false;
    isSlotDragStarted = true;

    // Our own type and the picture, never the file: nothing outside can move
    // or copy the user's photo, and only a slot takes the drop.
    auto *drag = new QDrag(this);
    auto *mime = new QMimeData;
    mime->setData(collageSlotMimeType, slotDragSourceURL->toEncoded());
    mime->setImageData(slotDraggedImage);
    drag->setMimeData(mime);
    const QImage picture = dragPicture(slotDraggedImage);
    if (!picture.isNull()) {
        drag->setPixmap(QPixmap::fromImage(picture));
        drag->setHotSpot(QPoint(picture.width() / 2, picture.height() / 2));
    }
    const Qt::DropActions offered = Qt::CopyAction;
    const Qt::DropAction action = dragRunner() ? dragRunner()(drag, offered) : drag->exec(offered, Qt::CopyAction);
    Q_UNUSED(action);
    drag->deleteLater();
    if (btndelegate)
        btndelegate->dragEnded();
    // Wherever the drag was released, nothing of it stays behind.
    resetSlotDragState();
}

void draggablebutton::mouseReleaseEvent(QMouseEvent *)
{
    m_pressed = false;
    slotDraggedImage = QImage();
    slotDragSourceURL.reset();
}

// ---------------------------------------------------------------- CollageSlotBase

CollageSlotBase::CollageSlotBase(QWidget *parent) : QWidget(parent)
{
    imgview = new CollageDropView(this);
    imgview->imageDelegate = this;
    btn = new draggablebutton(this);
    btn->btndelegate = this;
    btn->hide();
    connect(&thumbnailCache(), &ThumbnailCache::thumbnailReady, this, &CollageSlotBase::thumbnailReady);
    connect(imgview, &CollageDropView::zoomChanged, this, &CollageSlotBase::requestPicture);
    applySlotShadow();
}

CollageSlotBase::~CollageSlotBase()
{
    thumbnailCache().cancel(this);
}

QRect CollageSlotBase::innerRect() const
{
    const int b = std::clamp(collageBorderWidth, 0, std::max(0, std::min(width(), height()) / 2 - 1));
    return rect().adjusted(b, b, -b, -b);
}

void CollageSlotBase::requestPicture()
{
    if (!imgview->imgurl || !imgview->imgurl->isLocalFile()) {
        clearPicture();
        return;
    }
    const QRect inner = innerRect();
    if (inner.isEmpty())
        return;
    const QSizeF shown = QSizeF(inner.size()) * devicePixelRatioF();
    const ThumbnailKey key = pictureKey(*imgview->imgurl, slotDecodeSize(m_photoSize, shown, imgview->framing.zoom));
    if (m_key && *m_key == key && !imgview->image().isNull())
        return;
    m_key = key;
    ThumbnailCache &cache = thumbnailCache();
    if (std::optional<QImage> image = cache.thumbnail(key)) {
        thumbnailReady(key);
        return;
    }
    cache.request(this, {ThumbnailRequest{key, true, key.rendition, true}});
}

void CollageSlotBase::thumbnailReady(const ThumbnailKey &key)
{
    if (!m_key || !(key == *m_key))
        return;
    const std::optional<QImage> image = thumbnailCache().thumbnail(key);
    if (!image)
        return;
    m_photoSize = image->size();   // every copy of a photo has its aspect
    imgview->setImage(*image);
    m_shownKey = key;
    pictureArrived();
}

void CollageSlotBase::clearPicture()
{
    thumbnailCache().cancel(this);
    m_key.reset();
    m_shownKey.reset();
    m_photoSize = QSizeF();
    imgview->setImage(QImage());
}

std::optional<std::pair<QImage, ThumbnailKey>> CollageSlotBase::shownPhoto() const
{
    const QImage picture = imgview->image();
    if (picture.isNull() || !m_shownKey || m_shownKey->modified < 0 || !imgview->imgurl ||
        m_shownKey->path != lg::FileNames::pathOf(*imgview->imgurl))
        return std::nullopt;
    return std::make_pair(picture, *m_shownKey);
}

void CollageSlotBase::applySlotShadow()
{
    if (isCollageShadowOn) {
        if (!m_shadow) {
            m_shadow = new QGraphicsDropShadowEffect(this);
            m_shadow->setColor(QColor(0, 0, 0, 220));
            m_shadow->setOffset(0, 0);
            setGraphicsEffect(m_shadow);
        }
        m_shadow->setBlurRadius(14);
    } else if (m_shadow) {
        setGraphicsEffect(nullptr);   // deletes the effect
        m_shadow = nullptr;
    }
}

void CollageSlotBase::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(collageSlotBorderColor);
    painter.drawRoundedRect(QRectF(rect()), slotCornerRadius, slotCornerRadius);
}

void CollageSlotBase::resizeEvent(QResizeEvent *)
{
    imgview->setGeometry(innerRect());
    btn->move(innerRect().topLeft() + QPoint(6, 6));
}

bool &CollageSlotBase::hoverFlag()
{
    return m_mouseEnter;
}

void CollageSlotBase::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    if (hoverFlag())
        return;
    slotDraggedImage = imgview->image();
    hoveredSlotURL = imgview->imgurl;
    btn->raise();
    btn->show();
    hoverFlag() = true;
}

void CollageSlotBase::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    btn->hide();
    hoverFlag() = false;
}

void CollageSlotBase::hideEvent(QHideEvent *event)
{
    // A slot taken off the canvas under the pointer gets no leave event: it
    // lets go of the hover here, so that the next slot entered shows its handle.
    QWidget::hideEvent(event);
    if (hoverFlag()) {
        btn->hide();
        hoverFlag() = false;
        if (qobject_cast<collageCellvc *>(this))
            isSlotHovered = false;
    }
}

// ---------------------------------------------------------------- collageCellvc

collageCellvc::collageCellvc(QWidget *parent) : CollageSlotBase(parent)
{
    setObjectName(QStringLiteral("collageCellvc"));
}

void collageCellvc::enterEvent(QEnterEvent *event)
{
    // One hover flag for all Grid and Center slots.
    m_mouseEnter = isSlotHovered;
    CollageSlotBase::enterEvent(event);
    isSlotHovered = m_mouseEnter;
}

void collageCellvc::leaveEvent(QEvent *event)
{
    CollageSlotBase::leaveEvent(event);
    isSlotHovered = false;
}

void collageCellvc::loadSlotImage(const std::optional<QUrl> &url, bool reload)
{
    imgview->setGeometry(innerRect());
    if (!url && !imgview->imgurl) {
        clearPicture();
        return;
    }
    if (!url) {
        imgview->imgurl.reset();
        imgview->framing = {};
        clearPicture();
        return;
    }
    if (!imgview->imgurl) {
        imgview->imgurl = url;
        imgview->framing = {};
        reload = true;
    }
    // Without reload a picture already decoded for this size is kept (a
    // cache hit); the size may have changed, so ask in either case.
    Q_UNUSED(reload);
    const QSizeF inner(innerRect().size());
    qCDebug(lcCollageSlots).noquote() << "width:" << collageDecimal(inner.width()) << "    height:"
                                      << collageDecimal(inner.height());
    qCDebug(lcCollageSlots).noquote() << "centerpoint   (" + collageDecimal(inner.width() * 0.5) + ", " +
                                             collageDecimal(inner.height() * 0.5) + ")";
    requestPicture();
}

void collageCellvc::refreshSlotImage()
{
    imgview->show();
    if (!imgview->imgurl)
        return;
    loadSlotImage(imgview->imgurl, true);
}

void collageCellvc::showSlotPreview()
{
    // The picture at hand is painted scaled to the new size until the change
    // ends; a slot without one shows the strip's thumbnail if it has one.
    imgview->setGeometry(innerRect());
    if (!imgview->imgurl || !imgview->image().isNull())
        return;
    ThumbnailKey key = pictureKey(*imgview->imgurl, 0);
    if (std::optional<QImage> thumb = thumbnailCache().thumbnail(key)) {
        imgview->setImage(*thumb);
        m_shownKey = key;
    }
}

void collageCellvc::imageDropped()
{
    if (imgview->imgurl)
        loadSlotImage(imgview->imgurl, true);
}

void collageCellvc::dragEnded()
{
    if (!slotDropSwapURL || slotDropSwapURL == imgview->imgurl)
        return;
    imgview->forgetPendingDrop();   // the swap is newer than a drop still being checked
    imgview->imgurl = slotDropSwapURL;
    imgview->framing = {};
    clearPicture();
    loadSlotImage(imgview->imgurl, true);
    btn->hide();
    isSlotHovered = false;
    m_mouseEnter = false;
}

// ---------------------------------------------------------------- collageRotateCellvc

collageRotateCellvc::collageRotateCellvc(QWidget *parent) : CollageSlotBase(parent)
{
    setObjectName(QStringLiteral("collageRotateCellvc"));
    imgview->panAndZoom = false;
}

void collageRotateCellvc::loadPileSlotImage(const std::optional<QUrl> &url, const QRectF &frame)
{
    m_frame = frame;
    if (imgview->imgurl != url) {
        imgview->imgurl = url;
        imgview->framing = {};
        clearPicture();
    }
    setGeometry(pileFrameForPhoto(frame, m_photoSize, collageBorderWidth).toRect());
    imgview->setGeometry(innerRect());
    if (url)
        requestPicture();
}

void collageRotateCellvc::pictureArrived()
{
    const QRect wanted = pileFrameForPhoto(m_frame, m_photoSize, collageBorderWidth).toRect();
    if (wanted != geometry())
        setGeometry(wanted);
}

void collageRotateCellvc::imageDropped()
{
    if (imgview->imgurl)
        loadPileSlotImage(imgview->imgurl, m_frame);
}

void collageRotateCellvc::dragEnded()
{
    if (!slotDropSwapURL)
        return;
    imgview->forgetPendingDrop();
    loadPileSlotImage(slotDropSwapURL, m_frame);
}
