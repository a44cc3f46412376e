#pragma once
// Small helpers shared by the sidebar's command files: the hub's busy overlay
// in its two forms, the end of in-place editing, the path of a node's URL, a folder's comparable path, and
// the diagnostic line. Main thread (comparablePath: any thread).
#include "app/mainvc.h"
#include "model/ScreenHooks.h"
#include "platform/base/LexicalPaths.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/ControllerRegistry.h"

#include <QApplication>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <cstdio>
#include <optional>

namespace sidebarsheets {

inline mainvc *hub()
{
    return qobject_cast<mainvc *>(lg::ControllerRegistry::existing(QStringLiteral("mainvc")));
}

// The overlay behind a sheet: dimming only (where the hub is up).
inline void showSheetOverlay()
{
    if (hub())
        showOverlay(Overlay::Sheet);
}

// The overlay while work runs: with the spinner (where the hub is up).
inline void showWorkOverlay()
{
    if (hub())
        showOverlay(Overlay::Work);
}

inline void hideOverlay()
{
    showOverlay(Overlay::Hidden);
}

// Ends any in-place editing in the window: the focused field gives up its focus.
inline void endEditing()
{
    if (QWidget *focus = QApplication::focusWidget())
        focus->clearFocus();
}

// The path of a local URL (by its bytes, cleaned); empty for none or another kind.
inline QString localPath(const std::optional<QUrl> &url)
{
    return url && url->isLocalFile() ? lg::LexicalPaths::clean(lg::FileNames::pathOf(*url)) : QString();
}

// Whether path is folder or lies inside it, by their spellings.
inline bool sameOrInside(const QString &path, const QString &folder)
{
    return path == folder || lg::LexicalPaths::isInside(path, folder);
}

// A folder path in the form that tells two folders apart: the real path when
// the folder exists, else the cleaned path.
inline QString comparablePath(const QString &path)
{
    const QString canonical = lg::FileNames::canonical(path);
    return canonical.isEmpty() ? lg::LexicalPaths::clean(path) : canonical;
}

using lg::printLine;

} // namespace sidebarsheets
