#pragma once
// The list: the shown list as the rows of a table with the name (and a small
// thumbnail), pixel width and height, size, kind, creation and modification
// date of each item. Selecting a row makes it the current item of the
// application; a double click opens the viewer.
#include "platform/runtime/CoalescedCall.h"

#include <QString>
#include <QWidget>

class ListTableView;
class QItemSelection;
class QLabel;
class Spinner;
class QMouseEvent;
class ShownItemsModel;

class listVc : public QWidget
{
    Q_OBJECT
public:
    explicit listVc(QWidget *parent = nullptr);

    // ---- Outlets ----
    QLabel *box_nofilefound = nullptr;   // notice shown when the folder has no media items
    Spinner *listingSpinner = nullptr;   // the busy state while the folder lists
    ListTableView *tblview = nullptr;

    // ---- State ----
    int menuClickedRow = 0;              // the row a right click was on
    bool firstAccess = false;            // the list has selected its current row once
    const QString tableViewDragType = QStringLiteral("MoveRowsType");

    ShownItemsModel *itemsModel() const { return m_model; }

    void viewWillAppear();
    // Selects the row at selectedItemIndex alone and scrolls to it.
    void selectCurrentRow();
    // Shows the shown list as it is now (the table's reload).
    void reloadTable();
    // The table's double action: opens the viewer, whatever row was hit.
    void doubleClickedRow();

    // Puts the file URLs of the selection on the clipboard and in copiedURLs.
    void copyItem_menu();
    // Rebuilds the view from the current folder.
    void refreshData();
    // Selects the item under a right click and opens its context menu.
    void handleRightMouseDown(QMouseEvent *event);

Q_SIGNALS:
    // A reload has brought itemList and the view up to date.
    void reloadFinished();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void viewDidLoad();
    void finishReload();
    void tableViewSelectionDidChange();
    void scheduleWorkRequest();
    void requestVisibleWork();

    ShownItemsModel *m_model = nullptr;
    bool m_selectingItself = false;
    lg::CoalescedCall m_workRequest{this, [this] { requestVisibleWork(); }};
};
