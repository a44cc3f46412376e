#pragma once
// Shared by the sidebar's command and drag-and-drop tests: a sidebar over real
// folders of the test home, sheets answered by title, and the check that the
// tree shows what the disk holds.
#include "app/Essentials.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Paths.h"
#include "platform/files/names/FileNames.h"
#include "sidebar/SidebarTreeModel.h"
#include "sidebar/outlineView.h"
#include "sidebar/sideMenuvc.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSignalSpy>

namespace sidebartest {

// A folder in the test home with the given sub-folders (paths relative to it).
inline QString makeTree(const QString &name, const QStringList &folders)
{
    const QString root = lg::test::freshFolder(name);
    for (const QString &folder : folders)
        QDir().mkpath(root + QLatin1Char('/') + folder);
    return lg::LexicalPaths::clean(root);
}

inline bool addAndWait(sideMenuvc *sidebar, const QStringList &folders)
{
    QList<QUrl> urls;
    for (const QString &folder : folders)
        urls.append(lg::FileNames::urlOf(folder));
    QSignalSpy finished(sidebar, &sideMenuvc::addingFinished);
    sidebar->addFoldersWithProgress(urls);
    return finished.count() > 0 || finished.wait(10000);
}

// Answers each sheet by the first button whose title is listed, else the first.
inline void answerWith(const QStringList &preferred)
{
    lg::Alert::setResponder([preferred](const lg::AlertSpec &spec) {
        for (const QString &choice : preferred) {
            const qsizetype at = spec.buttons.indexOf(choice);
            if (at >= 0)
                return int(at);
        }
        return 0;
    });
}

inline QStringList shownTitles()
{
    QStringList titles;
    for (const lg::AlertSpec &spec : lg::Alert::shownAlerts())
        titles.append(spec.title);
    return titles;
}

// The outline row of a folder's node (a path that may carry bytes that are
// not UTF-8, FileNames), expanding its ancestors; -1 when absent.
inline int rowOf(sideMenuvc *sidebar, const QString &folder)
{
    const std::optional<IndexPath> path = sidebar->indexPathOfFolderNode(lg::FileNames::urlOf(folder));
    if (!path)
        return -1;
    const QModelIndex index = sidebar->treeController->model()->indexForPath(*path);
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        sidebar->myOutlineView->expand(p);
    return sidebar->myOutlineView->rowForItem(index);
}

inline QModelIndex indexOf(sideMenuvc *sidebar, const QString &folder)
{
    const std::optional<IndexPath> path = sidebar->indexPathOfFolderNode(lg::FileNames::urlOf(folder));
    return path ? sidebar->treeController->model()->indexForPath(*path) : QModelIndex();
}

// The titles of the node's rows, sorted.
inline QStringList sortedChildTitles(const BaseNode *node)
{
    QStringList titles;
    for (const BaseNode::Ptr &child : node->childNodes())
        titles << child->nodeTitle();
    titles.sort();
    return titles;
}

// Empty when the node's sub-tree shows the folder's visible sub-folders, by
// name and path, at every level; otherwise the first difference.
inline QString treeDiffersFromDisk(const BaseNode *node)
{
    const QString path = lg::LexicalPaths::clean(node->url()->toLocalFile());
    QStringList onDisk;
    for (const QFileInfo &info : QDir(path).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!info.isSymLink())
            onDisk.append(info.fileName());
    }
    QStringList inTree;
    for (const BaseNode::Ptr &child : node->isLeaf() ? QList<BaseNode::Ptr>() : node->childNodes()) {
        inTree.append(child->nodeTitle());
        if (lg::LexicalPaths::clean(child->url()->toLocalFile()) != path + QLatin1Char('/') + child->nodeTitle())
            return QStringLiteral("%1 has a wrong URL").arg(child->nodeTitle());
        const QString below = treeDiffersFromDisk(child.get());
        if (!below.isEmpty())
            return below;
    }
    onDisk.sort();
    inTree.sort();
    if (onDisk != inTree)
        return QStringLiteral("%1: tree %2, disk %3").arg(path, inTree.join(u','), onDisk.join(u','));
    return QString();
}

} // namespace sidebartest
