#pragma once
// The full viewer. The content controller embeds it in place of the grid or
// the list; it shows one item of the shared list at a time (the item at
// selectedItemIndex of searchResults while a search is active, else of
// itemList): a still image, an animated GIF or a video, with the file name,
// zoom and fit, next and previous, a slideshow with transitions, a control
// bar that fades away when the pointer rests, and the full-image layout.
//
// Still images are decoded in the background at the size of the screen; the
// next and the previous item are decoded ahead, so that stepping shows them
// at once. Main thread only.
//
// The viewer keeps its outlets, its state and the methods other screens call;
// the work stands in parts of their own, each with this viewer as parent:
// ViewerLayout (the widgets and the full-image layout), ViewerZoom, ViewerVideo,
// ViewerFollow (the folder listed again, the file on show followed),
// ViewerRotate, ViewerSlideshow and ViewerFileCommands.
#include "model/ChosenFiles.h"
#include "model/FileCommandFlow.h"
#include "platform/files/names/FileIdentity.h"
#include "viewer/ElidedLabel.h"
#include "viewer/PictureLoader.h"
#include "viewer/ViewerMenuState.h"

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class AnimatedImage;
class DraggableClipView;
class PopoverMaxTypeVC;
class QAbstractButton;
class QAction;
class QFrame;
class QGraphicsOpacityEffect;
class QLabel;

class QMenu;
class QPushButton;
class QSlider;
class SlideTransitionView;
class VideoControlStrip;
class ViewerFileCommands;
class ViewerFollow;
class ViewerSlideshow;
class ViewerVideo;
class ViewerZoom;
class ViewerImageView;
class ViewerLayout;
class ViewerRotate;
class ZLFlatButton;
class buttoncursor;
class mynsview;
class myplayerview;
class VideoPlayer;
class scrollimage;
namespace lg { class Timer; }

// The file the viewer shows (and the editor edits); none at start. Written
// each time the viewer shows an item with a URL.
extern std::optional<QUrl> viewerItemURL;
// Set by the main window when it is minimised while the viewer shows; the
// next appearance of the viewer then leaves the shown item alone.
extern bool minimizedWhileViewing;

// A length of the viewer's layout that can be changed like a constraint's constant.
class ViewerLayoutConstant
{
public:
    int constant() const { return m_constant; }
    void setConstant(int value);
    std::function<void()> onChange;

private:
    int m_constant = 0;
};

class viewimagevc : public QWidget
{
    Q_OBJECT
public:
    explicit viewimagevc(QWidget *parent = nullptr);
    ~viewimagevc() override;

    // ---- Outlets (object names as the fields) ----
    QLabel *btneditlabel = nullptr;            // caption of the edit button
    ZLFlatButton *btnfit = nullptr;            // opens the fit menu
    scrollimage *scrollview = nullptr;         // the magnifying scroll view
    ViewerLayoutConstant titlebox_height;      // 30; 0 in the full-image layout
    QPushButton *btnslideShow = nullptr;       // starts and stops the slideshow
    QFrame *box_nofilefound = nullptr;         // shown when there is nothing to show
    QFrame *effectview = nullptr;              // backdrop of the control bar
    QFrame *boxForImgview = nullptr;           // behind the image; the background colour
    buttoncursor *btnZoomout = nullptr;
    ElidedLabel *lblfilename = nullptr;   // the shown file's name, cut in the middle when long
    buttoncursor *btnzoomin = nullptr;
    QLabel *applogo = nullptr;                 // visible in the full-image layout only
    ZLFlatButton *btnback = nullptr;           // back to the grid or the list
    ViewerImageView *imgview = nullptr;        // still and animated images
    QPushButton *btnSlidshowSpeed = nullptr;   // the slideshow settings menu
    QFrame *bottom_box = nullptr;              // the control bar
    mynsview *boxbg = nullptr;                 // the picture area's background
    QPushButton *btnCLoseviewImage = nullptr;  // closes the full-image layout
    ViewerLayoutConstant video_bottumSpace;    // 35; 0 in the full-image layout
    ViewerLayoutConstant image_bottomSpace;    // 35; 0 in the full-image layout
    QFrame *titlebox = nullptr;
    myplayerview *avKitPlayer = nullptr;       // the video view
    QSlider *slider = nullptr;                 // the magnification (see sliderValue)
    ZLFlatButton *btneditImage = nullptr;
    DraggableClipView *clipview = nullptr;
    QPushButton *btnprevious = nullptr;
    QPushButton *btnnext = nullptr;
    VideoControlStrip *videoControls = nullptr;   // under the video view
    SlideTransitionView *transitionView = nullptr;

    // ---- Other fields ----
    QMenu *imgviewMenu = nullptr;
    bool imageManuallyZoomedByUser = false;
    static constexpr int imageFit = 1;   // "Fit to Image"
    static constexpr int viewfit = 2;    // "Fit to View"
    static constexpr int autoFit = 3;    // "Auto Fit"
    int fitStyle = autoFit;
    // The player of the video on show; none while no video shows. Others
    // pause it and set it to none when they take the viewer away.
    VideoPlayer *videoPlayer = nullptr;
    lg::Timer *timer = nullptr;          // hides the control bar; none before the first movement
    QUrl playerItem;                     // the video given to the player last
    const QStringList speedTimearray = {"1", "2", "3", "4", "5", "6", "8", "15", "20"};
    PopoverMaxTypeVC *tooltipVc = nullptr;   // the "Back" hint (the popover itself)
    std::optional<bool> scrollup;        // direction of the last wheel step
    QMenu *slideShowMenu = nullptr;
    int selectedTransition = 1;          // 1 fade, 2 push, 3 reveal, 4 move in
    int selectedTransition_From = 1;     // 1 left, 2 right, 3 top, 4 bottom
    lg::Timer *timerAutoplay = nullptr;  // the slideshow's step timer
    int selectedTimeIntervel = 3;        // seconds between two steps
    bool isSlideShowRunning = false;
    QMenu *fitemenu = nullptr;

    // The zoom slider's range (the magnification's too).
    static constexpr double minimumMagnification = 1.0;
    static constexpr double maximumMagnification = 20.0;
    static constexpr int hideDelayMs = 4000;
    static constexpr int normalTitleHeight = 30;
    static constexpr int normalBottomSpace = 35;

    // ---- Appearance ----
    void viewWillAppear();
    void viewDidAppear();
    void viewWillDisappear() {}

    // ---- Showing items ----
    // Opens the item at selectedItemIndex of the list in use (0 when the index
    // lies outside it).
    void openSelectedItem();
    // Shows one item: nothing for no URL; an animated image for a .gif; a
    // still image when isImage; a video for a video extension; otherwise an
    // empty picture area.
    void showItem(const std::optional<QUrl> &url, std::optional<bool> isImage);
    // Lists the watched folder again (in the background) and re-applies the
    // order and the search; the shown item stays, and selectedItemIndex is
    // found again by its file (-1 when the file is gone). A shown file that
    // was deleted or moved out of the folder gives way to the item that stood
    // after it (the empty state when nothing is left); one renamed within the
    // folder stays on screen.
    void reloadItems();
    // The shown video reached its end (or could not be played): a running
    // slideshow goes on one interval later.
    void itemDidFinishPlaying();
    void resizeViewimage();

    // ---- Navigation, back and the full-image layout ----
    void showNextItem();
    void showPreviousItem();
    void btnright();
    void btnleft();
    void rightSwipe();
    void leftSwipe();
    void btnbackClicked();
    void btnCloseViewedImage();
    void closeViewer();
    void enterFullImageLayout();
    // Re-lays out the grid.
    void resize();
    using QWidget::resize;
    void btneditclicked();
    void showEditview();

    // ---- Hover controls ----
    void mouseMoved();
    void mouseEntered(QWidget *area);
    void mouseExited(QWidget *area);
    void timercall();
    double bottomBoxAlpha() const;

    // ---- Zoom, pan and fit ----
    void wheelZoom(double delta, QPointF point);
    void btnzoominClicked();
    void btnzoomoutClicked();
    void sliderChanged();
    void setImage_fittoImage();
    void setImage_fittoView();
    void setImage_autoFit();
    void btnfitClicked(QWidget *sender);
    QSizeF displayedImageSize() const;
    QSizeF filledImageSize() const;
    void recenterZoom();
    void applyFitStyle();
    // The slider's value as a magnification (single precision, as shown), and
    // setting it (clamped to the slider's range).
    double sliderValue() const;
    void setSliderValue(double value);
    double magnification() const;

    // ---- Slideshow ----
    void btnslideshow();
    void slideShowClicked();
    void toggleSlideShow();
    void autoplaycall();
    void restartSlideShowTimer();
    void btnselectAutoplaySpeed(QWidget *sender);
    void menuClicked_PlaySpeedWithSender(QAction *sender);
    // New menus, owned by parent (this viewer when none).
    QMenu *menuplaySpeed(QWidget *parent = nullptr);
    QMenu *makeTransitionsMenu(QWidget *parent = nullptr);
    void fadeFromLeft() { setTransition(1, 1); }
    void fadeFromRight() { setTransition(1, 2); }
    void fadeFromTop() { setTransition(1, 3); }
    void fadeFromBottum() { setTransition(1, 4); }
    void pushFromLeft() { setTransition(2, 1); }
    void pushFromRight() { setTransition(2, 2); }
    void pushFromTop() { setTransition(2, 3); }
    void pushFromBottum() { setTransition(2, 4); }
    void revealFromLeft() { setTransition(3, 1); }
    void revealFromRight() { setTransition(3, 2); }
    void revealFromTop() { setTransition(3, 3); }
    void revealFromBottum() { setTransition(3, 4); }
    void moveinlFromLeft() { setTransition(4, 1); }
    void moveinFromRight() { setTransition(4, 2); }
    void moveinFromTop() { setTransition(4, 3); }
    void moveinFromBottum() { setTransition(4, 4); }

    // Puts the current item's file URL on the clipboard and in copiedURLs.
    void copyCurrentItemToPasteboard();

    // ---- Context menu (ViewerMenu.cpp) ----
    QStringList recommendedApps;       // names offered by "Open with Application"; a tag indexes it
    QStringList recommendedAppIds;     // their desktop entry ids, in the same order
    std::optional<QUrl> fileURL;       // the current item's file at the last opening of the menu
    // Rebuilds imgviewMenu from the state of the moment.
    void menuWillOpen();
    void rebuildContextMenu();
    // The context menu's parts, in the order they are shown.
    QMenu *buildApplicationsMenu();
    void addViewItems(QMenu *menu, const ViewerMenuState &state, QMenu *applications);
    void addFileItems(QMenu *menu, const ViewerMenuState &state);
    void addShowItems(QMenu *menu, const ViewerMenuState &state);
    void addRotateItems(QMenu *menu, const ViewerMenuState &state);
    ViewerMenuSnapshot menuSnapshot() const;

    // ---- File actions (ViewerFileActions.cpp) ----
    void menuShowinFinder();
    void menufullscreenPlay();
    void openwithApplicationWithSender(int tag);
    void SetWallpaper();
    void copyItem_menu();
    void deleteItem_menu();
    void alertforDeleteImage();
    void endAlertSheet();
    void showProperty_menu();
    void changeImageviewBGColor();
    void changeColor1(const QColor &color);
    void itemMoveTO_menu();
    void itemCopyTO_menu();
    // The file the viewer shows (viewerItemURL) while it is the entry at the
    // selected index of the list in use; none otherwise (an index outside the
    // list, or a reload that found the shown file gone). Every file command
    // binds this when it is chosen.
    std::optional<QUrl> currentItemFileURL() const;
    // Whether a file is on show: false with "No media files found" (an empty
    // folder, or one renamed or removed) and before the first item. Edit, Rotate
    // and the file commands are offered only while it is true.
    bool hasShownFile() const;
    // Enables the bar's Edit button while a file is on show.
    void updateEditButton();
    // The same, for a command chosen now: when the file on show has gone
    // (renamed, moved or deleted by another program), another file has taken
    // its name, or its name is not valid UTF-8 (no command acts on it: the
    // file layers would act on the look-alike whose name holds U+FFFD), an
    // alert says so and the picture stays on screen; none then.
    std::optional<QUrl> shownFileOrSayItIsGone();
    // The file on show as a command finds it, the way every file command
    // does (sourceNow): at its path, or at its new name where it was renamed
    // within its folder and nothing else changed. Otherwise the refusal is
    // said in the window, as by shownFileOrSayItIsGone; none then.
    std::optional<ChosenItem> shownFileAsChosen();
    // Whether path carries the bytes of a name that is not valid UTF-8
    // (lg::FileNames); if so, prints why no command acts on it and says it
    // in the refusal's alert.
    bool sayNameIsNotText(const QString &path);
    // The alert that the file at path is no longer the one the viewer opened
    // there, for state (not Same): gone, or another file.
    void sayItemIsNotTheShownFile(const QString &path, ChosenFileState state);
    // The shown file was refused by a command, for reason.
    void sayItemWasRefused(const QString &path, const QString &reason);
    // How the file at path stands to the file the viewer opened there. A path
    // the viewer did not open counts as the same while something is there.
    ChosenFileState shownFileState(const QString &path) const;
    // True when path is still the file opened there; otherwise says why not.
    bool isStillTheShownFile(const QString &path);
    // The identity of the file on show, taken when it was shown (and again
    // after the viewer's own rewrite of it); none for a file that was not there.
    std::optional<lg::FileIdentity> shownFileIdentity() const { return m_shownIdentity; }
    // Takes the item of removed out of the shown lists and shows the one now at
    // the selected index (or the empty state).
    void removeItemFromViewer(const QUrl &removed);

    // ---- Rotate, flip and save a copy (ViewerRotate.cpp) ----
    QImage editedImage;                 // the last turned or mirrored picture
    // tag 1: left 90°, 2: right 90°, 3: 180°.
    void RotateImageWithSender(int tag);
    // tag 1: horizontal, 2: vertical.
    void flipImageWithSender(int tag);
    void reloadShownImage(const QUrl &url);
    // Whether a rotate or flip is being worked on.
    bool isTransformRunning() const;

    // ---- Inner parts ----
    PictureLoader *pictureLoader() const { return m_loader; }
    AnimatedImage *animatedImage() const { return m_animation; }
    // Whether the neighbours of the shown image are decoded ahead (on by default).
    void setPreloadingEnabled(bool enabled) { m_preloading = enabled; }
    // The bound that still images are decoded to fit: the screen, or the
    // viewer when it is larger, in device pixels.
    QSize decodeBound() const;
    // The button that Escape presses now.
    QAbstractButton *escapeButton() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void viewDidLoad();
    void buildLayout();
    void connectControls();
    void layoutPictureArea();
    void setVideoShown(bool shown);
    void stepItem(int step);
    void updateSidebarPreview();
    void restartHideTimer();
    void setBottomBoxAlpha(double alpha);
    void setTransition(int kind, int direction);
    void showImageCommonTail();
    void showAnimated(const QString &path);
    void showStill(const QString &path);
    void showEmptyPicture();
    // The icon of path's file type in place of a picture that cannot be shown.
    void showFileTypeIcon(const QString &path);
    void applyStill(const PictureKey &key, const DecodedPicture &picture);
    void pictureReady(const PictureKey &key);
    // key becomes the picture waited for, decoded first.
    void waitFor(const PictureKey &key);
    void preloadNeighbours();
    void requestFullResolutionIfNeeded();
    void popUpMenu(QMenu *menu, QWidget *sender, int dx);
    void setPlaceholderFor(const QString &path);
    // The identity of the file shown again becomes the one commands check.
    void takeFollowedIdentity();
    // The empty state: no picture, no video, "No media files found".
    void showNoFiles();

    PictureLoader *m_loader = nullptr;
    AnimatedImage *m_animation = nullptr;
    QGraphicsOpacityEffect *m_barOpacity = nullptr;
    QWidget *m_bar = nullptr;
    std::optional<PictureKey> m_wantedKey;   // the picture waited for
    QString m_shownPath;
    // The identity of the file at m_shownPath when it was shown.
    std::optional<lg::FileIdentity> m_shownIdentity;
    // The identity of the file being shown again, until its content is on screen.
    std::optional<lg::FileIdentity> m_followedIdentity;
    bool m_pictureTracking = true;   // pointer movement over the picture shows the bar
    bool m_preloading = true;
    // File commands.
    void installContextMenu();
    ViewerFileCommands *m_fileCommands = nullptr;   // Trash, Move To and Copy To through the flow
    friend class ViewerFileCommands;
    ViewerSlideshow *m_slideshow = nullptr;   // start and stop, the step timer, speed and transitions
    ViewerVideo *m_video = nullptr;   // the player of the video on show, made ready on a worker
    friend class ViewerVideo;
    ViewerZoom *m_zoom = nullptr;   // the slider, the buttons, the wheel and the fit styles
    ViewerLayout *m_layout = nullptr;   // the widgets, their places and the full-image layout
    friend class ViewerLayout;
    ViewerFollow *m_follow = nullptr;   // the folder listed again; the file on show followed
    friend class ViewerFollow;
    // The shown file's identity where path is the shown file; none otherwise.
    std::optional<lg::FileIdentity> identityShownFor(const QString &path) const;
    // preparedJpeg: the turned file's content for a JPEG copy (see TurnedFile::jpeg).
    // notInPlace: why the file was not written in place (the save panel says it).
    void commitEditedImage(const QUrl &url, const QImage &edited, const QImage &shown, QSize pixelSize, bool written,
                           const QByteArray &preparedJpeg = {}, const QString &notInPlace = {});
    void saveCopySheetEnded(bool saved);
    ViewerRotate *m_rotate = nullptr;   // the turn of the file on show, and the copy offered
    friend class ViewerRotate;
};
