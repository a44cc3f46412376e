#pragma once
// Listing the current source (a folder, a Photos library or the files opened
// from outside) into the shared item list, and the steps that both browse
// views run after a new listing.
#include "model/MediaRecords.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <functional>
#include <optional>

class QAbstractItemView;

// The path extension of a file name: what follows its last dot, unchanged;
// empty when there is none or the only dot starts the name (".profile").
QString pathExtensionOf(const QString &fileName);

// The entry of one folder entry: an image or a video by its lower-cased
// extension, or none for a folder, an unknown extension or a name without
// one. May be called from any thread.
std::optional<InitialDirectory> mediaItemForPath(const QString &path);

// Appends the entry of path to itemList, or nothing (main thread).
void appendMediaItemForPath(const QString &path);

// The media entries of a folder in listing order; an empty list when the
// folder cannot be read. May be called from any thread.
QVector<InitialDirectory> mediaItemsInFolder(const QString &folderPath);

// Fills itemList from the current source and empties searchResults, then
// calls done on the main thread. A folder is listed on a background thread;
// when that takes longer than the listing budget the main thread goes on and
// the lists are emptied at once and filled (and done runs) once the listing
// arrives, so that a huge or slow folder never holds up the window and the
// previous folder's entries are not acted on meanwhile. A newer fill makes the
// pending one void: its done never runs. Nothing runs when context is gone.
void fillItemListFromSource(const QObject *context, std::function<void()> done);

// How long a reload waits for its folder listing before it lets the main
// thread go on (ms). Tests set 0 to take the background path.
void setListingBudget(int ms);
// True while the listing of the newest fill is on its way (a fill made void
// by a newer one no longer counts).
bool isListingPending();

// After a new listing: re-applies the chosen sort (which filters and reloads
// the shown view itself) or, without one, the search filter followed by
// reloadView.
void applySortAndSearchAfterListing(const std::function<void()> &reloadView);

// The focus request (focusFileAfterReload), when there is one; otherwise the
// sidebar's preview is refreshed, and with no current item (an empty listing,
// or the current file gone) the preview and the information pane are emptied.
void focusRequestedFileOrRefreshPreview();

// The end of a reload of the grid or the list, once its listing is in: the
// sort and the search applied (reloadView shows the result), a renamed item
// followed, the focus request or the preview, the item count. A view that has
// selected its current item once (firstAccess, read at the end) and has no
// selection then gets the current item again through selectCurrent. Main thread.
void finishBrowseReload(const std::function<void()> &reloadView, const QAbstractItemView *view,
                        const bool &firstAccess, const std::function<void()> &selectCurrent);

// Empties the sidebar's preview and the information pane: there is no current
// item. Main thread.
void showNoCurrentItem();
