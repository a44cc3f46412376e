#pragma once
// Finding the image files among chosen or dropped files and folders, for the
// collage's photo list. Pure: runs on any thread over its arguments only.
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

// The image files (by lower-cased extension, as the image extension list
// holds them) among urls, in the given order; a folder gives the image files
// inside it to any depth, hidden files and folders left out, each folder's
// entries in name order (case-insensitive, digits as numbers). A path that
// does not exist is judged as a file by its extension. Files whose URL is in
// known, or already found, are left out. Symbolic links to folders are not
// followed; unreadable folders add nothing.
QList<QUrl> scanCollagePhotos(const QList<QUrl> &urls, QSet<QUrl> known);
