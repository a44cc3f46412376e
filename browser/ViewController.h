#pragma once
// The content controller: the content area of the main window. A title bar
// (grid/list/viewer switch, sort button, search field, search-results label
// and item count) over the content, which shows the thumbnail grid, the list
// or the viewer, beside the item-information pane. It also sorts and searches
// the shared item list.
#include <QWidget>

namespace lg { class Timer; }
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QScrollArea;
class QSplitter;
class QToolButton;
class QTreeView;
class SegmentedControl;
class myview;

class ViewController : public QWidget
{
    Q_OBJECT
public:
    explicit ViewController(QWidget *parent = nullptr);

    // ---- Outlets ----
    QLabel *lblNumberofitems = nullptr;   // "Media items: " and the count
    QLabel *lblSearchREsult = nullptr;    // "Showing results for ..."
    QFrame *boxbottum = nullptr;          // the bottom bar
    QSplitter *splitview = nullptr;       // its second widget is the information pane
    QFrame *bgbox = nullptr;              // the background box
    QFrame *rightBox = nullptr;           // the information pane
    QScrollArea *scrollview = nullptr;    // scroll view of the information outline
    QTreeView *outlineview = nullptr;     // the information outline
    myview *customview = nullptr;         // holds the grid, the list or the viewer
    QLineEdit *searchField = nullptr;
    QFrame *titlebox = nullptr;           // the title bar
    SegmentedControl *segmentControl = nullptr;  // 0 grid, 1 list, 2 viewer
    QToolButton *btnSort = nullptr;

    // ---- State ----
    // Set while the window is being resized by hand.
    bool isWindowResizing = false;
    // The deferred resize; stopped when a live resize starts.
    lg::Timer *timerResize = nullptr;
    QMenu *sizemenu = nullptr;   // the sort menu, rebuilt at every press
    int Currentsort = 99;        // 99 none yet, 1 name, 2 size, 3 type, 4 creation date
    bool isDescending = false;

    static constexpr int titleBarHeight = 29;
    static constexpr int titleBarSpace = 1;
    // The title bar's height, as the layout has it now.
    int titleBoxHeight() const;

    // ---- Switching between grid, list and viewer ----
    // The segmented control's action: 0 grid, 1 list, 2 viewer, others nothing.
    void segmentControlClicked(int segment);
    void btnthumbail();
    void btnlist();
    void btnviewfile();
    // To the viewer (the "viewimage" notification).
    void viewimage();
    // To the viewer's full-image presentation.
    void viewFullimage();
    // Back from the viewer (the "backtofiles" notification).
    void buttonbackClicked();
    void showThumbnailView();
    void showListView();
    // Puts the controller's view in the content area in place of the previous one.
    void embedContentController(QWidget *controllerView);

    // ---- Information pane, resizing, count ----
    void toggleInfoPane();
    void fillInfoPane();
    void splitViewDidResizeSubviews();
    void scheduleViewerResize();
    void resizeViewimage();
    // "Media items: " and the number of items of the whole listing.
    void updateItemCountLabel();

    // ---- Sort and search ----
    // Rebuilds the sort menu and pops it up under the sort button.
    void btnsort();
    void SortName();
    void SortSize();
    void SortType();
    void SortDate();
    void SortAscending();
    void SortDescending();
    void setSortOrder(bool descending);
    // Sorts itemList by the key of code (1 name, 2 size, 3 type, 4 date) in the
    // chosen order, stably; re-filters a running search; reloads the shown view.
    void sortItemList(int code);
    // The search field's three moments; a line edit tells them by its text:
    // typing into an empty field starts a search, every change filters, and
    // emptying the field ends it.
    void searchFieldDidStartSearching();
    void controlTextDidChange();
    void searchFieldDidEndSearching();
    // Rebuilds searchResults from itemList and the search text.
    void applySearchFilter();
    // Reloads the grid (mode 0) or the list (mode 1); nothing in other modes.
    void reloadVisibleView();

    void pasteItems();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void viewDidLoad();
    void buildTitleBar();
    void setTitleBarShown(bool shown);
    void switchToBrowseView(int target);
    void switchToViewer(int mode);
    void onSearchTextChanged(const QString &text);
    void updateSearchResultLabel();

    QString m_lastSearchText;
    bool m_laidOut = false;
    bool m_infoPaneSized = false;   // the pane has had its first width
};
