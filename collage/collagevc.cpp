#include "collage/collagevc.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "model/ScreenHooks.h"
#include "model/ThumbnailCache.h"
#include "collage/CollageDrag.h"
#include "collage/CollageScan.h"
#include "collage/CollageSlots.h"
#include "controls/CursorButtons.h"
#include "controls/Cells.h"
#include "controls/ScrollViews.h"
#include "controls/Sliders.h"
#include "model/PhotosLibrary.h"
#include "app/Saver.h"
#include "platform/desktop/Alert.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "platform/desktop/Panels.h"
#include "sidebar/sideMenuvc.h"
#include "platform/files/names/FileIdentity.h"
#include "platform/files/names/FileNames.h"

#include <QCoreApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QIcon>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <cstdio>
#include <memory>
#include <utility>

using lg::printLine;

namespace {

mainvc *hub()
{
    return qobject_cast<mainvc *>(lg::ControllerRegistry::existing(QStringLiteral("mainvc")));
}

void showOverlay(bool onlyAlert)
{
    showOverlay(onlyAlert ? Overlay::Sheet : Overlay::Work);
}

// The save panel starts in the current folder (a Photos library is not one to save into).
QString saveFolder()
{
    if (!currentFolderURL || !currentFolderURL->isLocalFile())
        return {};
    const QString folder = lg::FileNames::pathOf(*currentFolderURL);
    return QFileInfo(folder).suffix().toLower() == QLatin1String("photoslibrary") ? QString() : folder;
}

void hideOverlay()
{
    showOverlay(Overlay::Hidden);
}

// Edges rounded separately, so that neighbouring frames share their edge.
QRect pixelRect(const QRectF &r)
{
    const int left = qRound(r.left());
    const int top = qRound(r.top());
    return QRect(left, top, qRound(r.right()) - left, qRound(r.bottom()) - top);
}

ZLFlatButton *makeButton(QWidget *parent, const QString &name, const QString &title)
{
    auto *button = new ZLFlatButton(parent);
    button->setObjectName(name);
    button->setText(title);
    button->setImagePosition(ZLFlatButton::NoImage);
    button->setCornerRadius(5);
    button->setFixedHeight(26);
    button->setMinimumWidth(60);
    button->initializeButtonColor(QColor(58, 58, 58), QColor(72, 72, 72), QColor(44, 44, 44));
    button->setBackgroundNormalColor(QColor(58, 58, 58));
    button->setBackgroundHighlightColor(accentOrange());
    button->setTitleNormalColor(QColor(235, 235, 235));
    button->setTitleHighlightColor(Qt::white);
    return button;
}

// Light outlines of rounded shapes on a clear ground, drawn for a 2x screen.
QPixmap outlinePicture(int side, double penWidth, const QList<QRectF> &shapes, double radius)
{
    QPixmap pixmap(side, side);
    pixmap.setDevicePixelRatio(2.0);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(230, 230, 230), penWidth));
    painter.setBrush(Qt::NoBrush);
    for (const QRectF &shape : shapes)
        painter.drawRoundedRect(shape, radius, radius);
    return pixmap;
}

QPixmap orientationPicture(bool landscape)
{
    return outlinePicture(48, 1.6, {landscape ? QRectF(2, 6, 20, 12) : QRectF(6, 2, 12, 20)}, 2);
}

// The style menu's pictures: "grid" nine cells, "grid_center" the Center
// layout (bands above and below, a column each side, the large middle).
QIcon styleIcon(bool center)
{
    QList<QRectF> cells;
    if (center) {
        cells = {{1.5, 1.5, 15, 3.5}, {1.5, 13, 15, 3.5}, {1.5, 6, 3.5, 5.5}, {6.5, 6, 5, 5.5}, {13, 6, 3.5, 5.5}};
    } else {
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                cells.append(QRectF(1.5 + c * 5.25, 1.5 + r * 5.25, 4.25, 4.25));
        }
    }
    return QIcon(outlinePicture(36, 1.2, cells, 0.8));
}

const QString stripStyle = QStringLiteral(
    "QListView#collectionview { background: #1f2a33; border: none; }"
    "QLabel { color: #d8d8d8; }"
    "QCheckBox { color: #d8d8d8; }"
    "QLineEdit { background: #26323c; color: #f0f0f0; border: 1px solid #44525e; border-radius: 3px; padding: 1px 3px; }"
    "QLineEdit:disabled { color: #777; }"
    "QPushButton#btnremove { background: #3a3a3a; color: #ebebeb; border: none; border-radius: 5px; padding: 0 8px; }"
    "QPushButton#btnremove:hover { background: #484848; }"
    "QPushButton#btnremove:disabled { color: #777; background: #2c2c2c; }");

// Shown in the strip until a photo's thumbnail is ready.
const QImage &stripPlaceholder()
{
    static const QImage image = [] {
        QImage square(64, 64, QImage::Format_ARGB32_Premultiplied);
        square.fill(Qt::transparent);
        QPainter painter(&square);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(120, 130, 140), 2));
        painter.setBrush(QColor(60, 70, 80));
        painter.drawRoundedRect(QRectF(4, 10, 56, 44), 5, 5);
        return square;
    }();
    return image;
}

} // namespace

// ---------------------------------------------------------------- CollagePhotoModel

CollagePhotoModel::CollagePhotoModel(QObject *parent) : QAbstractListModel(parent)
{
    connect(&thumbnailCache(), &ThumbnailCache::thumbnailReady, this, &CollagePhotoModel::thumbnailReady);
}

int CollagePhotoModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(collagePhotoList.size());
}

QVariant CollagePhotoModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= collagePhotoList.size())
        return {};
    const arrayStruct &entry = collagePhotoList.at(index.row());
    if (!entry.url)
        return {};
    if (role == Qt::ToolTipRole || role == Qt::AccessibleTextRole)
        return QFileInfo(lg::FileNames::pathOf(*entry.url)).fileName();
    if (role != Qt::DecorationRole)
        return {};
    // The strip's own size, apart from the browser's thumbnail of the file.
    ThumbnailKey key;
    key.path = lg::FileNames::pathOf(*entry.url);
    // Read by the path's bytes: never the look-alike's time and size.
    if (const std::optional<lg::FileIdentity> file = lg::fileIdentityFollowing(key.path)) {
        key.modified = file->modifiedSeconds * 1000 + file->modifiedNanoseconds / 1000000;
        key.size = file->size;
    }
    key.rendition = m_thumbnailSide;
    ThumbnailCache &cache = thumbnailCache();
    if (std::optional<QImage> image = cache.thumbnail(key))
        return QIcon(QPixmap::fromImage(*image));
    if (!cache.hasFailed(key))
        cache.request(this, {ThumbnailRequest{key, true, m_thumbnailSide, true}}, {}, ThumbnailCache::Later);
    return QIcon(QPixmap::fromImage(stripPlaceholder()));
}

Qt::ItemFlags CollagePhotoModel::flags(const QModelIndex &index) const
{
    return QAbstractListModel::flags(index) | (index.isValid() ? Qt::ItemIsDragEnabled : Qt::NoItemFlags);
}

QStringList CollagePhotoModel::mimeTypes() const
{
    return {collagePhotoMimeType};
}

QMimeData *CollagePhotoModel::mimeData(const QModelIndexList &indexes) const
{
    // Our own type only: a slot takes the photo; a file manager gets nothing
    // it could move or copy.
    QByteArrayList lines;
    for (const QModelIndex &index : indexes) {
        if (index.row() >= 0 && index.row() < collagePhotoList.size() && collagePhotoList.at(index.row()).url)
            lines << collagePhotoList.at(index.row()).url->toEncoded();
    }
    if (lines.isEmpty())
        return nullptr;
    auto *mime = new QMimeData;
    mime->setData(collagePhotoMimeType, lines.join('\n'));
    return mime;
}

void CollagePhotoModel::setThumbnailSide(int side)
{
    side = std::max(16, side);
    if (side == m_thumbnailSide)
        return;
    m_thumbnailSide = side;
    thumbnailCache().cancel(this);
    thumbnailReady();   // every item asks again; the selection stays
}

void CollagePhotoModel::reload()
{
    m_reloading = true;
    beginResetModel();
    endResetModel();
    m_reloading = false;
}

void CollagePhotoModel::thumbnailReady()
{
    if (!collagePhotoList.isEmpty())
        Q_EMIT dataChanged(index(0), index(int(collagePhotoList.size()) - 1), {Qt::DecorationRole});
}

// ---------------------------------------------------------------- collageCollectionviewCell

void collageCollectionviewCell::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    const QRect cell = option.rect.adjusted(3, 3, -3, -3);
    if (option.state & QStyle::State_Selected) {
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(accentOrange());
        painter->drawRoundedRect(cell, 5, 5);
    }
    const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
    const QRect inner = cell.adjusted(5, 5, -5, -5);
    icon.paint(painter, inner, Qt::AlignCenter);
    painter->restore();
}

// ---------------------------------------------------------------- collageCollectionView

collageCollectionView::collageCollectionView(QWidget *parent) : QListView(parent)
{
    setObjectName(QStringLiteral("collectionview"));
    m_model = new CollagePhotoModel(this);
    setModel(m_model);
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);   // rows wrap; items are never wider than the strip
    setDefaultDropAction(Qt::CopyAction);
    setUniformItemSizes(true);
    setItemDelegate(new collageCollectionviewCell(this));
    ThemedScrollView::applyTheme(this);
}

void collageCollectionView::setSectionInsets(const QMargins &insets)
{
    setViewportMargins(insets);
}

void collageCollectionView::reset()
{
    // The model's own reset reaches the view here too: only a reset asked of
    // the view reloads the rows.
    if (m_model->isReloading())
        QListView::reset();
    else
        m_model->reload();
}

// ---------------------------------------------------------------- collageInfovc

collageInfovc::collageInfovc(QWidget *parent) : QFrame(parent, Qt::ToolTip)
{
    setObjectName(QStringLiteral("collageInfovc"));
    setStyleSheet(QStringLiteral("QFrame#collageInfovc { background: #2b3945; border: 1px solid #556270; border-radius: 6px; }"
                                 "QLabel { color: #eeeeee; }"));
    auto *layout = new QVBoxLayout(this);
    auto *text = new QLabel(tr(
        "<b>Making a collage</b><br>"
        "Add photos and folders with <i>Add Photos</i>, or a Photos library with <i>Add Library</i>; "
        "you can also drop files on the window.<br>"
        "Choose <i>Grid</i>, <i>Center</i> or <i>Pile</i>, and set the photo count, rows, columns, margin and border.<br>"
        "Drop a photo from the strip or the file manager on a slot to place it. "
        "Drag a slot's handle onto another slot to swap their photos.<br>"
        "Scroll on a photo to zoom; drag it to move it inside its slot.<br>"
        "Pick the output size and orientation, then <i>Save</i>."), this);
    text->setWordWrap(true);
    text->setFixedWidth(300);
    layout->addWidget(text);
}

// ---------------------------------------------------------------- CollageStepper

CollageStepper::CollageStepper(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    for (int step : {1, -1}) {
        auto *arrow = new ZLFlatButton(this);
        arrow->setObjectName(step > 0 ? QStringLiteral("up") : QStringLiteral("down"));
        arrow->setText(step > 0 ? QStringLiteral("\u25B4") : QStringLiteral("\u25BE"));
        arrow->setImagePosition(ZLFlatButton::NoImage);
        arrow->setFixedSize(16, 11);
        arrow->setCornerRadius(2);
        arrow->initializeButtonColor(QColor(58, 58, 58), QColor(80, 80, 80), QColor(40, 40, 40));
        arrow->setBackgroundNormalColor(QColor(58, 58, 58));
        arrow->setTitleNormalColor(QColor(230, 230, 230));
        arrow->setAutoRepeat(true);
        connect(arrow, &QAbstractButton::clicked, this, [this, step] { stepBy(step); });
        layout->addWidget(arrow);
    }
}

void CollageStepper::setRange(int minimum, int maximum)
{
    m_min = minimum;
    m_max = std::max(minimum, maximum);
    m_value = std::clamp(m_value, m_min, m_max);
}

void CollageStepper::setIntegerValue(int value)
{
    m_value = std::clamp(value, m_min, m_max);
}

void CollageStepper::setStringValue(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (ok && std::isfinite(value))
        setIntegerValue(int(std::clamp(value, double(m_min), double(m_max))));
}

void CollageStepper::stepBy(int steps)
{
    const int before = m_value;
    setIntegerValue(m_value + steps);
    if (m_value != before)
        Q_EMIT activated();
}

// ---------------------------------------------------------------- collagevc

collagevc::collagevc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("collagevc"));
    // Made once per run: the collage's own shared values start here.
    resetCollageGlobals();
    saver = new Saver(this);
    connect(saver, &Saver::saved, this, [] { isCollageSaved = true; });
    connect(saver, &Saver::finished, this, [this](bool saved) {
        m_saving = false;
        settleSaveQuestion(saved);
    });
    buildLayout();
    viewDidLoad();
}

collagevc::~collagevc()
{
    thumbnailCache().cancel(collectionview ? collectionview->photoModel() : nullptr);
}

void collagevc::buildLayout()
{
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("collagevc { background: #1b252d; }") + stripStyle);
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->setSpacing(8);

    // The photo strip and its buttons.
    auto *stripColumn = new QWidget(this);
    stripColumn->setFixedWidth(230);
    auto *stripBox = new QVBoxLayout(stripColumn);
    stripBox->setContentsMargins(0, 0, 0, 0);
    auto *stripButtons = new QHBoxLayout;
    btnAddPhotosButton = makeButton(stripColumn, QStringLiteral("btnAddPhotos"), tr("Add Photos"));
    btnAddLibraryButton = makeButton(stripColumn, QStringLiteral("btnaddlibrary"), tr("Add Library"));
    // A plain button: its look follows its enabled state, which changes with
    // the strip's selection.
    btnremove = new QPushButton(tr("Remove"), stripColumn);
    btnremove->setObjectName(QStringLiteral("btnremove"));
    btnremove->setFixedHeight(26);
    stripButtons->addWidget(btnAddPhotosButton);
    stripButtons->addWidget(btnAddLibraryButton);
    stripButtons->addWidget(btnremove);
    stripBox->addLayout(stripButtons);
    collectionview = new collageCollectionView(stripColumn);
    stripBox->addWidget(collectionview, 1);
    collectionview->installEventFilter(this);
    sliderStripSize = new customSlider(Qt::Horizontal, stripColumn);
    sliderStripSize->setObjectName(QStringLiteral("sliderCollectionview"));
    sliderStripSize->setRange(60, 220);
    sliderStripSize->setValue(int(collectionsize));
    stripBox->addWidget(sliderStripSize);
    outer->addWidget(stripColumn);

    // The canvas area.
    mainbgbox = new QWidget(this);
    mainbgbox->setObjectName(QStringLiteral("mainbgbox"));
    mainbgbox->setMinimumSize(200, 200);
    mainbgbox->installEventFilter(this);
    mainCustomBox = new QFrame(mainbgbox);
    mainCustomBox->setObjectName(QStringLiteral("mainCustomBox"));
    customview = new QWidget(mainCustomBox);
    customview->setObjectName(QStringLiteral("customview"));
    outer->addWidget(mainbgbox, 1);

    outer->addWidget(buildControlColumn());

    connect(btnAddPhotosButton, &QAbstractButton::clicked, this, &collagevc::btnAddPhotos);
    connect(btnAddLibraryButton, &QAbstractButton::clicked, this, &collagevc::btnaddlibrary);
    connect(btnremove, &QAbstractButton::clicked, this, &collagevc::btnremoveClicked);
    connect(sliderStripSize, &QSlider::valueChanged, this, &collagevc::sliderCollectionview);
    connect(collectionview->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QModelIndexList selected = collectionview->selectionModel()->selectedIndexes();
        if (!selected.isEmpty())
            printLine(QString::number(selected.first().row()));
        btnremove->setEnabled(!selected.isEmpty());
    });
    connect(collectionview->photoModel(), &QAbstractItemModel::modelReset, this, [this] {
        btnremove->setEnabled(collectionview->selectionModel()->hasSelection());
    });
}

QWidget *collagevc::buildControlColumn()
{
    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("controlColumn"));
    panel->setFixedWidth(280);
    auto *grid = new QGridLayout(panel);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(8);
    int line = 0;

    addTitleRows(panel, grid, line);
    addNumberRows(panel, grid, line);
    addShadowAndColourRows(panel, grid, line);
    addSizeRows(panel, grid, line);
    addSaveRow(panel, grid, line);
    return panel;
}

// The title with the help button, then the style row.
void collagevc::addTitleRows(QWidget *panel, QGridLayout *grid, int &line)
{
    btnhelp = new buttoncursor(panel);
    btnhelp->setObjectName(QStringLiteral("btnhelp"));
    btnhelp->setText(QStringLiteral("?"));
    btnhelp->setFixedSize(24, 24);
    btnhelp->installEventFilter(this);
    auto *title = new QLabel(tr("Collage"), panel);
    title->setStyleSheet(QStringLiteral("font-size: 15px; font-weight: 600;"));
    grid->addWidget(title, line, 0, 1, 3);
    grid->addWidget(btnhelp, line++, 3, Qt::AlignRight);

    // Style: the menu button with Grid and Center, and Pile of its own.
    lblSelectedStyle = new QLabel(QStringLiteral("Center"), panel);
    lblSelectedStyle->setObjectName(QStringLiteral("lblSelectedStyle"));
    btnstyleButton = makeButton(panel, QStringLiteral("btnstyle"), tr("Style \u25BE"));
    btnpileButton = makeButton(panel, QStringLiteral("btnpile"), tr("Pile"));
    grid->addWidget(new QLabel(tr("Style"), panel), line, 0);
    grid->addWidget(lblSelectedStyle, line, 1);
    grid->addWidget(btnstyleButton, line, 2);
    grid->addWidget(btnpileButton, line++, 3);
    connect(btnstyleButton, &QAbstractButton::clicked, this, &collagevc::btnstyle);
    connect(btnpileButton, &QAbstractButton::clicked, this, &collagevc::btnpile);

}

void collagevc::addNumberRows(QWidget *panel, QGridLayout *grid, int &line)
{
    // The five numbers: label, stepper, slider, field.
    struct NumberRow { SliderNumber number; QString label; int min; int max; int start; QLabel **labelOutlet;
                       CollageStepper **stepper; QSlider **slider; QLineEdit **field; const char *names[3]; };
    const NumberRow rows[] = {
        {SliderNumber::Photos, tr("Photos"), 1, 30, imgcount, &lblPhotosCount, &stepper_photoscount, &slider_photoscount,
         &textfieldPhotos, {"stepper_photoscount", "slider_photoscount", "textfieldPhotos"}},
        {SliderNumber::Rows, tr("Rows"), 1, 10, row, &lblRowsCount, &stepperRowscount, &sliderRowscount, &textfieldRows,
         {"stepperRowscount", "sliderRowscount", "textfieldRows"}},
        {SliderNumber::Columns, tr("Columns"), 1, 10, column, &lblColumnCount, &stepper_Columncount,
         &slider_columnscount, &textfieldColumn, {"stepper_Columncount", "slider_columnscount", "textfieldColumn"}},
        {SliderNumber::Margin, tr("Margin"), 0, 100, int(currentMargin), nullptr, &stepperMargin, &sliderMargin,
         &textfieldmargin, {"stepperMargin", "sliderMargin", "textfieldmargin"}},
        {SliderNumber::Border, tr("Border"), 0, 30, collageBorderWidth, nullptr, &stepperBorderwidth,
         &slider_borderwidth, &textfieldBorder, {"stepperBorderwidth", "slider_borderwidth", "textfieldBorder"}},
    };
    for (const NumberRow &r : rows) {
        auto *label = new QLabel(r.label, panel);
        if (r.labelOutlet)
            *r.labelOutlet = label;
        auto *stepper = new CollageStepper(panel);
        stepper->setObjectName(QString::fromLatin1(r.names[0]));
        stepper->setRange(r.min, r.max);
        stepper->setIntegerValue(r.start);
        auto *slider = new customSlider(Qt::Horizontal, panel);
        slider->setObjectName(QString::fromLatin1(r.names[1]));
        slider->setRange(r.min, r.max);
        slider->setValue(r.start);
        auto *field = new Editing(panel);
        field->setObjectName(QString::fromLatin1(r.names[2]));
        field->setFixedWidth(44);
        field->setText(QString::number(r.start));
        *r.stepper = stepper;
        *r.slider = slider;
        *r.field = field;
        grid->addWidget(label, line, 0);
        grid->addWidget(slider, line, 1, 1, 2);
        auto *pair = new QHBoxLayout;
        pair->setSpacing(3);
        pair->addWidget(field);
        pair->addWidget(stepper);
        grid->addLayout(pair, line++, 3);
        connectNumber(r.number);
    }

}

void collagevc::addShadowAndColourRows(QWidget *panel, QGridLayout *grid, int &line)
{
    checkboxShadow = new QCheckBox(tr("Shadow"), panel);
    checkboxShadow->setObjectName(QStringLiteral("checkboxShadow"));
    checkboxShadow->setChecked(isCollageShadowOn);
    grid->addWidget(checkboxShadow, line++, 0, 1, 4);
    connect(checkboxShadow, &QCheckBox::clicked, this, &collagevc::checkboxShadowChanged);

    // Colour wells.
    borderColorWell = new QPushButton(panel);
    borderColorWell->setObjectName(QStringLiteral("borderColorWell"));
    backgroundColorWell = new QPushButton(panel);
    backgroundColorWell->setObjectName(QStringLiteral("beckgroundColorWell"));
    for (auto [well, caption] : {std::pair{borderColorWell, tr("Border colour")},
                                 std::pair{backgroundColorWell, tr("Background")}}) {
        well->setFixedSize(44, 22);
        grid->addWidget(new QLabel(caption, panel), line, 0, 1, 2);
        grid->addWidget(well, line++, 3);
        const bool isBorder = well == borderColorWell;
        connect(well, &QPushButton::clicked, this, [this, isBorder] {
            auto *dialog = new QColorDialog(isBorder ? collageSlotBorderColor : canvasBackground, this);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->setObjectName(isBorder ? QStringLiteral("borderColorPanel") : QStringLiteral("backgroundColorPanel"));
            auto apply = [this, isBorder](const QColor &color) {
                if (isBorder)
                    borderColorWellChosen(color);
                else
                    beckgroundColorWellChosen(color);
            };
            connect(dialog, &QColorDialog::currentColorChanged, this, apply);
            connect(dialog, &QColorDialog::colorSelected, this, apply);
            dialog->open();
        });
    }

}

void collagevc::addSizeRows(QWidget *panel, QGridLayout *grid, int &line)
{
    // Output size and orientation.
    btnSelectsize = makeButton(panel, QStringLiteral("btnSelectsize"), QString());
    grid->addWidget(new QLabel(tr("Size"), panel), line, 0);
    grid->addWidget(btnSelectsize, line++, 1, 1, 3);
    connect(btnSelectsize, &QAbstractButton::clicked, this, &collagevc::btnsizeClicked);
    btnPortrait = makeButton(panel, QStringLiteral("btnPortrait"), tr("Portrait"));
    btnLandscape = makeButton(panel, QStringLiteral("btnLandscape"), tr("Landscape"));
    imgPortrait = new QLabel(panel);
    imgPortrait->setObjectName(QStringLiteral("imgPortrait"));
    imgPortrait->setPixmap(orientationPicture(false));
    imglandscape = new QLabel(panel);
    imglandscape->setObjectName(QStringLiteral("imglandscape"));
    imglandscape->setPixmap(orientationPicture(true));
    imglandscape->hide();
    auto *indicator = new QHBoxLayout;
    indicator->addWidget(imgPortrait);
    indicator->addWidget(imglandscape);
    grid->addWidget(btnPortrait, line, 0, 1, 2);
    grid->addWidget(btnLandscape, line, 2);
    grid->addLayout(indicator, line++, 3);
    connect(btnPortrait, &QAbstractButton::clicked, this, &collagevc::btnPortraitclicked);
    connect(btnLandscape, &QAbstractButton::clicked, this, &collagevc::btnLandscapeclciked);

}

// After a stretch: Exit and Save.
void collagevc::addSaveRow(QWidget *panel, QGridLayout *grid, int &line)
{
    grid->setRowStretch(line++, 1);
    btnSaveButton = makeButton(panel, QStringLiteral("btnsave"), tr("Save"));
    btnSaveButton->setBackgroundNormalColor(accentOrange());
    btnSaveButton->initializeButtonColor(accentOrange(), accentOrange().lighter(115), accentOrange().darker(115));
    btnExitButton = makeButton(panel, QStringLiteral("btnexit"), tr("Exit"));
    grid->addWidget(btnExitButton, line, 0, 1, 2);
    grid->addWidget(btnSaveButton, line, 2, 1, 2);
    connect(btnSaveButton, &QAbstractButton::clicked, this, &collagevc::btnsave);
    connect(btnExitButton, &QAbstractButton::clicked, this, &collagevc::btnexit);
}

void collagevc::viewDidLoad()
{
    isCollageFirstLoad = true;
    if (collageSizes.isEmpty())
        collageSizes = {{800, 600}, {1024, 768}, {1280, 720}, {1440, 1080}, {1600, 1200}, {1920, 1440}};
    btnremove->setEnabled(false);
    collageInfovcobj = new collageInfovc(this);
    collageInfovcobj->hide();
    btnSelectsize->setText(sizeButtonTitle(collageSelectedSize));
    lblSelectedStyle->setText(QStringLiteral("Center"));
    setStyleControlsEnabled();
    updateColorWells();
    configureCollectionView();
}

void collagevc::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    configureCollectionView();
    viewDidResize();
}

bool collagevc::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == collectionview && event->type() == QEvent::Resize) {
        configureCollectionView();
    } else if (watched == mainbgbox && event->type() == QEvent::Paint) {
        paintCanvasShadow();
    } else if (watched == mainbgbox && event->type() == QEvent::Resize) {
        fitCanvas();
        scheduleRebuild();
    } else if (watched == btnhelp && event->type() == QEvent::Enter) {
        collageInfovcobj->adjustSize();
        const QPoint below = btnhelp->mapToGlobal(QPoint(btnhelp->width() - collageInfovcobj->width(), btnhelp->height() + 4));
        collageInfovcobj->move(below);
        collageInfovcobj->show();
    } else if (watched == btnhelp && event->type() == QEvent::Leave) {
        collageInfovcobj->hide();
    }
    return QWidget::eventFilter(watched, event);
}

void collagevc::fitCanvas()
{
    if (collageSizes.isEmpty())
        return;
    const int index = std::clamp(collageSelectedSize, 0, int(collageSizes.size()) - 1);
    const QSizeF output(collageSizes.at(index).first, collageSizes.at(index).second);
    const QSizeF canvas = fittedCanvasSize(output, isCollageLandscape, QSizeF(mainbgbox->size()));
    const QSize size = canvas.toSize();
    mainCustomBox->setGeometry(QRect(QPoint((mainbgbox->width() - size.width()) / 2, (mainbgbox->height() - size.height()) / 2), size));
    mainbgbox->update();   // the shadow follows the canvas
    const int m = int(std::clamp(currentMargin, 0.0, double(std::min(size.width(), size.height()) / 2)));
    customview->setGeometry(mainCustomBox->rect().adjusted(m, m, -m, -m));
    mainCustomBox->setStyleSheet(QStringLiteral("QFrame#mainCustomBox { background: %1; border: 1px solid %2; border-radius: 5px; }")
                                     .arg(canvasBackground.name(), collageSlotBorderColor.name()));
}

void collagevc::paintCanvasShadow()
{
    // Black, unshifted and soft: the canvas stands above its area.
    constexpr int pad = 30;
    const QRect canvas = mainCustomBox->geometry();
    if (canvas.isEmpty())
        return;
    if (m_canvasShadow.size() != canvas.size() + QSize(2 * pad, 2 * pad)) {
        QImage mask(canvas.size() + QSize(2 * pad, 2 * pad), QImage::Format_ARGB32_Premultiplied);
        mask.fill(Qt::transparent);
        QPainter shape(&mask);
        shape.setRenderHint(QPainter::Antialiasing);
        shape.setPen(Qt::NoPen);
        shape.setBrush(Qt::black);
        shape.drawRoundedRect(QRectF(pad, pad, canvas.width(), canvas.height()), slotCornerRadius, slotCornerRadius);
        shape.end();
        m_canvasShadow = softened(mask, canvasShadowRadius);
    }
    QPainter painter(mainbgbox);
    painter.drawImage(canvas.topLeft() - QPoint(pad, pad), m_canvasShadow);
}

void collagevc::viewDidResize()
{
    fitCanvas();
    scheduleRebuild();
}

void collagevc::scheduleRebuild()
{
    if (m_rebuildPending)
        return;
    m_rebuildPending = true;
    QMetaObject::invokeMethod(this, [this] {
        m_rebuildPending = false;
        removeall();
    }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- layout builder

void collagevc::removeall()
{
    fitCanvas();
    currentIndex = 0;
    for (QWidget *slot : std::as_const(collageSlotList))
        slot->hide();
    for (const QPointer<QWidget> &slot : std::as_const(collageRotateSlotList)) {
        if (slot)
            slot->hide();
    }
    layoutPass();
    // Slots left off the canvas let go of their pictures (they keep their
    // photos and ask again when they are placed).
    for (CollageSlotBase *slot : allCollageSlots()) {
        if (slot->isHidden())
            slot->clearPicture();
    }
}

void collagevc::setimgLayout()
{
    layoutPass();
}

void collagevc::layoutPass()
{
    ++layoutPassCount;
    const QSizeF area(customview->size());
    if (style == int(CollageStyle::Center))
        printLine(QStringLiteral("[%1]").arg([this] {
            QStringList parts;
            for (int c : centerBandCounts(imgcount))
                parts << QString::number(c);
            return parts.join(QStringLiteral(", "));
        }()));
    if (style < 1 || style > 3)
        return;
    const QList<QRectF> frames = collageFrames(CollageStyle(style), area, imgcount, row, column);
    for (const QRectF &frame : frames)
        placeSlot(frame, area);
}

void collagevc::placeSlot(const QRectF &frame, QSizeF area)
{
    std::optional<QUrl> url;
    if (!collagePhotoList.isEmpty()) {
        const qsizetype drawn = std::clamp<qsizetype>(m_picker(collagePhotoList.size()), 0, collagePhotoList.size() - 1);
        url = collagePhotoList.at(drawn).url;
    }
    const QRectF placed = topDownRect(frame, area);
    if (isrotate) {
        collageRotateCellvc *slot = nullptr;
        if (currentIndex < collageRotateSlotList.size())
            slot = qobject_cast<collageRotateCellvc *>(collageRotateSlotList.at(currentIndex).data());
        ++currentIndex;
        if (!slot) {
            slot = new collageRotateCellvc(customview);
            if (currentIndex - 1 < collageRotateSlotList.size())
                collageRotateSlotList[currentIndex - 1] = slot;
            else
                collageRotateSlotList.append(slot);
        }
        slot->setParent(customview);
        slot->loadPileSlotImage(url, placed);
        slot->show();
        slot->raise();
        return;
    }
    collageCellvc *slot = nullptr;
    if (currentIndex < collageSlotList.size())
        slot = qobject_cast<collageCellvc *>(collageSlotList.at(currentIndex));
    ++currentIndex;
    if (!slot) {
        slot = new collageCellvc(customview);
        collageSlotList.append(slot);
    }
    slot->setParent(customview);
    qCDebug(lcCollageSlots).noquote() << "x:" << collageDecimal(frame.x()) << " y:" << collageDecimal(-frame.y())
                                      << " width:" << collageDecimal(frame.width())
                                      << " height:" << collageDecimal(frame.height());
    slot->setGeometry(pixelRect(placed));
    slot->show();
    if (!isLayoutChanged) {
        slot->loadSlotImage(url, false);
        return;
    }
    if (!url)
        return;
    if (!slot->imgview->imgurl)
        slot->imgview->imgurl = url;
    if (!processStart)
        slot->showSlotPreview();
}

QList<collageCellvc *> collagevc::cellSlots() const
{
    QList<collageCellvc *> slotList;
    for (QWidget *slot : std::as_const(collageSlotList)) {
        if (auto *cell = qobject_cast<collageCellvc *>(slot))
            slotList << cell;
    }
    return slotList;
}

void collagevc::reloadStrip()
{
    collectionview->photoModel()->reload();
}

void collagevc::reloadSlotImages()
{
    for (CollageSlotBase *base : allCollageSlots()) {
        if (base->imgview->imgurl && !base->isHidden())
            base->requestPicture();
    }
}

void collagevc::clearSlotImages()
{
    for (CollageSlotBase *base : allCollageSlots())
        base->clearPicture();
}

// ---------------------------------------------------------------- style, size, orientation

QString collagevc::sizeButtonTitle(int index)
{
    if (index < 0 || index >= collageSizes.size())
        return QString();
    return collageDecimal(collageSizes.at(index).first) + QStringLiteral(" X ") + collageDecimal(collageSizes.at(index).second) +
           QStringLiteral(" pixel");
}

QString collagevc::sizeMenuTitle(int index)
{
    if (index < 0 || index >= collageSizes.size())
        return QString();
    return collageDecimal(collageSizes.at(index).first) + QStringLiteral(" x ") + collageDecimal(collageSizes.at(index).second) +
           QStringLiteral(" pixels");
}

void collagevc::btnstyle()
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("styleMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction *grid = menu->addAction(styleIcon(false), QStringLiteral("Grid      "), this, &collagevc::btngrid);
    grid->setObjectName(QStringLiteral("btngrid"));
    grid->setCheckable(true);
    grid->setChecked(style == 1);
    QAction *center = menu->addAction(styleIcon(true), QStringLiteral("Center    "), this, &collagevc::btncenter);
    center->setObjectName(QStringLiteral("btncenter"));
    center->setCheckable(true);
    center->setChecked(style == 2);
    menu->popup(btnstyleButton->mapToGlobal(QPoint(0, btnstyleButton->height())));
}

void collagevc::setStyleControlsEnabled()
{
    if (style == 3)
        return;   // Pile leaves the enabling as it was
    const bool grid = style == 1;
    for (QWidget *w : {static_cast<QWidget *>(sliderRowscount), static_cast<QWidget *>(stepperRowscount),
                       static_cast<QWidget *>(textfieldRows), static_cast<QWidget *>(slider_columnscount),
                       static_cast<QWidget *>(stepper_Columncount), static_cast<QWidget *>(textfieldColumn)})
        w->setEnabled(grid);
    for (QWidget *w : {static_cast<QWidget *>(slider_photoscount), static_cast<QWidget *>(stepper_photoscount),
                       static_cast<QWidget *>(textfieldPhotos)})
        w->setEnabled(!grid);
}

void collagevc::chooseStyle(int chosen, const QString &label)
{
    style = chosen;
    isrotate = chosen == 3;
    lblSelectedStyle->setText(label);
    removeall();
    // Pile leaves the count controls as the previous style set them.
    if (chosen != 3)
        setStyleControlsEnabled();
    isCollageSaved = false;
}

void collagevc::btngrid()
{
    chooseStyle(1, QStringLiteral("Grid"));
}

void collagevc::btncenter()
{
    chooseStyle(2, QStringLiteral("Center"));
}

void collagevc::btnpile()
{
    chooseStyle(3, QStringLiteral("Pile"));
}

void collagevc::btnsizeClicked()
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("sizeMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (int i = 0; i < collageSizes.size(); ++i)
        menu->addAction(sizeMenuTitle(i), this, [this, i] { framechangedWithSender(i); });
    menu->popup(btnSelectsize->mapToGlobal(QPoint(0, btnSelectsize->height())));
}

void collagevc::framechangedWithSender(int index)
{
    if (index < 0 || index >= collageSizes.size())
        return;
    collageSelectedSize = index;
    btnSelectsize->setText(sizeButtonTitle(index));
    isCollageSaved = false;
    viewDidResize();
}

void collagevc::btnPortraitclicked()
{
    isCollageLandscape = false;
    imglandscape->setVisible(false);
    imgPortrait->setVisible(true);
    viewDidResize();
    isCollageSaved = false;
}

void collagevc::btnLandscapeclciked()
{
    isCollageLandscape = true;
    imglandscape->setVisible(true);
    imgPortrait->setVisible(false);
    viewDidResize();
    isCollageSaved = false;
}

// ---------------------------------------------------------------- strip and colours

void collagevc::configureCollectionView()
{
    const double s = std::max(20.0, collectionsize);
    // The width items can use: inside the frame, beside the vertical scroll bar.
    const double stripWidth = collectionview->width() - 2 * collectionview->frameWidth() -
                              collectionview->verticalScrollBar()->sizeHint().width();
    const StripLayout strip = stripLayout(stripWidth, s);
    numberofitemsinOneRow = strip.itemsPerRow;
    space = strip.space;
    // Where the rule leaves less than one item's room, the sides give way so
    // that an item is never cut off.
    const int side = int(std::clamp(space, 0.0, std::max(0.0, (stripWidth - s) / 2)));
    collectionview->setSectionInsets(QMargins(side, int(stripInsetTop), side, int(stripInsetTop)));
    collectionview->setIconSize(QSize(int(s) - 10, int(s) - 10));
    collectionview->setGridSize(QSize(int(s), int(s)));
    collectionview->setSpacing(0);
    collectionview->photoModel()->setThumbnailSide(int(std::lround((s - 10) * collectionview->devicePixelRatioF())));
}

void collagevc::sliderCollectionview(int value)
{
    collectionsize = value;
    configureCollectionView();
}

void collagevc::updateColorWells()
{
    auto swatch = [](QPushButton *well, const QColor &color) {
        well->setStyleSheet(QStringLiteral("QPushButton { background: %1; border: 1px solid #888; border-radius: 3px; }")
                                .arg(color.name()));
    };
    swatch(borderColorWell, collageSlotBorderColor);
    swatch(backgroundColorWell, canvasBackground);
}

void collagevc::borderColorWellChosen(const QColor &color)
{
    if (!color.isValid())
        return;
    collageSlotBorderColor = color;
    for (CollageSlotBase *slot : allCollageSlots())
        slot->update();
    isCollageSaved = false;
    updateColorWells();
    fitCanvas();
}

void collagevc::beckgroundColorWellChosen(const QColor &color)
{
    if (!color.isValid())
        return;
    canvasBackground = color;
    isCollageSaved = false;
    updateColorWells();
    fitCanvas();
}

// ---------------------------------------------------------------- exit and save

QSize collagevc::outputSize() const
{
    if (collageSizes.isEmpty())
        return QSize();
    const int index = std::clamp(collageSelectedSize, 0, int(collageSizes.size()) - 1);
    return outputPixelSize(QSizeF(collageSizes.at(index).first, collageSizes.at(index).second), isCollageLandscape).toSize();
}

CollageSnapshot collagevc::snapshot() const
{
    CollageSnapshot snap;
    snap.canvas = QSizeF(mainCustomBox->size());
    snap.slotArea = QRectF(customview->geometry());
    snap.background = canvasBackground;
    snap.border = collageSlotBorderColor;
    snap.borderWidth = collageBorderWidth;
    snap.shadow = isCollageShadowOn;
    // In stacking order, so that a Pile saves as it shows.
    for (QObject *child : customview->children()) {
        auto *slot = qobject_cast<CollageSlotBase *>(child);
        if (!slot || slot->isHidden())
            continue;
        CollageSlotSnapshot s;
        s.frame = QRectF(slot->geometry()).translated(customview->pos());
        if (slot->imgview->imgurl && slot->imgview->imgurl->isLocalFile())
            s.path = lg::FileNames::pathOf(*slot->imgview->imgurl);
        s.framing = slot->imgview->framing;
        if (const auto shown = slot->shownPhoto()) {
            s.shown = shown->first;
            s.shownModified = shown->second.modified;
            s.shownSize = shown->second.size;
        }
        snap.slotList.append(s);
    }
    return snap;
}

bool collagevc::hasUnsavedChanges()
{
    return !collagePhotoList.isEmpty() && !isCollageSaved;
}

void collagevc::btnexit()
{
    if (hasUnsavedChanges()) {
        alertforExit();
        return;
    }
    if (mainvc *h = hub())
        h->closeCollagevc();
}

void collagevc::alertforExit()
{
    showOverlay(true);
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = QStringLiteral("Do you want to save the changes?");
    spec.text = QStringLiteral("Your changes will be lost if you don\u2019t save them.");
    spec.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    m_exitQuestionOpen = true;
    lg::Alert::show(window(), spec, [this](int button) {
        m_exitQuestionOpen = false;
        if (button == 0)
            btnyes_Exitalert();
        else
            btnNo_Exitalert();
    });
}

void collagevc::btnyes_Exitalert()
{
    hideOverlay();
    // Asked for a quit, a save that is cancelled keeps the collage open, as
    // the quit does not go on; asked by the exit button, it leaves anyway.
    saver->callFromExit = !m_afterSaveQuestion;
    saveCollage();
}

void collagevc::btnNo_Exitalert()
{
    hideOverlay();
    if (mainvc *h = hub())
        h->closeCollagevc();
    isCollageSaved = true;
    settleSaveQuestion(true);
}

void collagevc::askToSaveChanges(std::function<void(bool mayGoOn)> done)
{
    m_afterSaveQuestion = std::move(done);
    // The user is answering for this collage already: the exit button's
    // question, or a save under way, answers for the quit too.
    if (m_exitQuestionOpen || m_saving)
        return;
    alertforExit();
}

void collagevc::settleSaveQuestion(bool mayGoOn)
{
    if (const std::function<void(bool)> done = std::exchange(m_afterSaveQuestion, {}))
        done(mayGoOn);
}

void collagevc::btnsave()
{
    saver->callFromExit = false;
    saveCollage();
}

void collagevc::saveCollage()
{
    // Drawn first, behind the overlay: a photo that can be read neither from
    // its file nor from the canvas is named before any panel, and nothing is
    // saved then (leaving stops too).
    const QSize size = outputSize();
    const CollageSnapshot snap = snapshot();
    const quint64 ticket = ++m_saveTicket;
    m_saving = true;
    showOverlay(false);
    using Rendering = std::pair<QImage, QStringList>;
    lg::runThenCallback(this, [snap, size] {
        QStringList unreadable;
        QImage image = renderCollage(snap, size, &unreadable);
        return Rendering(std::move(image), unreadable);
    }, [this, ticket, snap, size](const Rendering &rendering) {
        if (ticket != m_saveTicket)
            return;
        hideOverlay();
        const auto &[image, unreadable] = rendering;
        if (!unreadable.isEmpty()) {
            m_saving = false;
            lg::Alert::inform(window(), QStringLiteral("The collage could not be saved."), unreadablePhotosText(unreadable));
            settleSaveQuestion(false);
            return;
        }
        saver->startFolder = saveFolder();
        saver->showSavePanel([image, snap, size](const QSize &wanted) {
            if (wanted == size)
                return image;
            QStringList missing;
            QImage other = renderCollage(snap, wanted, &missing);
            return missing.isEmpty() ? other : QImage();   // the save then fails and says so
        }, size, QStringLiteral("Untitled"));
    });
}

QString collagevc::unreadablePhotosText(const QStringList &paths)
{
    constexpr qsizetype named = 5;
    QStringList names;
    for (qsizetype i = 0; i < std::min(paths.size(), named); ++i)
        names << QStringLiteral("\u201C%1\u201D").arg(QFileInfo(paths.at(i)).fileName());
    if (paths.size() == 1)
        return QStringLiteral("The photo %1 could not be read. Put it back where it was, or drop another photo "
                              "on its slot, then save again.").arg(names.first());
    QString list = names.join(QStringLiteral(", "));
    if (paths.size() > named)
        list += QStringLiteral(" and %1 more").arg(paths.size() - named);
    return QStringLiteral("These photos could not be read: %1. Put them back where they were, or drop other "
                          "photos on their slots, then save again.").arg(list);
}

// ---------------------------------------------------------------- controls

QSlider *collagevc::sliderFor(SliderNumber number) const
{
    switch (number) {
    case SliderNumber::Photos: return slider_photoscount;
    case SliderNumber::Rows: return sliderRowscount;
    case SliderNumber::Columns: return slider_columnscount;
    case SliderNumber::Border: return slider_borderwidth;
    case SliderNumber::Margin: return sliderMargin;
    }
    return nullptr;
}

CollageStepper *collagevc::stepperFor(SliderNumber number) const
{
    switch (number) {
    case SliderNumber::Photos: return stepper_photoscount;
    case SliderNumber::Rows: return stepperRowscount;
    case SliderNumber::Columns: return stepper_Columncount;
    case SliderNumber::Border: return stepperBorderwidth;
    case SliderNumber::Margin: return stepperMargin;
    }
    return nullptr;
}

QLineEdit *collagevc::fieldFor(SliderNumber number) const
{
    switch (number) {
    case SliderNumber::Photos: return textfieldPhotos;
    case SliderNumber::Rows: return textfieldRows;
    case SliderNumber::Columns: return textfieldColumn;
    case SliderNumber::Border: return textfieldBorder;
    case SliderNumber::Margin: return textfieldmargin;
    }
    return nullptr;
}

int collagevc::storedValue(SliderNumber number) const
{
    switch (number) {
    case SliderNumber::Photos: return imgcount;
    case SliderNumber::Rows: return row;
    case SliderNumber::Columns: return column;
    case SliderNumber::Border: return collageBorderWidth;
    case SliderNumber::Margin: return int(currentMargin);
    }
    return 0;
}

void collagevc::storeValue(SliderNumber number, int value)
{
    switch (number) {
    case SliderNumber::Photos: imgcount = value; break;
    case SliderNumber::Rows: row = value; break;
    case SliderNumber::Columns: column = value; break;
    case SliderNumber::Border: collageBorderWidth = value; break;
    case SliderNumber::Margin: currentMargin = value; break;
    }
}

void collagevc::connectNumber(SliderNumber number)
{
    QSlider *slider = sliderFor(number);
    connect(slider, &QSlider::sliderPressed, this, [this, number] { sliderChanged(number, SliderPhase::Press); });
    connect(slider, &QSlider::sliderReleased, this, [this, number] { sliderChanged(number, SliderPhase::Release); });
    connect(slider, &QSlider::valueChanged, this, [this, number, slider] {
        sliderChanged(number, slider->isSliderDown() ? SliderPhase::Drag : SliderPhase::Other);
    });
    connect(stepperFor(number), &CollageStepper::activated, this, [this, number] {
        switch (number) {
        case SliderNumber::Photos: stepperPhotoscount(); break;
        case SliderNumber::Rows: stepperRowscountChanged(); break;
        case SliderNumber::Columns: stepperColumncount(); break;
        case SliderNumber::Border: stepperborder(); break;
        case SliderNumber::Margin: stepperMarginChanged(); break;
        }
    });
    QLineEdit *field = fieldFor(number);
    connect(field, &QLineEdit::textEdited, this, [this, field] { controlTextDidChange(field); });
    connect(field, &QLineEdit::editingFinished, this, [this, field] { controlTextDidEndEditing(field); });
}

void collagevc::sliderChanged(SliderNumber number, SliderPhase phase)
{
    QSlider *slider = sliderFor(number);
    isCollageSaved = false;
    storeValue(number, slider->value());
    const bool margin = number == SliderNumber::Margin;
    const bool border = number == SliderNumber::Border;
    const QString value = collageDecimal(slider->value());
    auto marginHop = [this] {
        QMetaObject::invokeMethod(this, [this] {
            textfieldmargin->setText(collageDecimal(currentMargin));
            stepperMargin->setStringValue(collageDecimal(currentMargin));
        }, Qt::QueuedConnection);
        applyMarginChange();
    };
    switch (phase) {
    case SliderPhase::Press:
        if (margin) {
            printLine(QStringLiteral("slider value started changing: ") + value);
            marginHop();
        } else if (border) {
            QMetaObject::invokeMethod(this, [this] { borderUpdate(false); }, Qt::QueuedConnection);
        } else {
            QMetaObject::invokeMethod(this, [this, number] { countUpdate(number); }, Qt::QueuedConnection);
        }
        break;
    case SliderPhase::Drag:
        isLayoutChanged = true;
        if (margin) {
            printLine(QStringLiteral("slider value changed: ") + value);
            marginHop();
        } else if (border) {
            QMetaObject::invokeMethod(this, [this] { borderUpdate(true); }, Qt::QueuedConnection);
        } else {
            // The fields follow at once; the rebuild is coalesced.
            fieldFor(number)->setText(QString::number(storedValue(number)));
            stepperFor(number)->setIntegerValue(storedValue(number));
            scheduleRebuild();
        }
        break;
    case SliderPhase::Release:
        if (margin)
            printLine(QStringLiteral("slider value stopped changing: ") + value);
        finishSliderChange();
        break;
    case SliderPhase::Other:
        // A key press or a click on the groove: one step, applied at once.
        if (margin) {
            printLine(QStringLiteral("break: ") + value);
            marginHop();
        } else if (border) {
            borderUpdate(false);
            refitSlotsForBorder();
        } else {
            countUpdate(number);
        }
        break;
    }
}

void collagevc::countUpdate(SliderNumber number)
{
    fieldFor(number)->setText(QString::number(storedValue(number)));
    stepperFor(number)->setStringValue(QString::number(storedValue(number)));
    removeall();
}

void collagevc::borderUpdate(bool previews)
{
    textfieldBorder->setText(QString::number(collageBorderWidth));
    stepperBorderwidth->setStringValue(QString::number(collageBorderWidth));
    for (collageCellvc *slot : cellSlots()) {
        slot->setGeometry(slot->geometry());   // the inner area follows the new border
        QResizeEvent resize(slot->size(), slot->size());
        QCoreApplication::sendEvent(slot, &resize);
        slot->update();
        if (previews)
            slot->showSlotPreview();
    }
}

void collagevc::refitSlotsForBorder()
{
    for (collageCellvc *slot : cellSlots()) {
        QResizeEvent resize(slot->size(), slot->size());
        QCoreApplication::sendEvent(slot, &resize);
        slot->update();
        if (!slot->isHidden())
            slot->loadSlotImage(slot->imgview->imgurl, false);
    }
}

void collagevc::stepperCountChanged(SliderNumber number)
{
    const int value = stepperFor(number)->integerValue();
    storeValue(number, value);
    fieldFor(number)->setText(QString::number(value));
    QSignalBlocker block(sliderFor(number));
    sliderFor(number)->setValue(value);
    isCollageSaved = false;
    removeall();
}

void collagevc::stepperPhotoscount()
{
    stepperCountChanged(SliderNumber::Photos);
}

void collagevc::stepperRowscountChanged()
{
    stepperCountChanged(SliderNumber::Rows);
}

void collagevc::stepperColumncount()
{
    stepperCountChanged(SliderNumber::Columns);
}

void collagevc::stepperborder()
{
    collageBorderWidth = stepperBorderwidth->integerValue();
    refitSlotsForBorder();
    textfieldBorder->setText(QString::number(collageBorderWidth));
    QSignalBlocker block(slider_borderwidth);
    slider_borderwidth->setValue(collageBorderWidth);
    isCollageSaved = false;
}

void collagevc::stepperMarginChanged()
{
    currentMargin = stepperMargin->doubleValue();
    textfieldmargin->setText(QString::number(stepperMargin->integerValue()));
    {
        QSignalBlocker block(sliderMargin);
        sliderMargin->setValue(stepperMargin->integerValue());
    }
    isCollageSaved = false;
    applyMarginChange();
}

void collagevc::controlTextDidChange(QLineEdit *field)
{
    const QString text = field->text();
    if (text.isEmpty())
        return;
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    if (!integer.match(text).hasMatch())
        return;
    bool ok = false;
    const long long parsed = text.toLongLong(&ok);
    if (!ok)
        return;
    isCollageSaved = false;
    SliderNumber number;
    if (field == textfieldPhotos)
        number = SliderNumber::Photos;
    else if (field == textfieldRows)
        number = SliderNumber::Rows;
    else if (field == textfieldColumn)
        number = SliderNumber::Columns;
    else if (field == textfieldBorder)
        number = SliderNumber::Border;
    else if (field == textfieldmargin)
        number = SliderNumber::Margin;
    else
        return;
    QSlider *slider = sliderFor(number);
    if (parsed < slider->minimum() || parsed > slider->maximum())
        return;
    const int value = int(parsed);
    storeValue(number, value);
    {
        QSignalBlocker block(slider);
        slider->setValue(value);
    }
    stepperFor(number)->setIntegerValue(value);
    if (number == SliderNumber::Border)
        refitSlotsForBorder();
    else if (number == SliderNumber::Margin)
        applyMarginChange();
    else
        removeall();
}

void collagevc::controlTextDidEndEditing(QLineEdit *field)
{
    if (field == textfieldPhotos)
        field->setText(QString::number(imgcount));
    else if (field == textfieldRows)
        field->setText(QString::number(row));
    else if (field == textfieldColumn)
        field->setText(QString::number(column));
    else if (field == textfieldBorder)
        field->setText(QString::number(collageBorderWidth));
    else if (field == textfieldmargin)
        field->setText(QString::number(sliderMargin->value()));
}

void collagevc::checkboxShadowChanged()
{
    isCollageShadowOn = checkboxShadow->checkState() == Qt::Checked;
    for (CollageSlotBase *base : allCollageSlots())
        base->applySlotShadow();
}

void collagevc::applyMarginChange()
{
    repeatMarginProcessAgain = false;
    if (ismarginChanging) {
        // The update already waiting reads the margin when it runs.
        repeatMarginProcessAgain = true;
        return;
    }
    ismarginChanging = true;
    QMetaObject::invokeMethod(this, [this] { fitCanvas(); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(this, [this] {
        removeall();
        ismarginChanging = false;
        repeatMarginProcessAgain = false;
        if (isLayoutChanged)
            processStart = true;
    }, Qt::QueuedConnection);
}

void collagevc::finishSliderChange()
{
    processStart = false;
    if (!isLayoutChanged)
        return;   // a click that did not drag reloads nothing
    isLayoutChanged = false;
    showOverlay(false);
    for (collageCellvc *slot : cellSlots()) {
        if (slot->isHidden())
            continue;
        QMetaObject::invokeMethod(slot, [slot] { slot->refreshSlotImage(); }, Qt::QueuedConnection);
    }
    QMetaObject::invokeMethod(this, [this] { lg::afterDelay(100, this, [this] { hidebgview(); }); }, Qt::QueuedConnection);
}

void collagevc::hidebgview()
{
    hideOverlay();
}

// ---------------------------------------------------------------- adding and removing photos

void collagevc::btnaddlibrary()
{
    lg::OpenPanelSpec spec;
    spec.chooseFiles = true;
    spec.chooseDirectories = false;
    spec.allowsMultipleSelection = false;
    spec.showsHiddenFiles = false;
    spec.directory = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    spec.packageExtensions = {QStringLiteral("photoslibrary")};
    spec.nameFilters = {tr("Photos Library (*.photoslibrary)")};
    spec.prompt = QStringLiteral("Add");
    lg::Panels::open(window(), spec, [](const QList<QUrl> &urls) {
        if (urls.isEmpty())
            return;
        collageLibraryURL = urls.first();
        sidebarController()->loadPhotosLibrary();
        isCollageSaved = false;
    });
}

void collagevc::btnAddPhotos()
{
    lg::OpenPanelSpec spec;
    spec.chooseFiles = true;
    spec.chooseDirectories = true;
    spec.allowsMultipleSelection = true;
    spec.showsHiddenFiles = false;
    showOverlay(true);
    lg::Panels::open(window(), spec, [this](const QList<QUrl> &urls) {
        hideOverlay();
        if (!urls.isEmpty())
            addPhotosInBackground(urls);
    });
}

void collagevc::addPhotosInBackground(const QList<QUrl> &urls)
{
    showOverlay(false);
    ++m_scansRunning;
    QSet<QUrl> known;
    for (const arrayStruct &entry : std::as_const(collagePhotoList)) {
        if (entry.url)
            known.insert(*entry.url);
    }
    lg::runThenCallback(this, [urls, known] { return scanCollagePhotos(urls, known); },
                        [this](const QList<QUrl> &found) {
        --m_scansRunning;
        // The list may have grown while the scan ran (a drop, a library):
        // test for duplicates again against what it holds now.
        int added = 0;
        for (const QUrl &url : found) {
            if (!entriesWithURL(collagePhotoList, url).isEmpty())
                continue;
            collagePhotoList.append(arrayStruct{url, false});
            ++added;
        }
        isCollageSaved = false;
        if (m_scansRunning == 0)
            hideOverlay();
        reloadStrip();
        btnremove->setEnabled(false);
        removeall();
        Q_EMIT photosAdded(added);
    });
}

void collagevc::btnremoveClicked()
{
    alertforDeletemedia();
}

void collagevc::alertforDeletemedia()
{
    showOverlay(true);
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = QStringLiteral("Are you sure you want to remove the selected photos?");
    spec.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    lg::Alert::show(window(), spec, [this](int button) {
        if (button == 0)
            btnDeletemedia_alert();
        else
            btnDeletemedia_cancelalert();
    });
}

void collagevc::btnDeletemedia_alert()
{
    QList<int> rows;
    for (const QModelIndex &index : collectionview->selectionModel()->selectedIndexes())
        rows << index.row();
    removePhotos(rows);
    hideOverlay();
    btnremove->setEnabled(false);
}

void collagevc::btnDeletemedia_cancelalert()
{
    hideOverlay();
}

void collagevc::removePhotos(const QList<int> &rows)
{
    for (int r : rows) {
        if (r >= 0 && r < collagePhotoList.size())
            collagePhotoList[r].state = true;
    }
    for (qsizetype i = 0; i < collagePhotoList.size();) {
        if (!collagePhotoList.at(i).state) {
            ++i;
            continue;
        }
        const std::optional<QUrl> url = collagePhotoList.at(i).url;
        for (CollageSlotBase *base : allCollageSlots()) {
            if (base->imgview->imgurl == url) {
                base->imgview->imgurl.reset();
                base->imgview->framing = {};
                base->clearPicture();
            }
        }
        collagePhotoList.removeAt(i);
    }
    reloadStrip();
    removeall();
    isCollageSaved = false;
}
