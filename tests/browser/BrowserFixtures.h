#pragma once
// Small helpers for the content browser's tests: pictures written with Qt,
// hand-made list entries and waiting for a reload.
#include "app/Essentials.h"
#include "browser/Listing.h"
#include "browser/ViewController.h"
#include "model/ThumbnailCache.h"
#include "model/MediaRecords.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

namespace browsertest {

// A JPEG of width x height in one colour.
inline QString writeJpeg(const QString &path, int width, int height, QColor color = Qt::red)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    if (!image.save(path, "JPEG"))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// An entry as a listing makes it, with the given facts instead of the disk's.
inline InitialDirectory entry(const QString &name, double size = 100,
                              QDateTime created = QDateTime::fromSecsSinceEpoch(1'600'000'000, Qt::UTC),
                              bool isImage = true)
{
    InitialDirectory item;
    const QUrl url = QUrl::fromLocalFile(QStringLiteral("/nowhere/") + name);
    item.url = url;
    Metadata file;
    file.url = url;
    file.size = size;
    file.createdDate = created;
    file.Modifieddate = created;
    item.file = file;
    item.isImage = isImage;
    return item;
}

inline QStringList namesOf(const QVector<InitialDirectory> &items)
{
    QStringList names;
    for (const InitialDirectory &item : items)
        names.append(item.url ? item.url->fileName() : QString());
    return names;
}

// Runs a reload and waits until it has finished (it may list in the background).
template <typename View>
inline bool reloadAndWait(View *view)
{
    QSignalSpy finished(view, &View::reloadFinished);
    view->refreshData();
    return !finished.isEmpty() || finished.wait(10000);
}

// The content controller on screen at size, showing the grid (or the list).
inline ViewController *shownContent(bool grid = true, QSize size = {900, 600})
{
    ViewController *content = contentController();
    content->resize(size);
    content->show();
    if (!grid)
        content->showListView();
    if (!QTest::qWaitForWindowExposed(content))
        qWarning("the content controller is not on screen");
    return content;
}

} // namespace browsertest
