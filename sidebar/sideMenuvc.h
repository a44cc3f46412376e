#pragma once
// The sidebar: the tree of folders and Photos library entries.
#include "model/PhotosLibrary.h"

#include <QList>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <optional>

class sideMenuvc : public QWidget
{
    Q_OBJECT
public:
    explicit sideMenuvc(QWidget *parent = nullptr);

    // Adds folders (or, with none, only finishes the pending add) in the background.
    void addFoldersWithProgress(const std::optional<QList<QUrl>> &folderURLs);
    // Asks whether to stop the running folder import.
    void alertforStopAddingFolder();
    // Shows files handed over from outside under the "Opened with" entry.
    void revealFolderOfFile(const QStringList &paths);
    // The paths of the top-level folders, in tree order.
    QStringList rootFolderPaths() const;

    // Reads the Photos library that is the current folder (or the collage's).
    void loadPhotosLibrary() { photosReader.loadPhotosLibrary(); }
    PhotosLibraryReader photosReader;
};
