#pragma once
// The viewer's turn and mirror of the file on show: the file checked again
// and turned on a worker (see ViewerRotate.cpp for what a turn keeps), the
// turned picture put in place keeping the zoom, the item's record made anew,
// and the save panel for a copy where the file cannot be written in place.
// One turn at a time. The Parts of the viewer that name the turn
// (RotateImageWithSender, commitEditedImage, saveCopySheetEnded,
// reloadShownImage, editedImage) stay with the viewer and hand the work over.
// Main thread; it lives as long as its viewer.
#include <QByteArray>
#include <QObject>
#include <QSize>

class QImage;
class QString;
class QUrl;
class Saver;
class viewimagevc;

class ViewerRotate : public QObject
{
    Q_OBJECT
public:
    explicit ViewerRotate(viewimagevc *viewer);

    // Turns path by quarterTurns (counter-clockwise) and mirrors it, while it is still
    // the file on show; nothing while a turn runs.
    void turn(const QString &path, int quarterTurns, bool horizontal, bool vertical);
    // The turned picture of url: written in place (its picture shown), or
    // not (previewed, and a copy offered). See viewimagevc::commitEditedImage.
    void commit(const QUrl &url, const QImage &edited, const QImage &shown, QSize pixelSize, bool written,
                const QByteArray &preparedJpeg, const QString &notInPlace);
    bool isRunning() const { return m_running; }

private:
    // Puts the turned or mirrored picture of the item on show in place, keeping the zoom.
    void showTurnedPicture(const QImage &picture, QSize pixelSize, const QString &path);
    void refreshItemRecord(const QUrl &url);

    viewimagevc *m_viewer;
    bool m_running = false;
    Saver *m_copySaver = nullptr;
};
