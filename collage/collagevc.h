#pragma once
// The collage maker: a strip of the photos offered, a canvas of slots laid out
// as a Grid, around a Center or as a Pile, and a column of controls (photo
// count, rows, columns, margin, border, shadow, colours, style, output size,
// orientation). The canvas is saved as one image at the chosen pixel size,
// drawn from the photos' files (not from the screen).
//
// Main thread. Folder scans run in the background and deliver their result
// to the main thread with a generation number; a scan that finds the screen
// reset is dropped. Failures the user can act on (a save that could not be
// written) are shown by the save panel's alert; the collage stays unsaved and,
// when the save was asked for on leaving, open. The slots' and the strip's
// drags are the collage's own: they carry no files and offer only a copy.
#include "collage/CollageLayout.h"
#include "collage/CollageRender.h"

#include "controls/ZLFlatButton.h"

#include <QAbstractListModel>
#include <QImage>
#include <QListView>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class CollageStepper;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class Saver;
class ZLFlatButton;
class buttoncursor;
class collageCellvc;
class collageRotateCellvc;

// The strip's rows: one per entry of collagePhotoList, with its thumbnail
// (made in the background by the shared cache) and its file URL for drags.
class CollagePhotoModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit CollagePhotoModel(QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }
    // The list changed: show it again.
    void reload();
    // The longest side, in pixels, of the thumbnails the strip asks for.
    void setThumbnailSide(int side);
    bool isReloading() const { return m_reloading; }

private:
    bool m_reloading = false;
    void thumbnailReady();
    int m_thumbnailSide = 140;
};

// How one strip item looks: its thumbnail centred, and a selected item
// filled with the selection colour behind it.
class collageCollectionviewCell : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

// The photo strip. reset() also reloads the rows from collagePhotoList, so
// callers that only know an item view can refresh it.
class collageCollectionView : public QListView
{
    Q_OBJECT
public:
    explicit collageCollectionView(QWidget *parent = nullptr);
    void reset() override;
    CollagePhotoModel *photoModel() const { return m_model; }
    // Room left around the items: sides and top and bottom.
    void setSectionInsets(const QMargins &insets);
    QMargins sectionInsets() const { return viewportMargins(); }

private:
    CollagePhotoModel *m_model = nullptr;
};

// The help popover's content.
class collageInfovc : public QFrame
{
    Q_OBJECT
public:
    explicit collageInfovc(QWidget *parent = nullptr);
};

class collagevc : public QWidget
{
    Q_OBJECT
public:
    explicit collagevc(QWidget *parent = nullptr);
    ~collagevc() override;

    // ---- Outlets ----
    buttoncursor *btnhelp = nullptr;
    QCheckBox *checkboxShadow = nullptr;
    QLabel *lblPhotosCount = nullptr;
    QLabel *lblColumnCount = nullptr;
    QLabel *lblRowsCount = nullptr;
    QPushButton *btnremove = nullptr;       // enabled while the strip has a selection
    ZLFlatButton *btnSelectsize = nullptr;
    CollageStepper *stepperMargin = nullptr;
    CollageStepper *stepperBorderwidth = nullptr;
    CollageStepper *stepper_Columncount = nullptr;
    CollageStepper *stepperRowscount = nullptr;
    CollageStepper *stepper_photoscount = nullptr;
    QSlider *sliderMargin = nullptr;
    QSlider *slider_borderwidth = nullptr;
    QSlider *slider_columnscount = nullptr;
    QSlider *sliderRowscount = nullptr;
    QSlider *slider_photoscount = nullptr;
    QLineEdit *textfieldmargin = nullptr;
    QLineEdit *textfieldBorder = nullptr;
    QLineEdit *textfieldColumn = nullptr;
    QLineEdit *textfieldRows = nullptr;
    QLineEdit *textfieldPhotos = nullptr;
    QWidget *mainbgbox = nullptr;          // where the canvas is fitted
    collageCollectionView *collectionview = nullptr;
    QLabel *lblSelectedStyle = nullptr;
    QFrame *mainCustomBox = nullptr;       // the canvas
    QWidget *customview = nullptr;         // the slot area inside the canvas
    QLabel *imglandscape = nullptr;
    QLabel *imgPortrait = nullptr;
    ZLFlatButton *btnstyleButton = nullptr;
    ZLFlatButton *btnpileButton = nullptr;
    ZLFlatButton *btnPortrait = nullptr;
    ZLFlatButton *btnLandscape = nullptr;
    ZLFlatButton *btnAddPhotosButton = nullptr;
    ZLFlatButton *btnAddLibraryButton = nullptr;
    ZLFlatButton *btnSaveButton = nullptr;
    ZLFlatButton *btnExitButton = nullptr;
    QPushButton *borderColorWell = nullptr;
    QPushButton *backgroundColorWell = nullptr;
    QSlider *sliderStripSize = nullptr;

    // ---- Record ----
    int imgcount = 5;
    int row = 3;
    int column = 3;
    int style = 2;            // 1 Grid, 2 Center, 3 Pile
    double currentMargin = 0;
    bool repeatMarginProcessAgain = false;
    bool ismarginChanging = false;
    bool isLayoutChanged = false;
    bool isrotate = false;
    bool processStart = false;
    int currentIndex = 0;
    double collectionsize = 150;   // strip item edge, points
    double numberofitemsinOneRow = 3.0;
    double space = 0.0;            // the strip's left and right inset
    static constexpr double stripInsetTop = 20.0;
    QColor canvasBackground = QColor(43, 57, 69);
    Saver *saver = nullptr;
    collageInfovc *collageInfovcobj = nullptr;
    // How many layout passes have run (for tests and the benchmark).
    int layoutPassCount = 0;

    // ---- Screen ----
    void viewDidLoad();
    void viewDidResize();
    // Takes every slot off the canvas and lays it out again.
    void removeall();
    // Lays the slots out without taking them off first.
    void setimgLayout();
    // Reloads the strip from collagePhotoList.
    void reloadStrip();
    // The hub's hand-over: entering reloads every slot's picture from its
    // photo; leaving drops the pictures (the photos stay).
    void reloadSlotImages();
    void clearSlotImages();

    // ---- Style, size, orientation ----
    void btnstyle();
    void btngrid();
    void btncenter();
    void btnpile();
    void btnsizeClicked();
    void framechangedWithSender(int index);
    void btnPortraitclicked();
    void btnLandscapeclciked();
    // "800.0 X 600.0 pixel" for collageSizes[index] (capital X, singular).
    static QString sizeButtonTitle(int index);
    // "1024.0 x 768.0 pixels" for the size menu.
    static QString sizeMenuTitle(int index);

    // ---- Strip and colours ----
    void configureCollectionView();
    void sliderCollectionview(int value);
    void borderColorWellChosen(const QColor &color);
    void beckgroundColorWellChosen(const QColor &color);

    // ---- Exit and save ----
    void btnexit();
    void alertforExit();
    void btnyes_Exitalert();
    void btnNo_Exitalert();
    void btnsave();
    // Photos placed and not saved since the last change: leaving asks first.
    static bool hasUnsavedChanges();
    // Asks "Do you want to save the changes?" as the exit button does.
    // done(true) once the collage is saved or the user chose "No" (the
    // collage then closes); done(false) when the save failed or was
    // cancelled: the collage stays open, unsaved. Where the question is open
    // already, or a save is under way (its drawing, its panel or its write),
    // nothing more is asked: that answer, or that save's end, settles done.
    void askToSaveChanges(std::function<void(bool mayGoOn)> done);
    // The pixel size of a save: the larger side first in landscape.
    QSize outputSize() const;
    // What the canvas holds now, for rendering the saved image.
    CollageSnapshot snapshot() const;
    // What the alert says of photos that could not be read for a save.
    static QString unreadablePhotosText(const QStringList &paths);

    // ---- Controls ----
    void stepperPhotoscount();
    void stepperRowscountChanged();
    void stepperColumncount();
    void stepperborder();
    void stepperMarginChanged();
    void controlTextDidChange(QLineEdit *field);
    void controlTextDidEndEditing(QLineEdit *field);
    void checkboxShadowChanged();
    void applyMarginChange();
    void finishSliderChange();
    void hidebgview();

    // ---- Adding and removing photos ----
    void btnaddlibrary();
    void btnAddPhotos();
    // Adds the image files among urls, folders searched in the background,
    // then reloads the strip and rebuilds the layout. Dropped files and
    // folders reach the collage here while it shows.
    Q_INVOKABLE void addPhotosInBackground(const QList<QUrl> &urls);
    void btnremoveClicked();
    void alertforDeletemedia();
    void btnDeletemedia_alert();
    void btnDeletemedia_cancelalert();
    // Removes the photos at rows, emptying the slots that showed them.
    void removePhotos(const QList<int> &rows);

    // The slot pools as their classes.
    QList<collageCellvc *> cellSlots() const;

    // Tests: replaces the random photo draw.
    void setPhotoPickerForTesting(PhotoPicker picker) { m_picker = std::move(picker); }
    // Tests: whether a folder scan is running.
    bool isScanning() const { return m_scansRunning > 0; }

Q_SIGNALS:
    // A background scan has added its photos (or none).
    void photosAdded(int count);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class SliderNumber { Photos, Rows, Columns, Border, Margin };
    enum class SliderPhase { Press, Drag, Release, Other };
    // Draws the collage, then offers the save panel (saver->callFromExit as set).
    void saveCollage();
    void buildLayout();
    QWidget *buildControlColumn();
    void connectNumber(SliderNumber number);
    void sliderChanged(SliderNumber number, SliderPhase phase);
    void countUpdate(SliderNumber number);
    // A count's stepper moved: the field and the slider follow and the layout is rebuilt.
    void stepperCountChanged(SliderNumber number);
    // Grid 1, Center 2, Pile 3 (turned slots): the layout is rebuilt in that style.
    void chooseStyle(int chosen, const QString &label);
    void borderUpdate(bool previews);
    void refitSlotsForBorder();
    void placeSlot(const QRectF &frame, QSizeF area);
    void layoutPass();
    void scheduleRebuild();
    void setStyleControlsEnabled();
    void updateColorWells();
    void fitCanvas();
    void paintCanvasShadow();
    int storedValue(SliderNumber number) const;
    void storeValue(SliderNumber number, int value);
    QSlider *sliderFor(SliderNumber number) const;
    CollageStepper *stepperFor(SliderNumber number) const;
    QLineEdit *fieldFor(SliderNumber number) const;

    PhotoPicker m_picker = systemPicker();
    QImage m_canvasShadow;
    static constexpr double canvasShadowRadius = 20.0;   // spread of the shadow, pixels
    bool m_rebuildPending = false;
    int m_scansRunning = 0;
    quint64 m_saveTicket = 0;   // the newest save wins
    bool m_exitQuestionOpen = false;
    bool m_saving = false;   // from the drawing of a save until its panel has ended
    std::function<void(bool)> m_afterSaveQuestion;   // of askToSaveChanges, until it is settled
    void settleSaveQuestion(bool mayGoOn);
};

// A stepper: two small arrow buttons that step an integer within a range.
class CollageStepper : public QWidget
{
    Q_OBJECT
public:
    explicit CollageStepper(QWidget *parent = nullptr);
    void setRange(int minimum, int maximum);
    int minValue() const { return m_min; }
    int maxValue() const { return m_max; }
    int integerValue() const { return m_value; }
    double doubleValue() const { return m_value; }
    void setIntegerValue(int value);
    // Takes a decimal text ("12" or "12.0"); other text is ignored.
    void setStringValue(const QString &text);
    // One step up (+1) or down (-1), as a click on an arrow.
    void stepBy(int steps);

Q_SIGNALS:
    // A click on an arrow changed the value.
    void activated();

private:
    int m_min = 0;
    int m_max = 100;
    int m_value = 0;
};
