#pragma once
// The viewer's widgets and where they stand: the title box (back, the file
// name, edit), the picture area (the no-file notice, the picture, the
// transition, the video and its controls), the control bar and the
// full-image layout's logo and close button, built into the viewer's outlets
// and placed as the picture area resizes. It also enters and leaves the
// full-image layout: leaving it brings the window's title box, the
// information pane and the sidebar back as they were, ends full screen, and
// returns to the viewer or to the grid or the list. The outlets and the
// layout lengths stay with the viewer, where the window and the tests read
// them. Main thread; it lives as long as its viewer.
#include <QObject>

class QVBoxLayout;
class viewimagevc;

class ViewerLayout : public QObject
{
    Q_OBJECT
public:
    explicit ViewerLayout(viewimagevc *viewer);

    // Makes the viewer's widgets and styles them; called once.
    void build();
    // Places the picture area's parts in the area, back to front.
    void place();
    void enterFullImage();
    // Once at a time: leaving full screen reports back here.
    void leaveFullImage();

private:
    // build's parts, in the order it calls them.
    void buildTitleBox(QVBoxLayout *root);
    void buildPictureArea(QVBoxLayout *root);
    void buildControlBar();
    void buildFullImageParts();
    // Escape stops a running slideshow, else closes the full-image layout.
    void updateEscapeKey();

    viewimagevc *m_viewer;
    bool m_leaving = false;
};
