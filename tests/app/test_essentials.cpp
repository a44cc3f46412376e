// Shared state: the registry, the extension lists and the folder helpers.
#include "app/Essentials.h"
#include "app/homeVc.h"
#include "app/mainvc.h"
#include "platform/desktop/Paths.h"
#include "sidebar/sideMenuvc.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QPointer>
#include <QSet>

class TestEssentials : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { resetSharedState(); }
    void cleanupTestCase() { resetSharedState(); }

    void itemListFindsNamesWhateverTheirCase()
    {
        InitialDirectory item;
        item.url = QUrl::fromLocalFile(QStringLiteral("/photos/holiday.jpg"));
        itemList.append(item);
        itemList.append(InitialDirectory()); // an item without a URL is skipped safely
        QVERIFY(itemListContainsFileName(QStringLiteral("HOLIDAY.JPG")));
        QVERIFY(itemListContainsFileName(QStringLiteral("holiday.jpg")));
        QVERIFY(!itemListContainsFileName(QStringLiteral("holiday 2.jpg")));
        QVERIFY(!itemListContainsFileName(QStringLiteral("photos")));
    }

    void canModifyFolderProtectsHomeAndStandardFolders()
    {
        const QString home = lg::Paths::home();
        auto url = [](const QString &path) { return std::optional<QUrl>(QUrl::fromLocalFile(path)); };

        QVERIFY(!canModifyFolder(std::nullopt));
        QVERIFY(!canModifyFolder(url(home)));
        QVERIFY(!canModifyFolder(url(home + QStringLiteral("/"))));
        QVERIFY(!canModifyFolder(url(home + QStringLiteral("/Pictures"))));
        QVERIFY(!canModifyFolder(url(home + QStringLiteral("/Downloads"))));
        QVERIFY(!canModifyFolder(url(home + QStringLiteral("/Pictures/Photos Library.photoslibrary"))));
        QVERIFY(!canModifyFolder(url(home + QStringLiteral("/Elsewhere/Old.PhotosLibrary"))));

        QVERIFY(canModifyFolder(url(home + QStringLiteral("/Pictures/Trip"))));
        QVERIFY(canModifyFolder(url(home + QStringLiteral("/Projects/Pictures"))));
        QVERIFY(canModifyFolder(url(home + QStringLiteral("/Pictures 2"))));
        // A home folder that merely starts with the same letters is not the home folder.
        QVERIFY(canModifyFolder(url(home + QStringLiteral("2/Pictures"))));
    }

    void hiddenNamesStartWithADot()
    {
        QVERIFY(isHiddenURL(QUrl::fromLocalFile(QStringLiteral("/a/.thumbnails"))));
        QVERIFY(!isHiddenURL(QUrl::fromLocalFile(QStringLiteral("/a/thumbnails"))));
        QVERIFY(!isHiddenURL(QUrl::fromLocalFile(QStringLiteral("/a/b.c/photo.jpg"))));
    }
};

LG_TEST(TestEssentials)
#include "test_essentials.moc"
