#pragma once
// The viewer's watch of its folder: the folder listed again in the background
// (the order and the search applied anew), and the file on show followed
// through what other programs do to it. Renamed within the folder, it is
// shown and acted on under its new name; written over or changed, it is
// shown again (a video from where it was); deleted or moved away, the viewer
// goes on to the item that stood after it, and next and previous go on from
// where it stood in the last listing that held it. The file on show and its
// identity stay with the viewer, where its commands read them. Main thread;
// it lives as long as its viewer; a listing that comes back after a newer
// one was asked for is dropped.
#include <QList>
#include <QObject>
#include <QUrl>

class viewimagevc;

class ViewerFollow : public QObject
{
    Q_OBJECT
public:
    explicit ViewerFollow(viewimagevc *viewer);

    // Lists the watched folder again and follows the file on show (see viewimagevc::reloadItems).
    void reload();
    // The index in the list in use of the item that stood after (step 1) or
    // before (step -1) the shown file when it was last listed; -1 for none.
    int indexBesideGoneItem(int step) const;
    // Another item is on show: where the gone one stood is forgotten.
    void forgetGoneItem();

private:
    // The file on show was renamed within its folder by another program and
    // is listed at url: it is shown and acted on under that name from now on.
    // Nothing when another file is at url or the old name is taken again.
    void followRenamedFile(const QUrl &url);
    // Shows the file on show again when another program has written over it
    // or changed it since it was shown.
    void followChangedFile();
    // previousOrder: the files of the list in use before the reload, in order.
    void findShownItemAgain(const QList<QUrl> &previousOrder);

    viewimagevc *m_viewer;
    quint64 m_generation = 0;
    // The shown file is no longer listed: the order of the list it was last
    // listed in, and its place there, so that next and previous go on from it.
    QList<QUrl> m_goneOrder;
    int m_gonePosition = -1;
};
