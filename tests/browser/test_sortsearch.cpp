// Sorting the shared item list by name, size, type and date in both orders,
// and the search filter with its start and end as a line edit tells them.
#include "tests/browser/BrowserFixtures.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>

using namespace browsertest;

class TestSortSearch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { resetSharedState(); }
    void cleanupTestCase() { resetSharedState(); }

    void namesAndTypesCompareCaseSensitivelyCharacterByCharacter()
    {
        ViewController *content = contentController();
        itemList = {entry("b.jpg"), entry("IMG_9.jpg"), entry("B.jpg"), entry("a.jpg"), entry("IMG_10.jpg"),
                    entry("A.jpg")};
        content->SortName();
        QCOMPARE(namesOf(itemList), (QStringList{"A.jpg", "B.jpg", "IMG_10.jpg", "IMG_9.jpg", "a.jpg", "b.jpg"}));
        QVERIFY(isSorted);
        QCOMPARE(content->Currentsort, 1);

        itemList = {entry("x.jpg"), entry("y.JPG"), entry("z")};
        content->SortType();
        QCOMPARE(namesOf(itemList), (QStringList{"z", "y.JPG", "x.jpg"}));
        QCOMPARE(pathExtensionOf(QStringLiteral(".profile")), QString());
        QCOMPARE(pathExtensionOf(QStringLiteral(".photo.jpg")), QStringLiteral("jpg"));
    }

    void sortsAreStableInBothOrders()
    {
        ViewController *content = contentController();
        itemList = {entry("first", 10), entry("big", 99), entry("second", 10), entry("small", 1),
                    entry("third", 10)};
        content->SortSize();
        QCOMPARE(namesOf(itemList), (QStringList{"small", "first", "second", "third", "big"}));
        content->SortDescending();
        // Not the mirror image: equal sizes keep their order.
        QCOMPARE(namesOf(itemList), (QStringList{"big", "first", "second", "third", "small"}));

        // The date is the creation date; an entry without attributes sorts
        // first, as the oldest and the smallest, and nothing fails on it.
        const QDateTime day = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
        InitialDirectory unreadable;
        unreadable.url = QUrl::fromLocalFile(QStringLiteral("/nowhere/unreadable.jpg"));
        itemList = {entry("new", 1, day.addDays(2)), unreadable, entry("old", 1, day), entry("mid", 1, day.addDays(1))};
        content->SortAscending();  // re-sorts by the current key: size
        QCOMPARE(namesOf(itemList).first(), QStringLiteral("unreadable.jpg"));
        content->SortDate();
        QCOMPARE(namesOf(itemList), (QStringList{"unreadable.jpg", "old", "mid", "new"}));
    }

    void anOrderChosenBeforeAnyKeyWaitsForTheFirstKey()
    {
        ViewController *content = contentController();
        itemList = {entry("a.jpg"), entry("c.jpg"), entry("b.jpg")};
        const auto checked = [content] {
            content->btnsort();
            QStringList on;
            for (QAction *action : content->sizemenu->actions())
                if (action->isChecked())
                    on.append(action->text());
            content->sizemenu->hide();
            return on;
        };
        // Before any choice the listing's own order is in force: by name, ascending.
        QCOMPARE(checked(), (QStringList{"Sort By Name", "Ascending"}));
        content->SortDescending();
        QCOMPARE(checked(), QStringList{"Descending"});
        QVERIFY(!isSorted);
        QCOMPARE(namesOf(itemList), (QStringList{"a.jpg", "c.jpg", "b.jpg"}));
        content->SortName();
        QCOMPARE(namesOf(itemList), (QStringList{"c.jpg", "b.jpg", "a.jpg"}));

        // The sort menu marks the key and the order in force.
        content->btnsort();
        QStringList on;
        for (QAction *action : content->sizemenu->actions())
            if (action->isChecked())
                on.append(action->text());
        content->sizemenu->hide();
        QCOMPARE(on, (QStringList{"Sort By Name", "Descending"}));
    }

    void searchFiltersByPartOfTheNameIgnoringCase()
    {
        ViewController *content = contentController();
        itemList = {entry("holiday.jpg"), entry("IMG.JPG"), entry("Today.png"), entry("other.gif")};
        content->searchField->setText(QStringLiteral("JPG"));
        QVERIFY(isSearchActive);
        QVERIFY(!content->lblSearchREsult->isHidden());
        QCOMPARE(content->lblSearchREsult->text(), QStringLiteral("Showing results for \"JPG\""));
        QCOMPARE(namesOf(searchResults), (QStringList{"holiday.jpg", "IMG.JPG"}));
        content->searchField->setText(QStringLiteral("day"));
        QCOMPARE(namesOf(searchResults), (QStringList{"holiday.jpg", "Today.png"}));
        QCOMPARE(content->lblSearchREsult->text(), QStringLiteral("Showing results for \"day\""));
        // The grid shows the results, numbered among them; the count is the folder's.
        QCOMPARE(thumbnailGrid()->itemsModel()->rowCount(), 2);
        content->updateItemCountLabel();
        QCOMPARE(content->lblNumberofitems->text(), QStringLiteral("Media items: 4"));

        // Sorting while searching re-filters in the new order.
        content->SortDescending();
        content->SortName();
        QCOMPARE(namesOf(searchResults), (QStringList{"holiday.jpg", "Today.png"}));
        content->SortAscending();
        QCOMPARE(namesOf(searchResults), (QStringList{"Today.png", "holiday.jpg"}));

        // Emptying the field ends the search: the empty text matches nothing,
        // and the grid goes back to the whole list at once.
        content->searchField->clear();
        QVERIFY(!isSearchActive);
        QVERIFY(content->lblSearchREsult->isHidden());
        QVERIFY(searchResults.isEmpty());
        QCOMPARE(thumbnailGrid()->itemsModel()->rowCount(), 4);
    }

    void theVisibleViewIsReloadedOnlyInTheBrowseModes()
    {
        ViewController *content = contentController();
        itemList = {entry("b.jpg"), entry("a.jpg")};
        thumbnailGrid()->reloadCollectionView();
        content->viewimage();
        content->SortName();
        QCOMPARE(namesOf(itemList), (QStringList{"a.jpg", "b.jpg"}));
        const ShownItemsModel *model = thumbnailGrid()->itemsModel();
        QCOMPARE(model->entry(0)->url->fileName(), QStringLiteral("b.jpg"));  // not reloaded in the viewer
        content->showThumbnailView();
        QCOMPARE(model->entry(0)->url->fileName(), QStringLiteral("a.jpg"));
    }
};

LG_TEST(TestSortSearch)
#include "test_sortsearch.moc"
