// Importing into a Photos library: refused with one alert, the package untouched.
#include "app/Essentials.h"
#include "model/PhotoLibraryImport.h"
#include "platform/desktop/Alert.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

namespace {

QStringList entriesUnder(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        entries.append(it.next());
    entries.sort();
    return entries;
}

} // namespace

class TestPhotoImport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
    }
    void cleanupTestCase()
    {
        lg::Alert::setResponder({});
        resetSharedState();
    }

    void importIntoALibraryIsRefused_data()
    {
        QTest::addColumn<QString>("libraryName");
        QTest::newRow("library") << QStringLiteral("Photos Library.photoslibrary");
        QTest::newRow("extension in capitals") << QStringLiteral("Old.PhotosLibrary");
    }
    void importIntoALibraryIsRefused()
    {
        QFETCH(QString, libraryName);
        const QString folder = lg::test::freshFolder(QStringLiteral("import"));
        const QString library = folder + QLatin1Char('/') + libraryName;
        lg::test::writeFile(library + QStringLiteral("/database/Photos.sqlite"), "db");
        const QString photo = lg::test::writeFile(folder + QStringLiteral("/beach.jpg"), "jpeg");
        const QStringList before = entriesUnder(library);

        currentFolderURL = QUrl::fromLocalFile(library);
        importQueue = {QUrl::fromLocalFile(photo)};
        startPhotoLibraryImport();

        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        const lg::AlertSpec spec = lg::Alert::shownAlerts().first();
        QCOMPARE(spec.title, QStringLiteral("Photos library import is not available"));
        QCOMPARE(spec.text, QStringLiteral("Files cannot be imported into a Photos library on this system."));
        QVERIFY(importQueue.isEmpty());
        QCOMPARE(entriesUnder(library), before);
        QVERIFY(QFile::exists(photo));
    }

    void nothingHappensWithoutFilesOrWithoutALibrary()
    {
        currentFolderURL = QUrl::fromLocalFile(lg::test::freshFolder(QStringLiteral("x")) + QStringLiteral("/L.photoslibrary"));
        startPhotoLibraryImport();  // empty queue
        const QUrl file = QUrl::fromLocalFile(QStringLiteral("/tmp/a.jpg"));
        importQueue = {file};
        currentFolderURL = QUrl::fromLocalFile(lg::test::freshFolder(QStringLiteral("plain")));
        startPhotoLibraryImport();  // not a library: the queue waits
        currentFolderURL.reset();
        startPhotoLibraryImport();
        QVERIFY(lg::Alert::shownAlerts().isEmpty());
        QCOMPARE(importQueue, QList<QUrl>({file}));
    }

    void commandsAreRefusedWithTheSameAlert()
    {
        bool answered = false;
        refusePhotoLibraryImport(nullptr, [&] { answered = true; });
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        QCOMPARE(lg::Alert::shownAlerts().first().title, QStringLiteral("Photos library import is not available"));
        QTRY_VERIFY(answered);
        QVERIFY(isPhotoLibraryImportTarget(QUrl::fromLocalFile(QStringLiteral("/p/A.photoslibrary/"))));
        QVERIFY(!isPhotoLibraryImportTarget(QUrl::fromLocalFile(QStringLiteral("/p/photoslibrary"))));
        QVERIFY(!isPhotoLibraryImportTarget(std::nullopt));
    }
};

LG_TEST(TestPhotoImport)
#include "test_photoimport.moc"
