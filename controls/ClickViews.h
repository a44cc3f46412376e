#pragma once
// Views that forward clicks to the screens behind them: the content area's
// background (right clicks open the list's or the grid's context menu), the
// viewer's views (a double click leaves the viewer) and the editor's image
// view (which can be sent a double click).
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <functional>

class QMouseEvent;

// The mouse-down handling shared by the viewer's views. superclassMouseDown
// runs first with the event. Then, for a double click of the left button
// (a MouseButtonDblClick event): in the full-image viewer (mode 3) the viewer
// closes; in any other mode the viewer's video is paused and released and
// "backtofiles" is posted, which brings the grid or list back.
void viewerMouseDown(QMouseEvent *event, const std::function<void(QMouseEvent *)> &superclassMouseDown);

// The background of the content area: a right click goes to the list's
// handler while the list shows (mode 1) and to the grid's while the grid
// shows (mode 0); in other modes it is swallowed.
class myview : public QWidget
{
    Q_OBJECT
public:
    explicit myview(QWidget *parent = nullptr);

    void myviewRightMouseDown(QMouseEvent *event);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

// The viewer's plain background view.
class mynsview : public QWidget
{
    Q_OBJECT
public:
    explicit mynsview(QWidget *parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};

// The viewer's still-image view.
class MyImageView : public QLabel
{
    Q_OBJECT
public:
    explicit MyImageView(QWidget *parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};

// The viewer's video view. The widget that shows the pictures (a
// QVideoWidget) comes from the Qt Multimedia module and is made when a video
// first needs it; it fills this view, whose mouse handlers get its clicks.
class myplayerview : public QWidget
{
    Q_OBJECT
public:
    explicit myplayerview(QWidget *parent = nullptr);

    // The video widget, made on the first call; null while the module cannot be loaded.
    QWidget *videoView();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QPointer<QWidget> m_videoView;
};

// The editor's image view: simulateMouseDown() makes its current tool act as
// if the user had double-clicked the middle of the view.
class CustomIKImageView : public QWidget
{
    Q_OBJECT
public:
    explicit CustomIKImageView(QWidget *parent = nullptr);

    // Sends the view's own double-click handler a left double click at the
    // view's centre.
    void simulateMouseDown();
};
