#pragma once
// The thread pools of their own, beside the shared one (Background.h). A
// pool stands here only where its work must not wait behind the shared
// pool's, and says why, and when its work is waited for.
//
// The first ones are made on their first call and kept while the program
// runs. The last ones belong to one object each: a call makes a new pool, a
// child of owner, which waits for its work when it goes; the quit
// (lg::drainBackgroundWork) waits for it before that. Main thread or any
// thread, as said at each.
class QObject;
class QThreadPool;

namespace lg::pools {

// A large folder's entries, read in chunks over all cores while the listing
// thread (itself on the shared pool) waits for them: on the shared pool the
// chunks could wait behind that thread and the thumbnails, and the listing
// would stall. Drained at quit. Any thread.
QThreadPool *folderListing();
// The codec modules' loads, a thread for each: the thumbnails on the shared
// pool wait for the modules, so a load must never wait behind them. A load is
// not interrupted: the quit waits for one under way (less than a second).
// Drained at quit. Any thread.
QThreadPool *moduleLoads(int modules);
// The viewer's turns, one thread kept alive so that a turn pays no thread
// start, and never waiting behind a folder's thumbnails. It belongs to the
// application object and goes (waiting for a turn under way) with it. Main
// thread.
QThreadPool *pictureTurns();
// The sidebar's scans of added folders, each one task that may run for
// minutes over a large tree: on the shared pool it would hold a thread that
// the listings and the previews need that long. A scan looks at the quit and
// stops; its sidebar waits for it. Drained at quit. Any thread.
QThreadPool *folderScans();

// ---- Pools of one owner ----

// The thumbnails and pixel sizes wanted now (those on screen), on all cores
// but one left to the window (at least two threads): behind the shared
// pool's listings and file commands they would keep the grid waiting. Main
// thread.
QThreadPool *thumbnailsNow(QObject *owner);
// The thumbnails and pixel sizes made ahead of need, as many threads as
// thumbnailsNow, each lowering its own priority as it starts (see
// ThumbnailCache.cpp): apart, so that none of them is ever ahead of a
// thumbnail wanted now. Main thread.
QThreadPool *thumbnailsAhead(QObject *owner);
// The thumbnail cache's writes to disk, one at a time on one thread of lower
// priority: a slow disk holds up no decode, and no decode holds up a write
// for long. Main thread.
QThreadPool *thumbnailWrites(QObject *owner);
// The viewer's pictures decoded ahead (two to four threads): the next picture
// never waits behind a folder's thumbnails or listings. Main thread.
QThreadPool *viewerPictures(QObject *owner);

} // namespace lg::pools
