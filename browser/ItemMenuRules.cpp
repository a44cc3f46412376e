#include "browser/ItemMenuRules.h"

QStringList itemMenuActionNames(bool grid)
{
    QStringList names{QStringLiteral("actionView"), QStringLiteral("actionRefresh"),
                      QStringLiteral("actionOpenWithFileManager"), QStringLiteral("actionOpenWithApplication")};
    if (grid)
        names.append(QStringLiteral("actionShow"));
    names += QStringList{QStringLiteral("actionStartSlideShow"), QStringLiteral("actionFullscreenView"),
                         QStringLiteral("actionSetAsWallpaper"), QStringLiteral("actionCopy"),
                         QStringLiteral("actionPaste"), QStringLiteral("actionDuplicate"),
                         QStringLiteral("actionMoveToTrash"), QStringLiteral("actionMoveTo"),
                         QStringLiteral("actionCopyTo"), QStringLiteral("actionProperties")};
    return names;
}

QHash<QString, bool> itemMenuEnabling(const ItemMenuSnapshot &s, bool grid)
{
    QHash<QString, bool> enabled;
    for (const QString &name : itemMenuActionNames(grid))
        enabled.insert(name, true);
    // Each rule only disables, so their order does not matter.
    const auto disable = [&enabled](std::initializer_list<const char *> names) {
        for (const char *name : names)
            enabled[QString::fromLatin1(name)] = false;
    };
    const bool nothingTargeted = !s.overItem && s.selectedCount == 0;
    if (nothingTargeted)
        disable({"actionOpenWithFileManager", "actionOpenWithApplication", "actionView", "actionSetAsWallpaper",
                 "actionCopy", "actionDuplicate", "actionMoveToTrash", "actionMoveTo", "actionCopyTo",
                 "actionProperties", "actionStartSlideShow"});
    if (!s.hasCurrentFolder)
        disable({"actionPaste", "actionDuplicate", "actionMoveToTrash", "actionMoveTo", "actionCopyTo"});
    if (s.folderIsPhotoLibrary)
        disable({"actionOpenWithFileManager", "actionDuplicate", "actionMoveToTrash", "actionMoveTo", "actionPaste"});
    if (!s.clipboardHasMediaFile)
        disable({"actionPaste"});
    if (s.infoPaneShown)
        disable({"actionProperties"});
    if (!s.overItem || !s.clickedIsImage)
        disable({"actionSetAsWallpaper"});
    if (!s.hasApplications)
        disable({"actionOpenWithApplication"});
    return enabled;
}
