#pragma once
// In-place rename and drag and drop in the grid and the list.
//
// Rename: clicking the name of the selected item (or F2) opens an editor that
// is bound to the item's file path when editing starts, so a reload during
// the edit never renames another file; the editor, with what was typed, opens
// again on that file's row after the reload. Ending the edit renames the file
// in its folder without ever replacing anything; a taken name, an invalid one
// ("/", NUL, "." or "..") or a file gone meanwhile is refused with a sheet.
//
// Drag and drop: dragged items leave as file URLs (text/uri-list plus the
// file managers' own list); files dropped from other programs go to the
// current folder as it was at drop time, after the copy-or-move question.
// Main thread only.
#include <QString>
#include <Qt>

#include <functional>

class QAbstractItemView;
class QDrag;
class QWidget;

// Gives view (the grid when grid is set, else the list) its rename editor and
// its drag and drop.
void installItemEditing(QAbstractItemView *view, bool grid);

// Renames the file at path to typed (the text as typed, untrimmed). Returns
// true when the file was renamed. Refusals show their sheet over window.
bool renameInPlace(const QString &path, const QString &typed, QWidget *window);

// After the current item was renamed here, makes the renamed file current
// again in the reloaded list (it may have moved in the order). Reloads call it
// before they select the current item.
void followRenamedItem();

// Runs the drags the grid and the list start (tests); empty restores QDrag::exec.
void setItemDragRunnerForTesting(std::function<Qt::DropAction(QDrag *)> runner);
