// The flat button: colours per state and pointer situation as painted, the
// animated changes, the click, and where image and title go.
#include "controls/ZLFlatButton.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WidgetTesting.h"

#include <QEnterEvent>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSignalSpy>
#include <QVariantAnimation>

namespace {

using namespace lg::test;

const QColor kOffBackground(20, 30, 40);
const QColor kOnBackground(240, 150, 0);
const QColor kHover(60, 70, 90);
const QColor kDown(10, 10, 10);
const QColor kImageOff(200, 200, 200);
const QColor kImageHover(255, 255, 255);
const QColor kImageOn(0, 0, 255);

void style(ZLFlatButton &button)
{
    button.setBackgroundNormalColor(kOffBackground);
    button.setBackgroundHighlightColor(kOnBackground);
    button.setBorderNormalColor(Qt::gray);
    button.setBorderHighlightColor(Qt::yellow);
    button.setImageNormalColor(kImageOff);
    button.setImageHighlightColor(kImageOn);
    button.setTitleNormalColor(Qt::white);
    button.setTitleHighlightColor(Qt::black);
    button.initializeButtonColor(kOffBackground, kHover, kDown);
    button.set_ImageNormalColor(kImageOff);
    button.set_ImageHoverColor(kImageHover);
    button.set_ImageDownColor(kImageOff);
}

QIcon squareIcon(int side)
{
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::red);
    return QIcon(pixmap);
}

} // namespace

class TestFlatButton : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stateColoursShowAtBothSizes_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("small") << QSize(40, 24);
        QTest::newRow("large") << QSize(160, 48);
    }

    void stateColoursShowAtBothSizes()
    {
        QFETCH(QSize, size);
        ZLFlatButton button;
        style(button);
        button.setBorderWidth(2);
        button.setIcon(squareIcon(12));
        button.setIconSize(QSize(12, 12));
        button.setImagePosition(ZLFlatButton::ImageOnly);
        button.resize(size);
        const QPoint middle(size.width() / 2, size.height() / 2);
        const QPoint backgroundSpot(4, size.height() / 2);

        QImage image = render(&button);
        QVERIFY(colorDistance(image.pixelColor(backgroundSpot), kOffBackground) < 10);
        QVERIFY(colorDistance(image.pixelColor(middle), kImageOff) < 10);  // the image, tinted
        QVERIFY(colorDistance(image.pixelColor(size.width() / 2, 0), QColor(Qt::gray)) < 10);

        button.setState(1);
        image = render(&button);
        QVERIFY(colorDistance(image.pixelColor(backgroundSpot), kOnBackground) < 10);
        QVERIFY(colorDistance(image.pixelColor(middle), kImageOn) < 10);
        QVERIFY(colorDistance(image.pixelColor(size.width() / 2, 0), QColor(Qt::yellow)) < 10);
        QCOMPARE(button.presentedColor(ZLFlatButton::TitleColor), QColor(Qt::black));

        button.setState(0);
        image = render(&button);
        QVERIFY(colorDistance(image.pixelColor(backgroundSpot), kOffBackground) < 10);
    }

    void clickIsSentOnceOnReleaseInside()
    {
        ZLFlatButton button;
        style(button);
        button.resize(60, 30);
        QSignalSpy clicks(&button, &QAbstractButton::clicked);

        enter(&button);
        sendMouse(&button, QEvent::MouseButtonPress, QPoint(30, 15), Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(clicks.count(), 0);
        sendMouse(&button, QEvent::MouseButtonRelease, QPoint(30, 15), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(button.presentedColor(ZLFlatButton::BackgroundColor), kHover);
        QCOMPARE(button.state(), 0);  // owners set the state themselves

        // Pressing, dragging out and releasing sends nothing, even back inside.
        sendMouse(&button, QEvent::MouseButtonPress, QPoint(30, 15), Qt::LeftButton, Qt::LeftButton);
        sendMouse(&button, QEvent::MouseMove, QPoint(90, 15), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(button.cursor().shape(), Qt::ArrowCursor);
        sendMouse(&button, QEvent::MouseMove, QPoint(30, 15), Qt::NoButton, Qt::LeftButton);
        sendMouse(&button, QEvent::MouseButtonRelease, QPoint(30, 15), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(clicks.count(), 1);

        // A release without a press on the button sends nothing.
        sendMouse(&button, QEvent::MouseButtonRelease, QPoint(30, 15), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(clicks.count(), 1);
    }

};

LG_TEST(TestFlatButton)
#include "test_flatbutton.moc"
