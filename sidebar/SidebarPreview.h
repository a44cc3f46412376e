#pragma once
// The sidebar's preview of the item chosen in the files (grid, list or
// viewer): its box under the outline, with the video badge over its middle.
// The picture is made on a pool thread, a picture decoded within the
// thumbnails' budget by the decode workers (through the thumbnail cache), a
// video's first frame otherwise, and shown when it is ready unless another
// item has been asked for meanwhile; a file without a picture (a damaged one,
// a video whose name is not text) shows the icon of its type. Main thread; it
// lives as long as its sidebar, whose imgviewThumbnail and video_icon it makes
// and draws in.
#include <QObject>
#include <QString>

class QFrame;
class QImage;
class QWidget;
class sideMenuvc;

class SidebarPreview : public QObject
{
    Q_OBJECT
public:
    explicit SidebarPreview(sideMenuvc *sidebar);
    // Makes the box with the sidebar's imgviewThumbnail and video_icon.
    QFrame *makeBox(QWidget *parent);
    // Shows the chosen item (sideMenuvc::updatePreviewThumbnail).
    void update();
    // Empties the preview and drops any picture still on its way.
    void clear();

private:
    // The picture made for generation (null: none could be made of path).
    void show(const QImage &image, int generation, const QString &path);

    sideMenuvc *m_sidebar;
    int m_generation = 0;   // the newest picture asked for
};
