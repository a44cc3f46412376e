#pragma once
// The collage canvas's slots: one cell that shows one photo so that it covers
// the cell, pans with the pointer and zooms with the wheel, takes photos
// dropped on it, and while hovered offers a handle that drags its photo onto
// another slot (the two slots then swap photos).
//
// collageCellvc is the slot of the Grid and Center styles; collageRotateCellvc
// the Pile slot, which shows the whole photo and takes its aspect. A slot's
// photo is the file address in its drop view's imgurl; the picture is decoded
// off the main thread at the size shown, through the shared thumbnail cache,
// and a broken file shows its file-type icon.
//
// Main thread only. The drag state below is shared by all slots and is reset
// whenever a slot drag ends, wherever it was released.
#include "collage/CollageDrag.h"
#include "collage/CollageLayout.h"

#include "model/ThumbnailCache.h"

#include "controls/ZLFlatButton.h"

#include <QImage>
#include <QLoggingCategory>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QDrag;
class QGraphicsDropShadowEffect;

// Told by a drop view once a photo dropped on it is to be shown.
class imageViewDelegate
{
public:
    virtual ~imageViewDelegate() = default;
    virtual void imageDropped() = 0;
};

// Told by a drag handle when its drag has ended.
class buttonDelegate
{
public:
    virtual ~buttonDelegate() = default;
    virtual void dragEnded() = 0;
};

// Where each slot goes and at what size its photo is fitted, one line per
// slot; off unless the rules turn on "lumengallery.collage.slots.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcCollageSlots)

// ---- Shared drag state of the slots ----
extern std::optional<QUrl> hoveredSlotURL;       // the hovered slot's photo
extern QImage slotDraggedImage;                  // the hovered slot's picture
extern std::optional<QUrl> slotDragSourceURL;    // the photo of the slot being dragged
extern bool isSlotDragStarted;
extern std::optional<QUrl> slotDropSwapURL;      // the drop target's previous photo
extern bool isSlotHovered;
// Puts every value above back to its start value.
void resetSlotDragState();

// The entries of list whose url equals url (two absent URLs are equal).
QVector<struct arrayStruct> entriesWithURL(const QVector<struct arrayStruct> &list, const std::optional<QUrl> &url);
// Whether the file's lower-cased extension is one of the image extensions.
bool isCollageImageURL(const QUrl &url);

// The picture of a slot: paints its photo to cover itself, pans with a press
// and drag, zooms with the wheel (when allowed), and accepts drops.
class CollageDropView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QUrl imgurl READ imgurlValue WRITE setImgurlValue)
    Q_PROPERTY(QImage image READ image WRITE setImage)
public:
    explicit CollageDropView(QWidget *parent = nullptr);

    imageViewDelegate *imageDelegate = nullptr;
    std::optional<QUrl> imgurl;
    bool panAndZoom = true;          // off in Pile slots
    SlotFraming framing;

    QImage image() const { return m_image; }
    void setImage(const QImage &image);
    QUrl imgurlValue() const { return imgurl.value_or(QUrl()); }
    void setImgurlValue(const QUrl &url);

    // Tells the delegate to show the dropped photo and ends a slot drag.
    void updateImage();
    // A file dropped on the slot: shown once it is known to be a readable
    // picture; an unreadable one leaves the slot as it was.
    void takeDroppedPhoto(const QUrl &url);
    // Whether a dropped file is still being checked.
    bool isCheckingDrop() const { return m_checking > 0; }
    // A dropped file still being checked is not shown when its check ends
    // (the slot took another photo since).
    void forgetPendingDrop() { ++m_dropTicket; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

Q_SIGNALS:
    // The user zoomed: the slot may want a larger decoded copy.
    void zoomChanged();

private:
    QImage m_image;
    std::optional<QPointF> m_panFrom;
    quint64 m_dropTicket = 0;   // the newest drop wins
    int m_checking = 0;
};

// A slot's drag handle: a press takes the slot's photo and picture as they
// are at that moment, a drag starts the swap, the end of the drag tells the slot.
class draggablebutton : public ZLFlatButton
{
    Q_OBJECT
public:
    explicit draggablebutton(QWidget *parent = nullptr);
    buttonDelegate *btndelegate = nullptr;

    // Runs a drag offering the given actions and returns what the target did.
    // Tests replace it to drop on a chosen widget; empty restores the real drag.
    using DragRunner = std::function<Qt::DropAction(QDrag *drag, Qt::DropActions offered)>;
    static void setDragRunnerForTesting(DragRunner runner);

    // The drag picture: a copy of image scaled to 30 x log10 of each side.
    static QImage dragPicture(const QImage &image);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_pressed = false;
    QPointF m_pressPos;
};

// What both slot kinds share: border, shadow, hover handle and the photo
// loading through the thumbnail cache.
class CollageSlotBase : public QWidget, public imageViewDelegate, public buttonDelegate
{
    Q_OBJECT
public:
    explicit CollageSlotBase(QWidget *parent = nullptr);
    ~CollageSlotBase() override;

    CollageDropView *imgview = nullptr;
    draggablebutton *btn = nullptr;

    // The area inside the border.
    QRect innerRect() const;
    // Asks for the picture of imgurl at the size shown (a cache hit shows at
    // once); the picture at hand stays until the new one arrives.
    void requestPicture();
    // Shows the slot's drop shadow when isCollageShadowOn is set.
    void applySlotShadow();
    // Forgets the picture (the URL stays).
    void clearPicture();
    // The picture on show and the key it was made for (the file's
    // modification time and size then), when it was made from the photo's
    // file; none while nothing, or a stand-in for a file that was not there,
    // is shown.
    std::optional<std::pair<QImage, ThumbnailKey>> shownPhoto() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    virtual void pictureArrived() {}
    bool &hoverFlag();

    std::optional<ThumbnailKey> m_key;  // the picture asked for
    std::optional<ThumbnailKey> m_shownKey;  // the picture on show
    QSizeF m_photoSize;  // aspect of the photo, from its first decoded copy
    bool m_mouseEnter = false;

private:
    void thumbnailReady(const ThumbnailKey &key);
    QGraphicsDropShadowEffect *m_shadow = nullptr;
};

// The slot of the Grid and Center styles.
class collageCellvc : public CollageSlotBase
{
    Q_OBJECT
public:
    explicit collageCellvc(QWidget *parent = nullptr);

    // Shows url (or, when the slot has a photo already, that photo); no URL
    // empties the slot. The picture is asked for at the current size either
    // way (reload is kept for the callers' sake).
    void loadSlotImage(const std::optional<QUrl> &url, bool reload);
    // Shows the drop view again and reloads its photo.
    void refreshSlotImage();
    // While the layout changes: keep the picture at hand, scaled, until the
    // change ends.
    void showSlotPreview();

    void imageDropped() override;
    void dragEnded() override;

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
};

// The Pile slot: the whole photo, its frame taking the photo's aspect.
class collageRotateCellvc : public CollageSlotBase
{
    Q_OBJECT
public:
    explicit collageRotateCellvc(QWidget *parent = nullptr);

    // Shows url in the frame given in canvas coordinates (top-down); the
    // width follows the photo's aspect once it is known.
    void loadPileSlotImage(const std::optional<QUrl> &url, const QRectF &frame);

    void imageDropped() override;
    void dragEnded() override;

protected:
    void pictureArrived() override;

private:
    QRectF m_frame;
};

// The pool of Pile slot controllers, reused by position.
extern QList<QPointer<QWidget>> collageRotateSlotList;
// Both pools' slots that still exist, Grid and Center ones first.
QList<CollageSlotBase *> allCollageSlots();
// Puts the collage's own shared values back to their start values.
void resetCollageGlobals();
// The slot border width, in points, and whether the slots carry a shadow.
extern int collageBorderWidth;
extern bool isCollageShadowOn;
// The border colour of the slots and the canvas (white at start).
extern QColor collageSlotBorderColor;
