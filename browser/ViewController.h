#pragma once
// The content controller: shows the grid, the list or the viewer.
#include <QWidget>

namespace lg { class Timer; }
class QFrame;
class QScrollArea;
class QSplitter;

class ViewController : public QWidget
{
    Q_OBJECT
public:
    explicit ViewController(QWidget *parent = nullptr);

    // Set while the window is being resized by hand.
    bool isWindowResizing = false;
    // The deferred resize; stopped when a live resize starts.
    lg::Timer *timerResize = nullptr;
    QFrame *boxbottum = nullptr;     // the bottom bar
    QFrame *bgbox = nullptr;         // the background box
    QScrollArea *scrollview = nullptr;
    QSplitter *splitview = nullptr;  // its second widget is the information pane

    void pasteItems();
    void toggleInfoPane();
    void viewFullimage();
    void showListView();
    void showThumbnailView();
    void fillInfoPane();
};
