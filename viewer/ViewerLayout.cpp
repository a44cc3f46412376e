// The viewer's widgets and their places: built into the viewer's outlets,
// laid out as the picture area resizes, and the full-image layout entered and left.
#include "viewer/ViewerLayout.h"

#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "app/splitvc.h"
#include "browser/BrowserStyle.h"
#include "browser/ViewController.h"
#include "controls/ClickViews.h"
#include "controls/CursorButtons.h"
#include "controls/LabelClicks.h"
#include "controls/Sliders.h"
#include "controls/ZLFlatButton.h"
#include "platform/desktop/NotificationHub.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Dispatch.h"
#include "viewer/SlideTransition.h"
#include "viewer/VideoControlStrip.h"
#include "viewer/VideoPlayer.h"
#include "viewer/ViewerCanvas.h"
#include "viewer/ViewerIcons.h"
#include "viewer/ViewerZoom.h"
#include "viewer/viewimagevc.h"

#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int sliderScale = ViewerZoom::sliderScale;
constexpr int barHeight = 32;
const QColor viewerBackground(0x1e, 0x1e, 0x1e);

const char *viewerStyleSheet = R"css(
#viewimagevc, #boxbg { background: #1e1e1e; }
#titlebox { background: #2a2a2a; border: none; border-bottom: 1px solid #141414; }
#lblfilename { color: #e6e6e6; font-size: 13px; }
#btneditlabel { color: #c4c4c4; font-size: 12px; }
#btneditlabel:disabled { color: #626262; }
#boxForImgview { background: #1e1e1e; border: none; }
#box_nofilefound { background: #1e1e1e; border: none; }
#box_nofilefound QLabel { color: #8c8c8c; font-size: 15px; }
#effectview { background: rgba(36, 36, 36, 240); border: 1px solid #3d3d3d; border-radius: 8px; }
#bottomBar QPushButton { background: transparent; border: none; border-radius: 5px; padding: 2px; }
#bottomBar QPushButton:hover { background: rgba(255, 255, 255, 24); }
#bottomBar QPushButton:pressed { background: rgba(255, 255, 255, 40); }
#bottomBar QFrame#barSeparator { background: #454545; border: none; }
#btnCLoseviewImage { background: rgba(20, 20, 20, 170); border: 1px solid #444444; border-radius: 15px; }
#btnCLoseviewImage:hover { background: rgba(60, 60, 60, 220); }
QMenu { background-color: #2b2b2b; color: #e6e6e6; border: 1px solid #3a3a3a; padding: 3px 0; }
QMenu::item { padding: 5px 24px 5px 24px; }
QMenu::item:selected { background-color: @accent; color: #1e1e1e; }
QMenu::item:disabled { color: #777777; }
QMenu::indicator { width: 12px; height: 12px; left: 7px; }
QMenu::separator { height: 1px; background: #3a3a3a; margin: 4px 8px; }
)css";

ZLFlatButton *makeFlatButton(QWidget *parent, const QString &name, const QString &icon, QSize size)
{
    auto *button = new ZLFlatButton(parent);
    button->setObjectName(name);
    button->setIcon(QIcon(QPixmap::fromImage(viewericons::image(icon, Qt::white, QSize(18, 18)))));
    button->setIconSize(QSize(18, 18));
    button->setImagePosition(ZLFlatButton::ImageOnly);
    button->setFixedSize(size);
    button->setCornerRadius(5);
    button->initializeButtonColor(QColor(Qt::transparent), QColor(58, 58, 58), QColor(44, 44, 44));
    button->setBackgroundNormalColor(QColor(Qt::transparent));
    button->setBackgroundHighlightColor(QColor(Qt::transparent));
    button->set_ImageNormalColor(QColor(210, 210, 210));
    button->set_ImageHoverColor(Qt::white);
    button->set_ImageDownColor(QColor(210, 210, 210));
    button->setImageNormalColor(QColor(210, 210, 210));
    button->setImageHighlightColor(accentOrange());
    return button;
}

template <typename Button>
Button *makeBarButton(QWidget *parent, const QString &name, const QString &icon, const QString &hint)
{
    auto *button = new Button(parent);
    button->setObjectName(name);
    button->setIcon(viewericons::icon(icon));
    button->setIconSize(QSize(18, 18));
    button->setFixedSize(30, 26);
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolTip(hint);
    button->setAccessibleName(hint);
    return button;
}

QFrame *makeSeparator(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setObjectName(QStringLiteral("barSeparator"));
    line->setFixedSize(1, 18);
    return line;
}

} // namespace

ViewerLayout::ViewerLayout(viewimagevc *viewer) : QObject(viewer), m_viewer(viewer) {}

void ViewerLayout::build()
{
    viewimagevc &v = *m_viewer;
    v.setAttribute(Qt::WA_StyledBackground, true);
    v.setStyleSheet(withAccentColour(QString::fromLatin1(viewerStyleSheet)));

    auto *root = new QVBoxLayout(&v);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    buildTitleBox(root);
    buildPictureArea(root);
    buildControlBar();
    buildFullImageParts();
}

// The title box: back, the file name, edit.
void ViewerLayout::buildTitleBox(QVBoxLayout *root)
{
    viewimagevc &v = *m_viewer;
    v.titlebox = new QFrame(&v);
    v.titlebox->setObjectName(QStringLiteral("v.titlebox"));
    v.titlebox_height.onChange = [&v] { v.titlebox->setFixedHeight(std::max(0, v.titlebox_height.constant())); };
    v.titlebox_height.setConstant(v.normalTitleHeight);
    auto *title = new QHBoxLayout(v.titlebox);
    title->setContentsMargins(8, 0, 8, 1);
    title->setSpacing(4);
    auto *left = new QWidget(v.titlebox);
    auto *leftRow = new QHBoxLayout(left);
    leftRow->setContentsMargins(0, 0, 0, 0);
    v.btnback = makeFlatButton(left, QStringLiteral("v.btnback"), QStringLiteral("back"), QSize(30, 24));
    v.btnback->setAccessibleName(QStringLiteral("Back"));
    leftRow->addWidget(v.btnback);
    leftRow->addStretch(1);
    v.lblfilename = new ElidedLabel(v.titlebox);
    v.lblfilename->setObjectName(QStringLiteral("v.lblfilename"));
    v.lblfilename->setAlignment(Qt::AlignCenter);
    v.lblfilename->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto *right = new QWidget(v.titlebox);
    auto *rightRow = new QHBoxLayout(right);
    rightRow->setContentsMargins(0, 0, 0, 0);
    rightRow->setSpacing(2);
    rightRow->addStretch(1);
    v.btneditImage = makeFlatButton(right, QStringLiteral("v.btneditImage"), QStringLiteral("edit"), QSize(30, 24));
    v.btneditImage->setAccessibleName(QStringLiteral("Edit"));
    v.btneditlabel = new QLabel(QStringLiteral("Edit"), right);
    v.btneditlabel->setObjectName(QStringLiteral("v.btneditlabel"));
    rightRow->addWidget(v.btneditImage);
    rightRow->addWidget(v.btneditlabel);
    forwardLabelClicks(v.btneditlabel, v.btneditImage);
    left->setFixedWidth(110);
    right->setFixedWidth(110);
    title->addWidget(left);
    title->addWidget(v.lblfilename, 1);
    title->addWidget(right);
    root->addWidget(v.titlebox);
}

// The picture area: the no-file notice, the picture, the transition and the video player.
void ViewerLayout::buildPictureArea(QVBoxLayout *root)
{
    viewimagevc &v = *m_viewer;
    v.boxbg = new mynsview(&v);
    v.boxbg->setObjectName(QStringLiteral("v.boxbg"));
    v.boxbg->setAttribute(Qt::WA_StyledBackground, true);
    root->addWidget(v.boxbg, 1);

    v.box_nofilefound = new QFrame(v.boxbg);
    v.box_nofilefound->setObjectName(QStringLiteral("v.box_nofilefound"));
    auto *noFile = new QVBoxLayout(v.box_nofilefound);
    auto *noFileLabel = new QLabel(QStringLiteral("No media files found"), v.box_nofilefound);
    noFileLabel->setAlignment(Qt::AlignCenter);
    noFile->addWidget(noFileLabel);
    v.box_nofilefound->hide();

    v.boxForImgview = new QFrame(v.boxbg);
    v.boxForImgview->setObjectName(QStringLiteral("v.boxForImgview"));
    v.scrollview = new scrollimage(v.boxForImgview);
    v.scrollview->model().setMagnificationRange(v.minimumMagnification, v.maximumMagnification);
    v.clipview = v.scrollview->clipView();
    v.imgview = new ViewerImageView(v.scrollview, v.clipview);
    v.imgview->setBackgroundColor(viewerBackground);
    v.clipview->setDocumentView(v.imgview);
    v.transitionView = new SlideTransitionView(v.boxForImgview);
    v.transitionView->setBackgroundColor(viewerBackground);

    v.avKitPlayer = new myplayerview(v.boxbg);
    v.avKitPlayer->setObjectName(QStringLiteral("v.avKitPlayer"));
    v.avKitPlayer->hide();
    v.videoControls = new VideoControlStrip(v.boxbg);
    v.videoControls->hide();
}

// The control bar: zoom, previous, slide show, next, speed and fit.
void ViewerLayout::buildControlBar()
{
    viewimagevc &v = *m_viewer;
    v.bottom_box = new QFrame(v.boxbg);
    v.bottom_box->setObjectName(QStringLiteral("v.bottom_box"));
    auto *stack = new QGridLayout(v.bottom_box);
    stack->setContentsMargins(0, 0, 0, 0);
    v.effectview = new QFrame(v.bottom_box);
    v.effectview->setObjectName(QStringLiteral("v.effectview"));
    stack->addWidget(v.effectview, 0, 0);
    v.m_bar = new QWidget(v.bottom_box);
    v.m_bar->setObjectName(QStringLiteral("bottomBar"));
    stack->addWidget(v.m_bar, 0, 0);
    auto *bar = new QHBoxLayout(v.m_bar);
    bar->setContentsMargins(10, 3, 10, 3);
    bar->setSpacing(4);
    v.btnZoomout = makeBarButton<buttoncursor>(v.m_bar, QStringLiteral("v.btnZoomout"), QStringLiteral("zoomout"),
                                             QStringLiteral("Zoom Out"));
    v.slider = new CustomSliderCell(Qt::Horizontal, v.m_bar);
    v.slider->setObjectName(QStringLiteral("v.slider"));
    v.slider->setRange(int(v.minimumMagnification * sliderScale), int(v.maximumMagnification * sliderScale));
    v.slider->setSingleStep(sliderScale / 10);
    v.slider->setPageStep(sliderScale);
    v.slider->setValue(sliderScale);
    v.slider->setFixedWidth(120);
    v.slider->setFocusPolicy(Qt::NoFocus);
    v.btnzoomin = makeBarButton<buttoncursor>(v.m_bar, QStringLiteral("v.btnzoomin"), QStringLiteral("zoomin"),
                                            QStringLiteral("Zoom In"));
    v.btnprevious = makeBarButton<QPushButton>(v.m_bar, QStringLiteral("v.btnprevious"), QStringLiteral("previous"),
                                             QStringLiteral("Previous"));
    v.btnslideShow = makeBarButton<QPushButton>(v.m_bar, QStringLiteral("v.btnslideShow"), QStringLiteral("play-icon-18-256"),
                                              QStringLiteral("Slide Show"));
    v.btnnext = makeBarButton<QPushButton>(v.m_bar, QStringLiteral("v.btnnext"), QStringLiteral("next"),
                                         QStringLiteral("Next"));
    v.btnSlidshowSpeed = makeBarButton<QPushButton>(v.m_bar, QStringLiteral("v.btnSlidshowSpeed"), QStringLiteral("speed"),
                                                  QStringLiteral("Slide Show Settings"));
    v.btnfit = makeFlatButton(v.m_bar, QStringLiteral("v.btnfit"), QStringLiteral("fit"), QSize(30, 26));
    v.btnfit->setAccessibleName(QStringLiteral("Fit"));
    // The zoom buttons show the pointing hand themselves.
    for (QPushButton *button : {v.btnprevious, v.btnslideShow, v.btnnext, v.btnSlidshowSpeed})
        button->setCursor(Qt::PointingHandCursor);
    bar->addWidget(v.btnZoomout);
    bar->addWidget(v.slider);
    bar->addWidget(v.btnzoomin);
    bar->addSpacing(6);
    bar->addWidget(makeSeparator(v.m_bar));
    bar->addSpacing(6);
    bar->addWidget(v.btnprevious);
    bar->addWidget(v.btnslideShow);
    bar->addWidget(v.btnnext);
    bar->addSpacing(6);
    bar->addWidget(makeSeparator(v.m_bar));
    bar->addSpacing(6);
    bar->addWidget(v.btnSlidshowSpeed);
    bar->addWidget(v.btnfit);
    v.m_barOpacity = new QGraphicsOpacityEffect(v.bottom_box);
    v.m_barOpacity->setOpacity(1.0);
    v.m_barOpacity->setEnabled(false);
    v.bottom_box->setGraphicsEffect(v.m_barOpacity);
}

// The full-image layout's logo and close button, and the bottom spaces.
void ViewerLayout::buildFullImageParts()
{
    viewimagevc &v = *m_viewer;
    v.applogo = new QLabel(v.boxbg);
    v.applogo->setObjectName(QStringLiteral("v.applogo"));
    v.applogo->setPixmap(viewericons::logo(QSize(30, 30)).pixmap(QSize(30, 30)));
    v.applogo->hide();
    v.btnCLoseviewImage = new QPushButton(v.boxbg);
    v.btnCLoseviewImage->setObjectName(QStringLiteral("v.btnCLoseviewImage"));
    v.btnCLoseviewImage->setIcon(viewericons::icon(QStringLiteral("close"), QSize(14, 14)));
    v.btnCLoseviewImage->setIconSize(QSize(14, 14));
    v.btnCLoseviewImage->setFixedSize(30, 30);
    v.btnCLoseviewImage->setCursor(Qt::PointingHandCursor);
    v.btnCLoseviewImage->setFocusPolicy(Qt::NoFocus);
    v.btnCLoseviewImage->setToolTip(QStringLiteral("Close"));
    v.btnCLoseviewImage->hide();
    v.btnCLoseviewImage->setShortcut(QKeySequence(Qt::Key_Escape));

    v.image_bottomSpace.onChange = [this] { place(); };
    v.video_bottumSpace.onChange = [this] { place(); };
    v.image_bottomSpace.setConstant(v.normalBottomSpace);
    v.video_bottumSpace.setConstant(v.normalBottomSpace);
}

void ViewerLayout::place()
{
    viewimagevc &v = *m_viewer;
    if (!v.boxbg)
        return;
    const QRect area = v.boxbg->rect();
    v.box_nofilefound->setGeometry(area);
    const QRect picture = area.adjusted(0, 0, 0, -std::max(0, v.image_bottomSpace.constant()));
    v.boxForImgview->setGeometry(picture);
    v.scrollview->setGeometry(v.boxForImgview->rect());
    v.transitionView->setGeometry(v.boxForImgview->rect());
    const QRect video = area.adjusted(0, 0, 0, -std::max(0, v.video_bottumSpace.constant()));
    v.avKitPlayer->setGeometry(video.adjusted(0, 0, 0, -VideoControlStrip::stripHeight));
    v.videoControls->setGeometry(QRect(video.left(), video.bottom() - VideoControlStrip::stripHeight + 1, video.width(),
                                     VideoControlStrip::stripHeight));
    const int barWidth = std::min(area.width() - 8, v.bottom_box->sizeHint().width());
    v.bottom_box->setGeometry((area.width() - barWidth) / 2, area.height() - barHeight - 2, barWidth, barHeight);
    v.applogo->setGeometry(14, 10, 30, 30);
    v.btnCLoseviewImage->move(area.width() - v.btnCLoseviewImage->width() - 12, 10);
    // Back to front: the no-file box lies behind everything that covers it.
    v.box_nofilefound->lower();
    v.bottom_box->raise();
    v.applogo->raise();
    v.btnCLoseviewImage->raise();
}

void ViewerLayout::updateEscapeKey()
{
    viewimagevc &v = *m_viewer;
    const QKeySequence escape(Qt::Key_Escape);
    if (v.isSlideShowRunning) {
        v.btnslideShow->setShortcut(escape);
        v.btnCLoseviewImage->setShortcut(QKeySequence());
    } else {
        v.btnCLoseviewImage->setShortcut(escape);
        v.btnslideShow->setShortcut(QKeySequence());
    }
}

void ViewerLayout::enterFullImage()
{
    viewimagevc &v = *m_viewer;
    v.titlebox->hide();
    v.titlebox_height.setConstant(0);
    v.image_bottomSpace.setConstant(0);
    v.video_bottumSpace.setConstant(0);
    v.btnCLoseviewImage->show();
    v.lblfilename->hide();
    updateEscapeKey();
    v.applogo->show();
    place();
}

void ViewerLayout::leaveFullImage()
{
    viewimagevc &v = *m_viewer;
    // Leaving full screen below reports back here; once is enough.
    if (m_leaving)
        return;
    m_leaving = true;

    v.applogo->hide();
    updateEscapeKey();
    auto *content = lg::ControllerRegistry::existingAs<ViewController>(QStringLiteral("ViewController"));
    // The information pane comes back as it was before the full-image layout.
    if (auto *hub = lg::ControllerRegistry::existingAs<mainvc>(QStringLiteral("mainvc")); content && hub && content->splitview
        && content->splitview->count() > 1
        && content->splitview->widget(1)->isHidden() == hub->infoPaneShownBeforeFullImage)
        content->toggleInfoPane();
    if (auto *split = lg::ControllerRegistry::existingAs<splitvc>(QStringLiteral("splitvc")); split && split->item && split->item->isHidden()) {
        split->item->show();
        highlightLeftSplitButton();
    }
    if (currentScreenMode == ScreenViewer || currentScreenMode == ScreenFullImage)
        v.recenterZoom();
    v.titlebox->show();
    v.titlebox_height.setConstant(v.normalTitleHeight);
    v.image_bottomSpace.setConstant(v.normalBottomSpace);
    v.video_bottumSpace.setConstant(v.normalBottomSpace);
    v.btnCLoseviewImage->hide();
    v.lblfilename->show();
    if (content && content->bgbox) {
        QPalette palette = content->bgbox->palette();
        palette.setColor(QPalette::Window, browserstyle::background());
        content->bgbox->setPalette(palette);
        content->bgbox->setAutoFillBackground(true);
    }
    if (auto *hub = lg::ControllerRegistry::existingAs<mainvc>(QStringLiteral("mainvc"))) {
        if (hub->titlebox)
            hub->titlebox->show();
        hub->titleboxHeight.setConstant(mainvc::titleboxDefaultHeight);
    }
    lg::afterDelay(0, &v, [&v] { v.resize(); });
    if (content && content->boxbottum)
        content->boxbottum->show();
    if (auto *window = lg::ControllerRegistry::existingAs<mainWindowController>(QStringLiteral("mainWindowController"));
        window && window->isInFullScreen())
        window->setWindowState(window->windowState() & ~Qt::WindowFullScreen);

    if (fullImageReturnStyle == viewerStyle) {
        currentScreenMode = ScreenViewer;
    } else {
        if (v.videoPlayer) {
            v.videoPlayer->pause();
            v.videoPlayer = nullptr;
        }
        lg::NotificationHub::instance().post(QStringLiteral("backtofiles"));
    }
    m_leaving = false;
}

