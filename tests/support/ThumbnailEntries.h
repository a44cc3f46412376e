#pragma once
// The program's thumbnail entries on disk, for tests of the commands that must
// take them along or away. Main thread.
#include "app/Essentials.h"
#include "model/ThumbnailCache.h"
#include "platform/image/ThumbnailStore.h"

#include <QFileInfo>
#include <QImage>
#include <QTest>

namespace lg::test {

// Gives path an entry in every size folder of the program's thumbnail cache on
// disk, as browsing (or another program) would have.
inline bool giveThumbnails(const QString &path)
{
    const std::optional<lg::FileStamp> stamp = lg::FileStamp::of(path);
    QImage image(16, 12, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    bool saved = stamp.has_value();
    for (int side : {128, 256, 512, 1024})
        saved = saved && thumbnailCache().store()->save(path, *stamp, side, image);
    return saved;
}

// How many of path's entries the cache on disk holds, once its writes are done.
inline int thumbnailsOf(const QString &path)
{
    if (!QTest::qWaitFor([] { return !thumbnailCache().isWriting(); }, 5000))
        return -1;
    int count = 0;
    for (int side : {128, 256, 512, 1024})
        count += QFileInfo::exists(thumbnailCache().store()->entryPath(path, side)) ? 1 : 0;
    return count;
}

} // namespace lg::test
