#pragma once
// The thread pools of their own, beside the shared one (lg::onBackground,
// lg::runThenCallback). A pool stands here only where its work must not wait
// behind the shared pool's, and says why. Each is made on its first call and
// kept while the program runs. Main thread or any thread, as said at each.
//
// Pools owned by one object, drained when it goes, stay with their owner:
// the thumbnail cache's (model/ThumbnailCache.cpp) and the picture loader's
// (viewer/PictureLoader.cpp).
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

} // namespace lg::pools
