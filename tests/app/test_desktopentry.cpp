// What the file manager is offered matches what the program shows: the desktop
// entry's and the AppStream metadata's MIME types against the extension lists,
// and files handed over that the program does not list.
#include "app/Essentials.h"
#include "app/FileHandover.h"
#include "platform/Settings.h"
#include "platform/Timer.h"
#include "tests/model/CaptureStdout.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

QByteArray sourceFile(const QString &relative)
{
    QFile file(qEnvironmentVariable("LG_TEST_SOURCE_DIR") + QLatin1Char('/') + relative);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The image and video types of every extension the program matches (in lower
// case, as it compares them), plus folders.
QSet<QString> typesOfTheListedExtensions()
{
    const QMimeDatabase db;
    QSet<QString> types {QStringLiteral("inode/directory")};
    for (const QString &extension : mediaExtensions) {
        if (extension != extension.toLower())
            continue;  // never matched
        for (const QMimeType &type : db.mimeTypesForFileName(QStringLiteral("x.") + extension)) {
            if (type.name().startsWith(QLatin1String("image/")) || type.name().startsWith(QLatin1String("video/")))
                types.insert(type.name());
        }
    }
    return types;
}

} // namespace

class DesktopEntryTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void offersExactlyTheListedTypes_data()
    {
        QTest::addColumn<QStringList>("names");
        const QByteArray entry = sourceFile(QStringLiteral("resources/lumengallery.desktop"));
        QStringList fromEntry;
        for (const QByteArray &line : entry.split('\n'))
            if (line.startsWith("MimeType="))
                fromEntry = QString::fromUtf8(line.mid(9)).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        QTest::newRow("desktop entry") << fromEntry;
        const QString metainfo = QString::fromUtf8(sourceFile(QStringLiteral("resources/io.github.lumengallery.metainfo.xml")));
        QStringList fromMetainfo;
        const QRegularExpression mediatype(QStringLiteral("<mediatype>([^<]+)</mediatype>"));
        for (const QRegularExpressionMatch &match : mediatype.globalMatch(metainfo))
            fromMetainfo.append(match.captured(1).trimmed());
        QTest::newRow("metainfo") << fromMetainfo;
    }
    void offersExactlyTheListedTypes()
    {
        QFETCH(QStringList, names);
        QVERIFY2(!names.isEmpty(), "the file was not found (LG_TEST_SOURCE_DIR)");
        // Each name as the database knows it (aliases resolved), once.
        const QMimeDatabase db;
        QStringList offered;
        for (const QString &name : names)
            offered.append(db.mimeTypeForName(name).isValid() ? db.mimeTypeForName(name).name() : name);
        offered.sort();
        QStringList expected = typesOfTheListedExtensions().values();
        expected.sort();
        QCOMPARE(offered, expected);
    }

    void unlistedFilesAreLeftOutOfTheBatch()
    {
        lg::Settings::setValue(firstRunKey, 1);
        const QString folder = lg::test::freshFolder(QStringLiteral("handed"));
        const QString photo = lg::test::writeFile(folder + QStringLiteral("/a.jpg"));
        const QString webp = lg::test::writeFile(folder + QStringLiteral("/b.webp"));
        const QString text = lg::test::writeFile(folder + QStringLiteral("/notes.txt"));
        QStringList openWithPath;
        lg::Timer *timer = nullptr;
        FileHandover handover(openWithPath, timer);
        QList<QStringList> batches;
        handover.handOver = [&batches](const QStringList &paths) { batches.append(paths); };
        openedFromFinder = false;
        const int mode = currentScreenMode;

        // Nothing listed: nothing is collected and nothing changes.
        lg::test::CaptureStdout capture;
        handover.application_openFiles({webp, text}, false);
        const QByteArray printed = capture.finish();
        QCOMPARE(printed.count('\n'), 1);
        QVERIFY(printed.contains("b.webp") && printed.contains("notes.txt"));
        QVERIFY(openWithPath.isEmpty());
        QVERIFY(!timer);
        QVERIFY(!openedFromFinder);
        QCOMPARE(int(currentScreenMode), mode);

        // Listed files and folders go on; the rest is left out.
        lg::test::CaptureStdout again;
        handover.application_openFiles({text, photo, folder}, true);
        again.finish();
        QCOMPARE(openWithPath, (QStringList {photo, folder}));
    }
};

LG_TEST(DesktopEntryTest)
#include "test_desktopentry.moc"
