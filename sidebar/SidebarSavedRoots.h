#pragma once
// The folder list the sidebar keeps for the next start ("arrPaths" in the
// settings): the saved folders this run has not shown (it came up for files
// handed over, sideMenuvc::keepSavedRoots), then the top-level folders in tree
// order, each named by its bytes (lg::FileNames). It is written whenever the
// top-level nodes change, once the event loop is reached, so that a run
// ending without a clean quit keeps its folders too; nothing is written when
// the stored list is the same already. Main thread; it lives as long as its
// sidebar and follows its tree model.
#include "sidebar/FolderScan.h"

#include <QObject>
#include <QStringList>

#include <vector>

class sideMenuvc;

class SidebarSavedRoots : public QObject
{
    Q_OBJECT
public:
    // Follows the sidebar's tree model (made by then).
    explicit SidebarSavedRoots(sideMenuvc *sidebar);

    // See the sideMenuvc methods of the same names.
    QStringList rootFolderPaths() const;
    void keepSavedRoots();
    QStringList rootsToSave() const;
    void saveRoots();
    // The folders of records are in the tree now: a saved one among them is
    // saved as a node.
    void nowInTree(const std::vector<FolderRecord> &records);
    // The tree lost its last folder: the list keeps only the saved folders
    // this run never showed (the home screen offers them), and a save still
    // on its way is dropped.
    void keepOnlyUnshown();

private:
    // Saves once the changes of this turn of the event loop are all made.
    void queueSave();

    sideMenuvc *m_sidebar;
    QStringList m_savedRootsNotShown;   // saved folders that this run has not put in the tree
    bool m_saveQueued = false;
};
