#pragma once
// The thumbnail grid: the shown list as square items, n to a row, with the
// zoom slider and buttons under it. Selecting an item makes it the current
// item of the application; a double click opens the viewer.
#include <QWidget>

class GridView;
class QItemSelection;
class QLabel;
class Spinner;
class QMouseEvent;
class QSlider;
class QToolButton;
class ShownItemsModel;

class thumbnailvc : public QWidget
{
    Q_OBJECT
public:
    explicit thumbnailvc(QWidget *parent = nullptr);

    // ---- Outlets ----
    QLabel *box_nofilefound = nullptr;   // notice shown when the folder has no media items
    Spinner *listingSpinner = nullptr;   // the busy state while the folder lists
    QSlider *slider = nullptr;           // zoom, 0 to 100: larger means fewer, larger items
    GridView *collectionview = nullptr;
    QToolButton *btnZoomIn = nullptr;
    QToolButton *btnZoomOut = nullptr;

    // ---- State ----
    int menuClickedRow = 0;              // the item a right click was on
    bool firstAccess = false;            // the grid has selected its current item once
    bool firsttime = true;               // no reload has found items yet
    double numberofitemsinOneRow = 5.0;  // items per row
    double space = 0;                    // the section inset of the last layout

    ShownItemsModel *itemsModel() const { return m_model; }

    void viewWillAppear();
    void viewDidAppear();
    // Recomputes the layout from the view width.
    void resize();
    using QWidget::resize;
    void configureCollectionView();
    void btnzoomin();
    void btnzoomout();
    // Applies the slider's value as items per row.
    void sliderUpdate();
    // Items per row for a slider value (current for values below 0).
    static double itemsPerRowForSliderValue(int value, double current);
    // Selects the item at selectedItemIndex and scrolls to it (without running
    // the selection handling).
    void selectCurrentItem();
    // Shows the shown list as it is now (the collection view's reload); the
    // selection stays on its files.
    void reloadCollectionView();

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
    void resizeEvent(QResizeEvent *event) override;

private:
    void viewDidLoad();
    void finishReload();
    // Loads the codec modules the listed files need in the background once
    // the folder's first screen is drawn, so that opening the first video (or
    // HEIC, raw, PSD...) does not wait for its module.
    void preloadModulesAfterFirstScreen();
    void didSelectItems(const QItemSelection &selected);

    ShownItemsModel *m_model = nullptr;
    bool m_selectingItself = false;
    QMetaObject::Connection m_preloadOnPaint;
    QMetaObject::Connection m_preloadOnIdle;
};
