// The small custom views: scroller and scroll views, the centring scroll area,
// sliders, row selection, centred cells, the editing field, outline arrows,
// cursor buttons and click-forwarding views.
#include "app/Essentials.h"
#include "controls/Cells.h"
#include "controls/ClickViews.h"
#include "controls/ControlColors.h"
#include "controls/CursorButtons.h"
#include "controls/ScrollViews.h"
#include "controls/Sliders.h"
#include "platform/desktop/NotificationHub.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WidgetTesting.h"
#include "viewer/viewimagevc.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QEnterEvent>
#include <QHeaderView>
#include "viewer/VideoPlayer.h"
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QTableView>

#include <limits>

namespace {

using namespace lg::test;

class PressRecorder : public QWidget
{
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

class DoubleClickRecorder : public CustomIKImageView
{
public:
    QPointF position;
    Qt::MouseButton button = Qt::NoButton;
    int count = 0;

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        ++count;
        position = event->position();
        button = event->button();
    }
};

} // namespace

class TestSmallViews : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        resetSharedState();
        QApplication::clipboard()->clear();
    }

    void scrollerDrawsAThinKnobThatDrags()
    {
        CustomScroller scroller(Qt::Vertical);
        QCOMPARE(scroller.sizeHint().width(), 15);
        scroller.resize(15, 200);
        scroller.setRange(0, 100);
        scroller.setPageStep(100);
        const QRectF knob = scroller.knobRect();
        QCOMPARE(knob, QRectF(3, 0, 9, 100));
        const QImage image = render(&scroller);
        QVERIFY(colorDistance(image.pixelColor(7, 50), scrollerKnobColor()) < 10);
        QVERIFY(image.pixelColor(1, 50).alpha() == 0);   // clear track beside it
        QVERIFY(image.pixelColor(7, 150).alpha() == 0);  // and below it

        // Dragging the knob by 50 px moves it half its travel.
        sendMouse(&scroller, QEvent::MouseButtonPress, QPoint(7, 50), Qt::LeftButton, Qt::LeftButton);
        sendMouse(&scroller, QEvent::MouseMove, QPoint(7, 100), Qt::NoButton, Qt::LeftButton);
        sendMouse(&scroller, QEvent::MouseButtonRelease, QPoint(7, 100), Qt::LeftButton, Qt::NoButton);
        QVERIFY(std::abs(scroller.value() - 50) <= 1);
        QCOMPARE(scroller.knobRect().top(), 50.0);

        // Nothing to scroll: no knob.
        scroller.setRange(0, 0);
        QVERIFY(scroller.knobRect().isEmpty());
        QCOMPARE(render(&scroller).pixelColor(7, 50).alpha(), 0);
    }

    void centeringClipViewCentresSmallDocuments()
    {
        CenteringClipView clip;
        clip.setFrameShape(QFrame::NoFrame);
        clip.resize(300, 200);
        auto *document = new QWidget;
        document->resize(100, 80);
        clip.setWidget(document);
        clip.show();
        QCoreApplication::processEvents();
        QCOMPARE(document->pos(), QPoint(100, 60));
        QCOMPARE(clip.constrainBoundsRect(QRectF(0, 0, 300, 200)), QRectF(-100, -60, 300, 200));

        // It stays centred while the view is resized.
        clip.resize(501, 300);
        QCoreApplication::processEvents();
        QCOMPARE(document->pos(), QPoint(201, 110));

        // A wider document scrolls normally and stops at its edges.
        document->resize(1000, 100);
        QCoreApplication::processEvents();
        const int visibleWidth = clip.viewport()->width();
        QCOMPARE(document->x(), 0);
        QCOMPARE(document->y(), (clip.viewport()->height() - 100) / 2);
        clip.horizontalScrollBar()->setValue(clip.horizontalScrollBar()->maximum());
        QCOMPARE(document->x(), visibleWidth - 1000);
        QCOMPARE(clip.constrainBoundsRect(QRectF(900, 0, visibleWidth, 100)).right(), 1000.0);

        // Content insets widen the scrolled area on every side.
        clip.setContentInsets(QMarginsF(10, 0, 20, 0));
        QCOMPARE(clip.horizontalScrollBar()->maximum(), 1030 - visibleWidth);
        clip.horizontalScrollBar()->setValue(0);
        QCOMPARE(document->x(), 10);
        clip.horizontalScrollBar()->setValue(clip.horizontalScrollBar()->maximum());
        QCOMPARE(document->x(), visibleWidth - 1000 - 20);

        // Insets that are not numbers count as none.
        const qreal nan = std::numeric_limits<qreal>::quiet_NaN();
        clip.setContentInsets(QMarginsF(nan, nan, nan, nan));
        QCOMPARE(clip.contentInsets(), QMarginsF());
        QCOMPARE(clip.horizontalScrollBar()->maximum(), 1000 - visibleWidth);
    }

    void editingFieldPerformsTheEditingKeys()
    {
        QWidget window;
        auto *field = new Editing(&window);
        int shortcutTriggers = 0;
        auto *copyAction = new QAction(&window);
        copyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
        window.addAction(copyAction);
        connect(copyAction, &QAction::triggered, this, [&] { ++shortcutTriggers; });
        window.show();
        QApplication::setActiveWindow(&window);
        field->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QWindow *handle = window.windowHandle();

        field->setText(QStringLiteral("hello world"));
        QTest::keyClick(handle, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(field->selectedText(), QStringLiteral("hello world"));
        QTest::keyClick(handle, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("hello world"));
        QCOMPARE(shortcutTriggers, 0);  // the field had the key first
        QTest::keyClick(handle, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(field->text(), QString());
        QTest::keyClick(handle, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(field->text(), QStringLiteral("hello world"));
        QTest::keyClick(handle, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(field->text(), QString());
        QTest::keyClick(handle, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(field->text(), QStringLiteral("hello world"));

        // Only the exact modifiers count.
        QKeyEvent withAlt(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(!field->performKeyEquivalent(&withAlt));
        QKeyEvent shiftC(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!field->performKeyEquivalent(&shiftC));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_C, Qt::ControlModifier);
        QVERIFY(!field->performKeyEquivalent(&release));
    }

    void rightClicksOnTheContentBackgroundStopThere()
    {
        PressRecorder parent;
        auto *background = new myview(&parent);
        background->resize(100, 100);
        parent.resize(100, 100);
        for (uint8_t mode : {ScreenViewer, ScreenHome, ScreenGrid, ScreenList}) {
            currentScreenMode = mode;
            QTest::mousePress(background, Qt::RightButton, Qt::NoModifier, QPoint(10, 10));
            QTest::mouseRelease(background, Qt::RightButton, Qt::NoModifier, QPoint(10, 10));
        }
        QCOMPARE(parent.presses, 0);
        // Other buttons behave as on any view.
        QTest::mousePress(background, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        QCOMPARE(parent.presses, 1);
    }

    void doubleClickOnTheViewerReturnsToTheFiles()
    {
        currentScreenMode = ScreenViewer;
        viewimagevc *viewer = imageViewer();
        auto *player = VideoPlayer::create(nullptr, viewer);
        QVERIFY(player);
        viewer->videoPlayer = player;
        int posts = 0;
        QObject observer;
        lg::NotificationHub::instance().observe(QStringLiteral("backtofiles"), &observer,
                                                [&](const QVariant &) { ++posts; });

        int superCalls = 0;
        auto super = [&](QMouseEvent *) { ++superCalls; };
        QMouseEvent single(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                           Qt::NoModifier);
        viewerMouseDown(&single, super);
        QCOMPARE(superCalls, 1);
        QCOMPARE(posts, 0);
        QCOMPARE(viewer->videoPlayer, player);

        QMouseEvent rightDouble(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::RightButton,
                                Qt::RightButton, Qt::NoModifier);
        viewerMouseDown(&rightDouble, super);
        QCOMPARE(posts, 0);

        // Through a real view: the double click of the left button.
        MyImageView image;
        image.resize(50, 50);
        QTest::mouseDClick(&image, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        QCOMPARE(posts, 1);
        QCOMPARE(viewer->videoPlayer, nullptr);

        mynsview plain;
        plain.resize(50, 50);
        QTest::mouseDClick(&plain, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        QCOMPARE(posts, 2);
    }
};

LG_TEST(TestSmallViews)
#include "test_smallviews.moc"
