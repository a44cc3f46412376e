#pragma once
// The promotion panel: a scrolling grid of cards, one for each application of
// the maker's catalogue that is offered (named and not installed here), in one
// of the catalogue's ten display orders drawn afresh at every showing. Laid
// over the content hub by its header button; its close button takes it away.
#include <QFrame>
#include <QList>
#include <QMargins>
#include <QSize>
#include <QString>
#include <QVariantMap>
#include <QWidget>

class QLabel;
class QPushButton;
class QScrollArea;
class cursorButton;

// A card of the panel.
class collectionView_cell : public QFrame
{
    Q_OBJECT
public:
    explicit collectionView_cell(QWidget *parent = nullptr);

    QLabel *lblapptype = nullptr;    // the category
    cursorButton *btnappstore = nullptr;  // the download badge
    QLabel *imgview = nullptr;       // the icon
    QLabel *lblsubtitle = nullptr;   // the description
    QLabel *lbltitle = nullptr;      // the name
};

// The grid inside the scroll view: fixed-size items in rows, wrapped to the
// width, with section insets round them.
class PromotionGridView : public QWidget
{
    Q_OBJECT
public:
    explicit PromotionGridView(QWidget *parent = nullptr);

    struct FlowLayout
    {
        QSize itemSize{400, 204};
        QMargins sectionInset{20, 20, 20, 20};
        int minimumInteritemSpacing = 0;
        int minimumLineSpacing = 10;
    };
    void setCollectionViewLayout(const FlowLayout &layout);

    // Replaces the items (the view takes them over).
    void setItems(const QList<QWidget *> &items);
    const QList<QWidget *> &items() const { return m_items; }
    // Where item index goes at the present width.
    QRect itemFrame(int index) const;
    void relayout();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    int columnCount() const;
    FlowLayout m_layout;
    QList<QWidget *> m_items;
};

class utilityKitvc : public QWidget
{
    Q_OBJECT
public:
    explicit utilityKitvc(QWidget *parent = nullptr);

    // ---- Outlets ----
    QScrollArea *scrollview = nullptr;
    PromotionGridView *collectionView = nullptr;
    QPushButton *btnclosebutton = nullptr;
    QLabel *lblempty = nullptr;  // shown when no card is offered

    // The cards shown, in display order. Each has "Title", "description",
    // "icon" (QImage), "apppath", "category" and "isappStore".
    QList<QVariantMap> allappsDic;
    bool isfirstTimeLodded = false;
    // The display order drawn for this showing: catalogue entry numbers.
    QList<int> randomPrmotarr;

    void viewDidLoad();
    void viewWillAppear();
    void viewDidAppear();
    void configureCollectionView();
    void buildPromotionCatalogue();

    int numberOfItems() const { return int(allappsDic.size()); }
    // The filled card for index; nullptr outside the list.
    collectionView_cell *itemForIndex(int index);

    // Opens the page of the card whose index is the sender's "tag".
    void btnAppStoreClickedWithSender(QObject *sender);
    // Takes the panel away; the hub's content shows again.
    void btnclose();

    // The badge artwork of a card's download button.
    static QString badgeImage(bool isAppStore);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildLayout();
    void reloadData();
};
