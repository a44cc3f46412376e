// The clipboard in file managers' own bytes, and the desktop calls (file
// manager, applications, desktop picture) seen through a recording runner.
#include "platform/desktop/Alert.h"
#include "platform/desktop/Clipboard.h"
#include "platform/desktop/Workspace.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>

#include <cerrno>
#include <memory>
#include <unistd.h>

namespace {

// Records every call; answers from a table of program -> (ok, output).
struct Recorder
{
    QList<lg::ExternalCall> calls;
    std::function<bool(const lg::ExternalCall &)> answer = [](const lg::ExternalCall &) { return true; };
    QString output;

    Recorder()
    {
        lg::Workspace::setRunnerForTesting([this](const lg::ExternalCall &call, QString *error) {
            calls.append(call);
            if (call.output)
                *call.output = output;
            const bool ok = answer(call);
            if (!ok)
                *error = QStringLiteral("refused by the test");
            return ok;
        });
    }
    ~Recorder() { lg::Workspace::setRunnerForTesting({}); }
    QStringList commandLines() const
    {
        QStringList lines;
        for (const lg::ExternalCall &c : calls)
            lines << (QStringList{c.program} + c.arguments).join(QLatin1Char(' '));
        return lines;
    }
};

} // namespace

class DesktopLayersTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // ---- Clipboard ----
    void clipboardReadsWhatFileManagersWrite_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("extraFormat");
        QTest::addColumn<QByteArray>("extraBytes");
        QTest::addColumn<bool>("cut");
        const QByteArray two = "file:///home/u/a%20b.jpg\nfile:///home/u/c.png";
        QTest::newRow("GNOME Files copy") << "x-special/gnome-copied-files" << QByteArray("copy\n" + two) << ""
                                          << QByteArray() << false;
        QTest::newRow("GNOME Files cut") << "x-special/gnome-copied-files" << QByteArray("cut\n" + two + "\n") << ""
                                         << QByteArray() << true;
        QTest::newRow("Dolphin copy") << "text/uri-list"
                                      << QByteArray("file:///home/u/a%20b.jpg\r\nfile:///home/u/c.png\r\n") << ""
                                      << QByteArray() << false;
        QTest::newRow("Dolphin cut") << "text/uri-list"
                                     << QByteArray("file:///home/u/a%20b.jpg\r\nfile:///home/u/c.png\r\n")
                                     << "application/x-kde-cutselection" << QByteArray("1") << true;
        QTest::newRow("others passed over")
            << "text/uri-list"
            << QByteArray("# comment\r\nhttps://example.com/x.jpg\r\nfile://elsewhere/y.jpg\r\n"
                          "file:///home/u/x/../a%20b.jpg\r\nfile:///home/u/c.png\r\nfile:///home/u/c.png\r\n")
            << "" << QByteArray() << false;
    }
    void clipboardReadsWhatFileManagersWrite()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, extraFormat);
        QFETCH(QByteArray, extraBytes);
        QFETCH(bool, cut);
        QMimeData data;
        data.setData(format, bytes);
        if (!extraFormat.isEmpty())
            data.setData(extraFormat, extraBytes);
        const lg::FileClip clip = lg::Clipboard::readFiles(&data);
        QCOMPARE(clip.cut, cut);
        QCOMPARE(clip.urls, (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/home/u/a b.jpg")),
                                         QUrl::fromLocalFile(QStringLiteral("/home/u/c.png"))}));
        QVERIFY(lg::Clipboard::holdsFileWithExtension(&data, {QStringLiteral("png")}));
        QVERIFY(!lg::Clipboard::holdsFileWithExtension(&data, {QStringLiteral("gif")}));
    }

    void plainFileURLsAreReadWithoutAQUrlEach_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("path");   // empty: left to QUrl's strict parser
        QTest::newRow("plain") << QByteArray("file:///home/u/a.jpg") << "/home/u/a.jpg";
        QTest::newRow("escapes and UTF-8") << QByteArray("FILE:///tmp/a%20b%C3%A9.jpg\r") << "/tmp/a b\u00e9.jpg";
        QTest::newRow("localhost, dots") << QByteArray("file://localhost/home/u/x/..//a.jpg") << "/home/u/a.jpg";
        QTest::newRow("escaped slash and dots") << QByteArray("file:///home/%2E%2E/a%2Fb.jpg") << "/a/b.jpg";
        QTest::newRow("another host") << QByteArray("file://elsewhere/a.jpg") << "";
        QTest::newRow("broken escape") << QByteArray("file:///tmp/%ZZ.jpg") << "";
        QTest::newRow("short escape") << QByteArray("file:///tmp/a%2") << "";
        QTest::newRow("NUL") << QByteArray("file:///tmp/a%00.jpg") << "";
        QTest::newRow("raw space") << QByteArray("file:///tmp/a b.jpg") << "";
        QTest::newRow("query") << QByteArray("file:///tmp/a.jpg?x") << "";
        QTest::newRow("web") << QByteArray("https://example.com/a.jpg") << "";
        QTest::newRow("relative") << QByteArray("file:a.jpg") << "";
    }
    void plainFileURLsAreReadWithoutAQUrlEach()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, path);
        const std::optional<QString> read = lg::Clipboard::plainFileURLPath(line);
        QCOMPARE(read.value_or(QString()), path);
        // What it reads, QUrl reads the same way.
        if (read)
            QCOMPARE(*read, QDir::cleanPath(QUrl(QString::fromUtf8(line.trimmed()), QUrl::StrictMode)
                                                .path(QUrl::FullyDecoded)));
    }

    void clipboardWritesTheBytesFileManagersRead()
    {
        const QList<QUrl> urls{QUrl::fromLocalFile(QStringLiteral("/tmp/a b.jpg")),
                               QUrl::fromLocalFile(QStringLiteral("/tmp/é.png"))};
        std::unique_ptr<QMimeData> copy(lg::Clipboard::mimeDataForFiles(urls));
        QCOMPARE(copy->data(QStringLiteral("x-special/gnome-copied-files")),
                 QByteArray("copy\nfile:///tmp/a%20b.jpg\nfile:///tmp/%C3%A9.png"));
        QCOMPARE(copy->data(QStringLiteral("text/uri-list")),
                 QByteArray("file:///tmp/a%20b.jpg\r\nfile:///tmp/%C3%A9.png\r\n"));
        QVERIFY(!copy->hasFormat(QStringLiteral("application/x-kde-cutselection")));
        std::unique_ptr<QMimeData> cut(lg::Clipboard::mimeDataForFiles(urls, true));
        QVERIFY(cut->data(QStringLiteral("x-special/gnome-copied-files")).startsWith("cut\nfile:///tmp/a%20b.jpg"));
        QCOMPARE(cut->data(QStringLiteral("application/x-kde-cutselection")), QByteArray("1"));

        lg::Clipboard::writeFiles(urls, true);
        const lg::FileClip back = lg::Clipboard::readFiles();
        QCOMPARE(back.urls, urls);
        QVERIFY(back.cut);
        lg::Clipboard::writeFiles({});
        QVERIFY(lg::Clipboard::readFiles().urls.isEmpty());
    }

    // ---- Workspace ----
    void desktopPictureCallsPerDesktop_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QStringList>("lines");
        const QString uri = QStringLiteral("file:///pics/a%20b.jpg");
        const QStringList gnome{"gsettings set org.gnome.desktop.background picture-uri " + uri,
                                "gsettings set org.gnome.desktop.background picture-uri-dark " + uri};
        QTest::newRow("GNOME") << "GNOME" << gnome;
        QTest::newRow("Ubuntu") << "ubuntu:GNOME" << gnome;
        QTest::newRow("Cinnamon") << "X-Cinnamon"
                                  << QStringList{"gsettings set org.cinnamon.desktop.background picture-uri " + uri};
        QTest::newRow("MATE") << "MATE"
                              << QStringList{"gsettings set org.mate.background picture-filename /pics/a b.jpg"};
        QTest::newRow("XFCE lists first") << "XFCE" << QStringList{"xfconf-query -c xfce4-desktop -l"};
        QTest::newRow("unknown") << "LXQt" << QStringList{};
    }
    void desktopPictureCallsPerDesktop()
    {
        QFETCH(QString, desktop);
        QFETCH(QStringList, lines);
        QStringList made;
        for (const lg::ExternalCall &c : lg::Workspace::desktopPictureCalls(desktop, QStringLiteral("/pics/a b.jpg"))) {
            QCOMPARE(c.kind, lg::ExternalCall::Kind::Process);
            QCOMPARE(c.optional, c.arguments.contains(QStringLiteral("picture-uri-dark")));
            made << (QStringList{c.program} + c.arguments).join(QLatin1Char(' '));
        }
        QCOMPARE(made, lines);
    }

    void desktopPictureOnPlasmaAndXfce()
    {
        const QString picture = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("wall")) + "/it's \"x\".png");
        const auto plasma = lg::Workspace::desktopPictureCalls(QStringLiteral("KDE"), picture);
        QCOMPARE(plasma.size(), 1);
        const QString script = plasma[0].dbusArguments.value(0).toString();
        QVERIFY2(script.contains(QStringLiteral("d.writeConfig(\"Image\", \"")
                                 + QString::fromUtf8(QUrl::fromLocalFile(picture).toEncoded()) + "\")"),
                 qPrintable(script));

        lg::Workspace::setDesktopForTesting(QStringLiteral("XFCE"));
        Recorder recorder;
        recorder.output = QStringLiteral("/backdrop/screen0/monitorHDMI-1/workspace0/last-image\n"
                                         "/backdrop/screen0/monitorHDMI-1/workspace0/image-style\n"
                                         "/backdrop/screen0/monitoreDP-1/workspace1/last-image\n");
        QString error;
        QVERIFY2(lg::Workspace::setDesktopPicture(picture, &error), qPrintable(error));
        QCOMPARE(recorder.commandLines(),
                 (QStringList{"xfconf-query -c xfce4-desktop -l",
                              "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitorHDMI-1/workspace0/last-image -s " + picture,
                              "xfconf-query -c xfce4-desktop -p /backdrop/screen0/monitoreDP-1/workspace1/last-image -s " + picture}));

        // A failed call is reported; a failed optional key is passed over.
        lg::Workspace::setDesktopForTesting(QStringLiteral("GNOME"));
        recorder.calls.clear();
        recorder.answer = [](const lg::ExternalCall &c) { return !c.arguments.contains(QStringLiteral("picture-uri-dark")); };
        QVERIFY(lg::Workspace::setDesktopPicture(picture, &error));
        QCOMPARE(recorder.calls.size(), 2);
        recorder.answer = [](const lg::ExternalCall &) { return false; };
        QVERIFY(!lg::Workspace::setDesktopPicture(picture, &error));
        QVERIFY(error.startsWith(QStringLiteral("The desktop picture could not be set")));
        lg::Workspace::setDesktopForTesting(QStringLiteral("LXQt"));
        QVERIFY(!lg::Workspace::setDesktopPicture(picture, &error));
        QVERIFY(error.contains(QStringLiteral("LXQt")));
        lg::Workspace::setDesktopForTesting(std::nullopt);
    }

    void fileManagerCallsFallBack()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("reveal"));
        const QString file = lg::test::writeFile(folder + "/r.jpg", "jpg");
        Recorder recorder;
        recorder.answer = [](const lg::ExternalCall &c) { return c.kind != lg::ExternalCall::Kind::DBus; };
        QVERIFY(lg::Workspace::revealInFileManager({file}));
        QCOMPARE(recorder.calls.size(), 2);
        const lg::ExternalCall &show = recorder.calls[0];
        QCOMPARE(show.dbusArguments, (QVariantList{QStringList{QUrl::fromLocalFile(file).toString()}, QString()}));
        QCOMPARE(recorder.calls[1].kind, lg::ExternalCall::Kind::Application);
        QCOMPARE(recorder.calls[1].arguments, QStringList{QUrl::fromLocalFile(folder).toString()});

        // Neither works (no file manager): the reason is said in one alert.
        recorder.answer = [](const lg::ExternalCall &) { return false; };
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::Workspace::showInFileManager({file}, nullptr);
        const QList<lg::AlertSpec> said = lg::Alert::shownAlerts();
        lg::Alert::setResponder({});
        QCOMPARE(said.size(), 1);
        QCOMPARE(said.first().title, QStringLiteral("\u201Cr.jpg\u201D could not be shown in the File Manager."));
        QCOMPARE(said.first().text, QStringLiteral("refused by the test"));

        QWidget parent;
        lg::Workspace::showProperties({file}, &parent);
        QCOMPARE(recorder.calls.last().arguments.value(2), QStringLiteral("ShowItemProperties"));
        auto *window = parent.findChild<QDialog *>(QStringLiteral("propertiesWindow"));
        QVERIFY(window);
        QVERIFY(window->findChild<QLabel *>(QStringLiteral("propertySize"))->text().contains(QStringLiteral("3 bytes")));
    }

    void applicationsComeFromTheDesktopEntries()
    {
        const QString apps = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications");
        lg::test::writeFile(apps + "/lgviewer.desktop",
                            "[Desktop Entry]\nType=Application\nName=LG Viewer\nExec=true %U\nMimeType=image/png;\n");
        lg::test::writeFile(apps + "/mimeinfo.cache", "[MIME Cache]\nimage/png=lgviewer.desktop;\n");
        const QString png = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("apps")) + "/p.png", "\x89PNG\r\n");
        const QList<lg::ApplicationInfo> found = lg::Workspace::applicationsFor(png);
        QVERIFY(!found.isEmpty());
        QCOMPARE(found.first().id, QStringLiteral("lgviewer.desktop"));
        QCOMPARE(found.first().name, QStringLiteral("LG Viewer"));
    }
};

LG_TEST(DesktopLayersTest)
#include "test_desktoplayers.moc"
