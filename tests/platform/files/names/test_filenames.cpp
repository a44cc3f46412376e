// Paths that keep the bytes of names that are not valid UTF-8.
#include <glib.h>  // before Qt: GLib names a member "signals"

#include "platform/files/names/FileNames.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QScopeGuard>

#include <sys/stat.h>
#include <unistd.h>

class FileNamesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bytesComeBackAsTheyWere_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("raw");
        QTest::newRow("ASCII") << QByteArray("/p/a b.jpg") << false;
        QTest::newRow("UTF-8 letters") << QByteArray("/p/caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7.jpg") << false;
        QTest::newRow("U+FFFD itself") << QByteArray("/p/bad\xef\xbf\xbd.jpg") << false;
        QTest::newRow("a lone 0xFF") << QByteArray("/p/bad\xff.jpg") << true;
        QTest::newRow("a lone continuation") << QByteArray("/p/\x80.jpg") << true;
        QTest::newRow("Latin-1") << QByteArray("/p/caf\xe9 \xe0 la cr\xe8me.jpg") << true;
        QTest::newRow("too long a form of '/'") << QByteArray("/p/a\xc0\xaf" "b.jpg") << true;
        QTest::newRow("an encoded surrogate") << QByteArray("/p/\xed\xb3\xbf.jpg") << true;
        QTest::newRow("past U+10FFFF") << QByteArray("/p/\xf4\x90\x80\x80.jpg") << true;
        QTest::newRow("cut short at the end") << QByteArray("/p/a.jp\xe2\x82") << true;
        QTest::newRow("valid after invalid") << QByteArray("/p/\xff\xc3\xa9\xfe.jpg") << true;
    }
    void bytesComeBackAsTheyWere()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, raw);
        const QString path = lg::FileNames::fromNative(bytes);
        QCOMPARE(lg::FileNames::toNative(path), bytes);
        QCOMPARE(lg::FileNames::hasRawBytes(path), raw);
        // Valid names read as Qt reads them; the others never as the name Qt
        // makes of them, which is a look-alike's.
        if (!raw)
            QCOMPARE(path, QFile::decodeName(bytes));
        else
            QVERIFY(path != QFile::decodeName(bytes));
        const QString shown = lg::FileNames::shown(path);
        QVERIFY(!lg::FileNames::hasRawBytes(shown));
        QCOMPARE(shown.contains(QChar::ReplacementCharacter), raw || bytes.contains("\xef\xbf\xbd"));

        // The URL keeps the bytes, as GLib escapes them, and gives the path back.
        const QUrl url = lg::FileNames::urlOf(path);
        QCOMPARE(lg::FileNames::pathOf(url), path);
        char *glibUri = g_filename_to_uri(bytes.constData(), nullptr, nullptr);
        QVERIFY(glibUri);
        QCOMPARE(QString::fromLatin1(url.toEncoded()).toLower(), QString::fromLatin1(glibUri).toLower());
        g_free(glibUri);
        if (raw)
            QVERIFY(url != QUrl::fromLocalFile(QFile::decodeName(bytes)));
    }

    // The looks at the disk find the name itself, never its look-alike.
    void theDiskIsAskedByTheBytes()
    {
        const QByteArray base = QFile::encodeName(lg::test::freshFolder(QStringLiteral("onDisk")));
        const QByteArray stray = base + "/caf\xe9";
        const QByteArray lookAlike = base + "/caf\xef\xbf\xbd";
        const auto cleanup = qScopeGuard([stray] { ::rmdir(stray.constData()); });
        QCOMPARE(::mkdir(lookAlike.constData(), 0700), 0);
        const QString strayPath = lg::FileNames::fromNative(stray);
        QVERIFY(!lg::FileNames::exists(strayPath));
        QVERIFY(!lg::FileNames::isFolder(strayPath));
        QVERIFY(lg::FileNames::canonical(strayPath).isEmpty());
        QCOMPARE(::mkdir(stray.constData(), 0700), 0);
        QVERIFY(lg::FileNames::exists(strayPath));
        QVERIFY(lg::FileNames::isFolder(strayPath));
        QCOMPARE(lg::FileNames::toNative(lg::FileNames::canonical(strayPath + QStringLiteral("/."))),
                 lg::FileNames::toNative(lg::FileNames::canonical(lg::FileNames::fromNative(base))) + "/caf\xe9");
        QVERIFY(!lg::FileNames::isFolder(lg::FileNames::fromNative(base + "/absent")));
    }

    void aSurrogatePairIsNotTakenForBytes()
    {
        const QString pair = QStringLiteral("/p/") + QChar(0xD83D) + QChar(0xDCF7);  // one character
        QVERIFY(!lg::FileNames::hasRawBytes(pair));
        QCOMPARE(lg::FileNames::toNative(pair), QByteArray("/p/\xf0\x9f\x93\xb7"));
    }
};

LG_TEST(FileNamesTest)
#include "test_filenames.moc"
