// The promotion panel: the offered entries in one of the ten orders, the cards
// with their badges, the page links, the grid layout and closing.
#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "controls/CursorButtons.h"
#include "outreach/PromotionCatalogue.h"
#include "outreach/utilityKitvc.h"
#include "platform/desktop/Paths.h"
#include "platform/desktop/Settings.h"
#include "tests/support/TestSupport.h"

#include <QDesktopServices>
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QScrollArea>

namespace {

const QString catalogueKey = QStringLiteral("deployment/promotionCatalogue");

// Entry 9 has no name (never offered); entry 13's page is not a web page.
QString writeCatalogue()
{
    const QString folder = lg::test::freshFolder(QStringLiteral("catalogue"));
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(Qt::darkCyan);
    icon.save(folder + QStringLiteral("/icon.png"));
    QJsonArray entries;
    for (int number = 1; number <= PromotionCatalogue::entryCount; ++number) {
        if (number == 9)
            continue;
        QJsonObject entry{
            {QStringLiteral("number"), number},
            {QStringLiteral("name"), QStringLiteral("App %1").arg(number)},
            {QStringLiteral("description"), QStringLiteral("Sentence %1.").arg(number)},
            {QStringLiteral("icon"), QStringLiteral("icon.png")},
            {QStringLiteral("page"), number == 13 ? QStringLiteral("file:///etc/passwd")
                                                  : QStringLiteral("https://example.org/app%1").arg(number)},
            {QStringLiteral("installedName"), QStringLiteral("lgapp%1").arg(number)},
        };
        entries.append(entry);
    }
    const QString path = folder + QStringLiteral("/catalogue.json");
    lg::test::writeFile(path, QJsonDocument(QJsonObject{{QStringLiteral("entries"), entries}}).toJson());
    return path;
}

void install(int number)
{
    lg::test::writeFile(lg::Paths::dataHome() + QStringLiteral("/applications/lgapp%1.desktop").arg(number),
                        "[Desktop Entry]\nType=Application\nName=App\nExec=true\n");
}

void uninstallAll()
{
    QDir(lg::Paths::dataHome() + QStringLiteral("/applications")).removeRecursively();
}

QList<int> shownNumbers(const utilityKitvc *panel)
{
    QList<int> numbers;
    for (const QVariantMap &entry : panel->allappsDic)
        numbers.append(entry.value(QStringLiteral("Title")).toString().mid(4).toInt());
    return numbers;
}

int drawnOrder(const utilityKitvc *panel)
{
    for (size_t i = 0; i < PromotionCatalogue::displayOrders.size(); ++i) {
        const auto &order = PromotionCatalogue::displayOrders[i];
        if (panel->randomPrmotarr == QList<int>(order.begin(), order.end()))
            return int(i) + 1;
    }
    return 0;
}

// Shows the panel over the hub, as its header button does.
utilityKitvc *showPanel()
{
    mainvc *hub = contentHub();
    utilityKitvc *panel = promotionPanel();
    panel->btnclose();
    hub->btnUtilityKit();
    return panel;
}

} // namespace

class PageCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

class TestPromotion : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        uninstallAll();
        lg::Settings::setValue(catalogueKey, writeCatalogue());
        mainWindow()->setContentViewController(contentHub());
        mainWindow()->resize(1000, 700);
        mainWindow()->show();
    }
    void cleanup()
    {
        mainWindow()->hide();
        uninstallAll();
        lg::Settings::remove(catalogueKey);
    }
    void cleanupTestCase() { resetSharedState(); }

    void offeredEntriesShowInOneOfTheTenOrders()
    {
        install(5);
        install(12);
        QSet<int> ordersSeen;
        for (int showing = 0; showing < 25; ++showing) {
            utilityKitvc *panel = showPanel();
            const int order = drawnOrder(panel);
            QVERIFY2(order >= 1, "the drawn order is not one of the ten");
            ordersSeen.insert(order);
            // The drawn order without the installed and the unnamed entries,
            // without gaps and in the same relative order.
            QList<int> expected;
            for (int number : std::as_const(panel->randomPrmotarr))
                if (number != 5 && number != 12 && number != 9)
                    expected.append(number);
            QCOMPARE(shownNumbers(panel), expected);
            QCOMPARE(panel->numberOfItems(), 20);
            QCOMPARE(panel->collectionView->items().size(), 20);
        }
        QVERIFY(ordersSeen.size() > 1);   // drawn afresh at every showing
    }

    void installingBetweenShowingsChangesTheCards()
    {
        utilityKitvc *panel = showPanel();
        QCOMPARE(panel->numberOfItems(), 22);
        QVERIFY(!shownNumbers(panel).contains(9));
        install(7);
        panel = showPanel();
        QCOMPARE(panel->numberOfItems(), 21);
        QVERIFY(!shownNumbers(panel).contains(7));
        uninstallAll();
        panel = showPanel();
        QCOMPARE(panel->numberOfItems(), 22);
        QVERIFY(panel->lblempty->isHidden());
    }

    void thisDeploymentOffersNothing()
    {
        lg::Settings::remove(catalogueKey);
        utilityKitvc *panel = showPanel();
        QCOMPARE(panel->numberOfItems(), 0);
        QVERIFY(panel->collectionView->items().isEmpty());
        QVERIFY(!panel->lblempty->isHidden());
        QVERIFY(panel->scrollview->isHidden());
    }

    void badgesOpenTheEntryPage()
    {
        PageCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        utilityKitvc *panel = showPanel();
        const QList<int> numbers = shownNumbers(panel);

        auto *cell = qobject_cast<collectionView_cell *>(panel->collectionView->items().at(numbers.indexOf(7)));
        QVERIFY(cell);
        cell->btnappstore->click();
        QCOMPARE(catcher.opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/app7?utm_source=lg"))});

        // Only web pages are opened; stale tags do nothing.
        cell = qobject_cast<collectionView_cell *>(panel->collectionView->items().at(numbers.indexOf(13)));
        cell->btnappstore->click();
        QLabel stale;
        stale.setProperty("tag", 999);
        panel->btnAppStoreClickedWithSender(&stale);
        panel->btnAppStoreClickedWithSender(nullptr);
        QCOMPARE(catcher.opened.size(), 1);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }
};

LG_TEST(TestPromotion)
#include "test_promotion.moc"
