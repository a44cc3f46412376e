#pragma once
// The content hub: the header bar with the pane, full-image, zoom, share,
// collage and promotion buttons over a container that holds the split view (or,
// in its place, the collage maker or the image editor). It owns the busy overlay
// and the progress sheet that every screen uses around long work, shows hover
// hints over the header buttons and watches the current folder for changes.
//
// Main thread, except the progress-sheet calls, which may come from any thread.
#include <QColor>
#include <QString>
#include <QWidget>

#include <atomic>
#include <memory>

class CircularProgressView;
class FolderMonitor;
class PopoverMaxTypeVC;
class QFrame;
class QLabel;
class QPushButton;
class Spinner;
class ZLFlatButton;
namespace lg { class Timer; }

// The height of one view, set like a layout constraint's constant.
class LayoutHeightConstraint
{
public:
    void bind(QWidget *view) { m_view = view; }
    int constant() const { return m_constant; }
    void setConstant(int height);

private:
    QWidget *m_view = nullptr;
    int m_constant = 0;
};

class mainvc : public QWidget
{
    Q_OBJECT
public:
    explicit mainvc(QWidget *parent = nullptr);
    ~mainvc() override;

    // ---- Outlets (object names as the fields) ----
    ZLFlatButton *btnutilitykit = nullptr;   // shows the promotion panel
    QLabel *lblcollage = nullptr;            // caption of the collage button
    ZLFlatButton *btncollage = nullptr;      // opens the collage maker
    QLabel *lblpath = nullptr;               // path line of the progress sheet
    QLabel *lblProcessTitle = nullptr;       // title of the progress sheet
    QFrame *progressBox = nullptr;           // the progress sheet
    CircularProgressView *circularview = nullptr;
    Spinner *loader = nullptr;               // spinner of the busy overlay
    ZLFlatButton *btnrightsplit = nullptr;   // shows or hides the information pane
    ZLFlatButton *btnLeftSplit = nullptr;    // shows or hides the sidebar
    ZLFlatButton *btnFullImagePlay = nullptr;
    ZLFlatButton *btnzoom = nullptr;         // the window's full screen
    ZLFlatButton *btnShere = nullptr;        // share
    QPushButton *btncancel = nullptr;        // stops a running folder import
    QFrame *titlebox = nullptr;              // the header bar
    QFrame *bgbox = nullptr;                 // the busy overlay's dimming box
    QWidget *container = nullptr;            // split view, collage or editor
    LayoutHeightConstraint titleboxHeight;   // height of the header bar
    // Whether the information pane showed before the full-image layout hid it;
    // leaving that layout puts it back as it was.
    bool infoPaneShownBeforeFullImage = false;

    // ---- Other fields ----
    // The hover hint; a small popup of its own (it is also the popover).
    PopoverMaxTypeVC *tooltipVc = nullptr;
    // Progress of a folder import, written by the sidebar's scan from any thread.
    std::atomic<int> currentCount{0};
    std::atomic<int> totalcount{0};
    // The watcher of the current folder and the pending reload.
    std::unique_ptr<FolderMonitor> monitor;
    lg::Timer *timerReload = nullptr;
    // Set by callers before showBusyLoader when a sheet of theirs covers the
    // work: the overlay then shows without its spinner.
    bool isonlyalert = false;

    static constexpr int titleboxDefaultHeight = 40;
    static constexpr int reloadDelayMs = 200;

    void viewDidLoad();
    void viewWillAppear() {}

    // Hover hints over the share, full-image and pane buttons.
    void mouseEntered(QWidget *area);
    void mouseExited(QWidget *area);

    // The collage maker and the editor take the split view's place.
    void showCollagevc();
    void closeCollagevc();
    void showEditImagevc();
    void closeEditImagevc();

    // Header actions.
    void btnleft();
    void btnright();
    void btnfullimage();
    void enterFullImage();
    void btnzoomClicked();
    void btnShare();
    void btncancelClicked();
    void btnUtilityKit();
    void resize();
    using QWidget::resize;
    void resizeViewimage();

    // The busy overlay: with the spinner, or only dimming when isonlyalert is set.
    void showBusyLoader();
    void hideBusyLoader();

    // The progress sheet of folder imports. Safe from any thread: the views are
    // changed on the main thread, in the order of the calls.
    void showProgressSheet();
    // Shows currentCount of totalcount on the ring.
    void updateProgressSheet();
    // Stores count and total, then shows them.
    void updateProgressSheet(int count, int total);
    void setProgressPath(const QString &path);
    void hideProgressSheet();
    // The ring's share for count of total: 1.0 once count reaches or passes a
    // positive total; 0 while the total is 0 or less (nothing measured yet).
    static double progressRatio(int count, int total);

    // Folder monitoring of currentFolderURL, and the reload of the visible view.
    void startMonitorWithSender(QObject *sender = nullptr);
    void stopMonitorWithSender(QObject *sender = nullptr);
    void reloaddata();

Q_SIGNALS:
    // hideBusyLoader has run: isBusy is false now.
    void busyLoaderHidden();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildLayout();
    ZLFlatButton *makeHeaderButton(const QString &name, const QString &icon, const QString &hint);
    void setHeaderItemsVisible(bool visible, bool includingPromotion);
    void swapContainerView(QWidget *outgoing, QWidget *incoming);
    void scheduleReload();

    QWidget *m_splitView = nullptr;
};

// The split-pane toggles of the hub: the button chosen by the member pointer
// takes the colour (normal, image and hover image colours). Nothing happens
// before the hub exists.
void setSplitButtonColor(ZLFlatButton *mainvc::*button, const QColor &color);
void highlightLeftSplitButton();
void unhighlightLeftSplitButton();
void highlightRightSplitButton();
void unhighlightRightSplitButton();
