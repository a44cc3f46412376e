#include "browser/listVc.h"

#include "app/Essentials.h"
#include "browser/BrowserStyle.h"
#include "browser/ItemEditing.h"
#include "browser/ItemMenus.h"
#include "browser/ListTableView.h"
#include "browser/Listing.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "controls/Spinner.h"
#include "platform/desktop/NotificationHub.h"
#include "sidebar/sideMenuvc.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>

listVc::listVc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("listVc"));
    viewDidLoad();
}

void listVc::viewDidLoad()
{
    browserstyle::applyDarkPalette(this);
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_model = new ShownItemsModel(ShownItemsModel::List, this);
    tblview = new ListTableView(this);
    tblview->setObjectName(QStringLiteral("tblview"));
    tblview->setModel(m_model);
    QHeaderView *header = tblview->horizontalHeader();
    const int widths[] = {300, 70, 70, 90, 110, 110, 110};
    for (int column = 0; column < 7; ++column)
        header->resizeSection(column, widths[column]);
    layout->addWidget(tblview, 0, 0);

    box_nofilefound = browserstyle::noFilesNotice(this);
    layout->addWidget(box_nofilefound, 0, 0, Qt::AlignCenter);
    listingSpinner = browserstyle::listingSpinner(box_nofilefound);
    layout->addWidget(listingSpinner, 0, 0, Qt::AlignCenter);

    connect(tblview, &ListTableView::doubleClickedAnywhere, this, [this] { doubleClickedRow(); });
    connect(tblview->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { tableViewSelectionDidChange(); });
    connect(tblview, &ListTableView::visibleRowsChanged, this, [this] { scheduleWorkRequest(); });
    keepSelectionByPath(tblview, m_model, [] { return currentScreenMode == ScreenList; }, &m_selectingItself);
    installItemEditing(tblview, false);
}

void listVc::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    viewWillAppear();
}

void listVc::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_model->cancelWork();
}

void listVc::viewWillAppear()
{
    browserstyle::showListingState();
    // The list may have changed while another view showed.
    if (!m_model->showsActiveList())
        reloadTable();
    selectCurrentRow();
    scheduleWorkRequest();
}

void listVc::reloadTable()
{
    m_model->reloadData();
}

void listVc::selectCurrentRow()
{
    firstAccess = true;
    if (selectedItemIndex < 0 || selectedItemIndex >= activeItemList().size()
        || selectedItemIndex >= m_model->rowCount())
        return;
    const QModelIndex index = m_model->index(selectedItemIndex, 0);
    m_selectingItself = true;
    tblview->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_selectingItself = false;
    tblview->scrollTo(index);
}

void listVc::tableViewSelectionDidChange()
{
    if (m_selectingItself)
        return;
    QItemSelectionModel *selection = tblview->selectionModel();
    const QModelIndex current = selection->currentIndex();
    int row = -1;
    if (current.isValid() && selection->isRowSelected(current.row()))
        row = current.row();
    else if (!selection->selectedRows().isEmpty())
        row = selection->selectedRows().last().row();
    if (row < 0)
        return;
    selectedItemIndex = row;
    sidebarController()->updatePreviewThumbnail();
}

void listVc::doubleClickedRow()
{
    lg::NotificationHub::instance().post(QStringLiteral("viewimage"));
}

void listVc::scheduleWorkRequest()
{
    m_workRequest.schedule();
}

void listVc::requestVisibleWork()
{
    if (m_model->rowCount() == 0 || !isVisible())
        return;
    auto [first, last] = tblview->visibleRows();
    if (first < 0)
        return;
    m_model->requestWork(first, last, true);
}

void listVc::refreshData()
{
    fillItemListFromSource(this, [this] { finishReload(); });
    browserstyle::showListingState();
}

void listVc::finishReload()
{
    browserstyle::showListingState();
    finishBrowseReload([this] { reloadTable(); }, tblview, firstAccess,
                       [this] { selectCurrentRow(); });
    Q_EMIT reloadFinished();
}

void listVc::copyItem_menu()
{
    itemmenus::copyItems(listBrowseView());
}

void listVc::handleRightMouseDown(QMouseEvent *event)
{
    itemmenus::handleRightMouseDown(listBrowseView(), event);
}
