// The media item records and Metadata::init on real files.
#include "model/MediaRecords.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

struct stat statOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        qFatal("cannot stat %s", qPrintable(path));
    return st;
}

void setModificationTime(const QString &path, time_t seconds, long nanoseconds)
{
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    if (::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) != 0)
        qFatal("cannot set the time of %s", qPrintable(path));
}

} // namespace

class MediaRecordsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initReadsTheFileAttributes()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("records"));
        const QString path = lg::test::writeFile(folder + QStringLiteral("/one byte.jpg"), "x");
        // 2021-03-04 05:06:07.250 UTC
        setModificationTime(path, 1614834367, 250000000);
        const QUrl url = QUrl::fromLocalFile(path);

        lg::test::CaptureStdout capture;
        const InitialDirectory item = Metadata::init(url);
        const QByteArray printed = capture.finish();

        QVERIFY(printed.isEmpty());
        QCOMPARE(item.url, std::optional<QUrl>(url));
        QVERIFY(item.file.has_value());
        QCOMPARE(item.file->url, url);
        QCOMPARE(item.file->Modifieddate,
                 QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7, 250), Qt::UTC));
        // Whatever the file system says about birth times, the value is usable:
        // a real date not in the future, or the distant past.
        const QDateTime created = item.file->createdDate;
        QVERIFY(created.isValid());
        QVERIFY(created == distantPast() || created <= QDateTime::currentDateTimeUtc().addSecs(5));
        QVERIFY(!item.isImage);
        QVERIFY(!item.state);
        QVERIFY(!item.photoLibraryProperties.has_value());
        QCOMPARE(item.path(), path);
    }

    void sizeIsTheAllocatedSizeNotTheLength()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("sizes"));
        for (const qsizetype length : {qsizetype(1), qsizetype(5000), qsizetype(70000)}) {
            const QString path = lg::test::writeFile(folder + QStringLiteral("/f%1.png").arg(length),
                                                     QByteArray(length, 'a'));
            const InitialDirectory item = Metadata::init(QUrl::fromLocalFile(path));
            QVERIFY(item.file.has_value());
            QCOMPARE(item.file->size, double(statOf(path).st_blocks) * 512.0);
            QCOMPARE(std::fmod(item.file->size, 512.0), 0.0);
        }
        // A file with a hole occupies less than its length.
        const QString sparse = folder + QStringLiteral("/sparse.mov");
        QFile file(sparse);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(8 * 1024 * 1024));
        file.close();
        const InitialDirectory item = Metadata::init(QUrl::fromLocalFile(sparse));
        QVERIFY(item.file.has_value());
        QVERIFY(item.file->size < 8.0 * 1024 * 1024);
        QCOMPARE(item.file->size, double(statOf(sparse).st_blocks) * 512.0);
    }

    void vanishedPathKeepsTheUrlOnly()
    {
        const QString path = lg::test::freshFolder(QStringLiteral("gone")) + QStringLiteral("/missing.jpg");
        const QUrl url = QUrl::fromLocalFile(path);

        lg::test::CaptureStdout capture;
        const InitialDirectory item = Metadata::init(url);
        const QByteArray printed = capture.finish();

        QCOMPARE(printed, QByteArray("Error reading file attributes\n"));
        QCOMPARE(item.url, std::optional<QUrl>(url));
        QVERIFY(!item.file.has_value());
        QVERIFY(!item.isImage);
        QVERIFY(!item.state);

        // A link whose target is gone cannot be read either.
        const QString folder = lg::test::freshFolder(QStringLiteral("dangling"));
        QVERIFY(QFile::link(folder + QStringLiteral("/nowhere.jpg"), folder + QStringLiteral("/link.jpg")));
        lg::test::CaptureStdout capture2;
        const InitialDirectory linked = Metadata::init(QUrl::fromLocalFile(folder + QStringLiteral("/link.jpg")));
        QCOMPARE(capture2.finish(), QByteArray("Error reading file attributes\n"));
        QVERIFY(!linked.file.has_value());
    }

};

LG_TEST(MediaRecordsTest)
#include "test_mediarecords.moc"
