#pragma once
// The viewer's slideshow: starting and stopping it (the zoom controls rest
// while it runs, and Escape stops it), its step timer, and the menus of its
// speed and its transitions. The slideshow's state stays with the viewer
// (isSlideShowRunning, timerAutoplay, selectedTimeIntervel, the transition),
// where the window and the content controller read it; each step shows the
// viewer's next item. Main thread; it lives as long as its viewer.
#include <QObject>

class QAction;
class QMenu;
class QWidget;
class viewimagevc;

class ViewerSlideshow : public QObject
{
    Q_OBJECT
public:
    explicit ViewerSlideshow(viewimagevc *viewer);

    // Starts a stopped slideshow, stops a running one.
    void toggle();
    // A step of the timer: the next item while running; a stopped
    // slideshow's controls come back to rest.
    void tick();
    // The running slideshow goes on one interval from now.
    void restartTimer();
    // The menu of the step intervals (the current one checked), and the
    // choice of one of them.
    QMenu *speedMenu(QWidget *parent);
    void chooseSpeed(QAction *sender);
    // The menu of the transitions, by kind and then direction.
    QMenu *transitionsMenu(QWidget *parent);
    // kind: 1 fade, 2 push, 3 reveal, 4 move in; direction: 1 left, 2 right, 3 top, 4 bottom.
    void setTransition(int kind, int direction);

private:
    viewimagevc *m_viewer;
};
