// The sidebar's folder list kept for the next start.
#include "sidebar/SidebarSavedRoots.h"

#include "platform/desktop/Settings.h"
#include "platform/runtime/Dispatch.h"
#include "sidebar/SidebarSheets.h"
#include "sidebar/sideMenuvc.h"

#include <QPointer>

#include <algorithm>

using sidebarsheets::comparablePath;

namespace {
const QString savedRootsKey = QStringLiteral("arrPaths");
} // namespace

SidebarSavedRoots::SidebarSavedRoots(sideMenuvc *sidebar) : QObject(sidebar), m_sidebar(sidebar)
{
    setObjectName(QStringLiteral("sidebarSavedRoots"));
    // The folder list is kept whenever the top-level nodes change (added,
    // removed, renamed, moved), not only at quit: a run that ends without a
    // clean quit keeps its folders too.
    SidebarTreeModel *model = sidebar->treeController->model();
    auto topLevel = [this](const QModelIndex &parent) {
        if (!parent.isValid())
            queueSave();
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, topLevel);
    connect(model, &QAbstractItemModel::rowsRemoved, this, topLevel);
    connect(model, &QAbstractItemModel::rowsMoved, this, topLevel);
    connect(model, &QAbstractItemModel::modelReset, this, [this] { queueSave(); });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [topLevel](const QModelIndex &topLeft) { topLevel(topLeft.parent()); });
}

QStringList SidebarSavedRoots::rootFolderPaths() const
{
    QStringList paths;
    for (const BaseNode::Ptr &node : m_sidebar->contents()) {
        if (node && node->url() && node->url()->isLocalFile())
            paths.append(lg::FileNames::pathOf(*node->url()));
    }
    return paths;
}

void SidebarSavedRoots::keepSavedRoots()
{
    const QStringList shown = rootFolderPaths();
    for (const QString &saved : lg::Settings::stringListValue(savedRootsKey).value_or(QStringList())) {
        const QString comparable = comparablePath(saved);
        const bool inTree = std::any_of(shown.cbegin(), shown.cend(), [&comparable](const QString &path) {
            return comparablePath(path) == comparable;
        });
        if (!inTree && !m_savedRootsNotShown.contains(saved))
            m_savedRootsNotShown.append(saved);
    }
}

QStringList SidebarSavedRoots::rootsToSave() const
{
    const QStringList shown = rootFolderPaths();
    QStringList shownComparable;
    for (const QString &path : shown)
        shownComparable.append(comparablePath(path));
    QStringList roots;
    for (const QString &saved : m_savedRootsNotShown) {
        if (!shownComparable.contains(comparablePath(saved)) && !roots.contains(saved))
            roots.append(saved);
    }
    return roots + shown;
}

void SidebarSavedRoots::saveRoots()
{
    const QStringList roots = rootsToSave();
    if (lg::Settings::stringListValue(savedRootsKey) != std::optional<QStringList>(roots))
        lg::Settings::setValue(savedRootsKey, roots);
}

void SidebarSavedRoots::nowInTree(const std::vector<FolderRecord> &records)
{
    for (const FolderRecord &record : records) {
        if (!record.url1.isLocalFile())
            continue;
        const QString added = comparablePath(lg::FileNames::pathOf(record.url1));
        m_savedRootsNotShown.removeIf([&added](const QString &saved) { return comparablePath(saved) == added; });
    }
}

void SidebarSavedRoots::keepOnlyUnshown()
{
    lg::Settings::setValue(savedRootsKey, m_savedRootsNotShown);
    m_savedRootsNotShown.clear();
    m_saveQueued = false;   // a save still on its way would write the empty tree
}

void SidebarSavedRoots::queueSave()
{
    // A change comes in several steps (an add inserts its folders one by one):
    // the list is written once they are all done.
    if (m_saveQueued)
        return;
    m_saveQueued = true;
    QPointer<SidebarSavedRoots> self(this);
    lg::onMain([self] {
        if (!self || !self->m_saveQueued)
            return;
        self->m_saveQueued = false;
        self->saveRoots();
    });
}
