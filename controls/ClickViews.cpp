#include "controls/ClickViews.h"

#include "model/ScreenHooks.h"
#include "platform/image/ModuleInterfaces.h"
#include "platform/modules/Modules.h"

#include <QMouseEvent>

void viewerMouseDown(QMouseEvent *event, const std::function<void(QMouseEvent *)> &superclassMouseDown)
{
    if (superclassMouseDown)
        superclassMouseDown(event);
    if (event->type() != QEvent::MouseButtonDblClick || event->button() != Qt::LeftButton)
        return;
    if (screenHooks().viewerDoubleClicked)
        screenHooks().viewerDoubleClicked();
}

// ---------------------------------------------------------------- myview

myview::myview(QWidget *parent)
    : QWidget(parent)
{
}

void myview::myviewRightMouseDown(QMouseEvent *event)
{
    if (screenHooks().contentRightClicked)
        screenHooks().contentRightClicked(event);
}

void myview::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::RightButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The right click ends here, whatever the mode.
    event->accept();
    myviewRightMouseDown(event);
}

// ---------------------------------------------------------------- viewer views
// A double click reaches the base class as a press, as a plain view treats it;
// the press handler is called by name so that it does not come back here.

mynsview::mynsview(QWidget *parent)
    : QWidget(parent)
{
}

void mynsview::mousePressEvent(QMouseEvent *event)
{
    viewerMouseDown(event, [this](QMouseEvent *e) { QWidget::mousePressEvent(e); });
}

void mynsview::mouseDoubleClickEvent(QMouseEvent *event)
{
    viewerMouseDown(event, [this](QMouseEvent *e) { QWidget::mousePressEvent(e); });
}

MyImageView::MyImageView(QWidget *parent)
    : QLabel(parent)
{
}

void MyImageView::mousePressEvent(QMouseEvent *event)
{
    viewerMouseDown(event, [this](QMouseEvent *e) { QLabel::mousePressEvent(e); });
}

void MyImageView::mouseDoubleClickEvent(QMouseEvent *event)
{
    viewerMouseDown(event, [this](QMouseEvent *e) { QLabel::mousePressEvent(e); });
}

myplayerview::myplayerview(QWidget *parent)
    : QWidget(parent)
{
}

QWidget *myplayerview::videoView()
{
    if (!m_videoView) {
        if (const lg::image::PlayerModule *module = lg::image::playerModule()) {
            m_videoView = module->createVideoView(this);
            m_videoView->setObjectName(QStringLiteral("videoView"));
            m_videoView->setGeometry(rect());
            m_videoView->show();
        }
    }
    return m_videoView;
}

void myplayerview::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_videoView)
        m_videoView->setGeometry(rect());
}

// The video widget leaves its clicks to this view.
void myplayerview::mousePressEvent(QMouseEvent *event)
{
    viewerMouseDown(event, [this](QMouseEvent *e) { QWidget::mousePressEvent(e); });
}

void myplayerview::mouseDoubleClickEvent(QMouseEvent *event)
{
    viewerMouseDown(event, [this](QMouseEvent *e) { QWidget::mousePressEvent(e); });
}

// ---------------------------------------------------------------- CustomIKImageView

CustomIKImageView::CustomIKImageView(QWidget *parent)
    : QWidget(parent)
{
}

void CustomIKImageView::simulateMouseDown()
{
    const QPointF centre = QRectF(rect()).center();
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, centre, mapToGlobal(centre), Qt::LeftButton,
                            Qt::LeftButton, Qt::NoModifier);
    mouseDoubleClickEvent(&doubleClick);
}
