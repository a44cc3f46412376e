#pragma once
// The full image viewer.
#include <QWidget>

class QMediaPlayer;

class viewimagevc : public QWidget
{
    Q_OBJECT
public:
    explicit viewimagevc(QWidget *parent = nullptr);

    // The player of the video on show, if any.
    QMediaPlayer *videoPlayer = nullptr;
    bool isSlideShowRunning = false;

    // Returns from the viewer to the file browser.
    void closeViewer();
    // Keeps a zoomed image centred after a size change.
    void recenterZoom();
    // Re-applies the fit style unless the user zoomed by hand.
    void applyFitStyle();
    // Re-lists the items after a change in the watched folder.
    void reloadItems();
    void toggleSlideShow();
    void enterFullImageLayout();
    // Puts the current item's file URL on the clipboard and in copiedURLs.
    void copyCurrentItemToPasteboard();
};
