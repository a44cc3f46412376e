// The one flow of a file command: what an answer covers, the check right
// before acting, and the words that reach the window.
#include "model/FileCommandFlow.h"
#include "platform/desktop/Alert.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/operations/Trash.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QFile>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A screen that only records what the flow hands it.
struct Screen
{
    QObject owner;
    bool ended = false;
    int passes = 0;
    QList<lg::FileOpResult> settled;

    FileCommandScreen part()
    {
        FileCommandScreen screen;
        screen.owner = &owner;
        screen.settled = [this](const QList<lg::FileOpResult> &results, const std::any &) { settled += results; };
        screen.passDone = [this] { ++passes; };
        screen.ended = [this] { ended = true; };
        return screen;
    }
};

bool runToTheEnd(Screen &screen, FileCommandRequest request)
{
    runFileCommand(screen.part(), std::move(request));
    return QTest::qWaitFor([&screen] { return screen.ended; }, 10000);
}

// Writes bytes over path as another program does: a new file renamed over it.
void writeAnew(const QString &path, const QByteArray &bytes)
{
    const QString beside = path + QStringLiteral(".other");
    lg::test::writeFile(beside, bytes);
    QVERIFY(::rename(QFile::encodeName(beside).constData(), QFile::encodeName(path).constData()) == 0);
}

// The files below folder, by their paths inside it, sorted.
QStringList filesBelow(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(QDir(folder).relativeFilePath(it.next()));
    found.sort();
    return found;
}

QStringList titlesShown()
{
    QStringList titles;
    for (const lg::AlertSpec &spec : lg::Alert::shownAlerts())
        titles.append(spec.title);
    return titles;
}

} // namespace

class FileCommandFlowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        lg::Alert::setResponder({});
        lg::Alert::clearShownAlerts();
    }

    // "Replace" covers what the destination held when the question was put:
    // a target written anew meanwhile (the grid already shows the new picture)
    // is asked about again, never destroyed; one left alone is replaced; one
    // that went is taken without a question.
    void replaceCoversOnlyWhatTheTargetHeldWhenAsked_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QByteArray>("ends");
        QTest::addColumn<int>("asked");
        QTest::newRow("nothing") << "nothing" << QByteArray("chosen") << 1;
        QTest::newRow("written anew") << "written anew" << QByteArray("newer") << 2;
        QTest::newRow("changed in place") << "changed in place" << QByteArray("old+") << 2;
        QTest::newRow("gone") << "gone" << QByteArray("chosen") << 1;
    }
    void replaceCoversOnlyWhatTheTargetHeldWhenAsked()
    {
        QFETCH(QString, meanwhile);
        QFETCH(QByteArray, ends);
        QFETCH(int, asked);
        const QString from = lg::test::freshFolder(QStringLiteral("replace-from"));
        const QString to = lg::test::freshFolder(QStringLiteral("replace-to"));
        const QString source = lg::test::writeFile(from + QStringLiteral("/b.jpg"), "chosen");
        const QString target = lg::test::writeFile(to + QStringLiteral("/b.jpg"), "old");
        lg::test::writeFile(from + QStringLiteral("/a.jpg"), "a");
        int questions = 0;
        lg::Alert::setResponder([&](const lg::AlertSpec &spec) {
            if (spec.title != QLatin1String("File already exists"))
                return 0;
            if (++questions > 1)
                return 2;   // Stop
            if (meanwhile == QLatin1String("written anew")) {
                writeAnew(target, "newer");
            } else if (meanwhile == QLatin1String("changed in place")) {
                QFile file(target);
                if (file.open(QIODevice::Append))
                    file.write("+");
            } else if (meanwhile == QLatin1String("gone")) {
                QFile::remove(target);
            }
            return 0;   // Replace
        });
        FileCommandRequest request;
        request.kind = lg::FileOpKind::Copy;
        request.chosen = chooseItems({from + QStringLiteral("/a.jpg"), source});
        request.targetFolder = to;
        Screen screen;
        QVERIFY(runToTheEnd(screen, request));
        QCOMPARE(questions, asked);
        QCOMPARE(lg::test::readAll(target), ends);
        QCOMPARE(lg::test::readAll(to + QStringLiteral("/a.jpg")), QByteArray("a"));
        QCOMPARE(QDir(to).entryList(QDir::Files), (QStringList{"a.jpg", "b.jpg"}));
        QCOMPARE(lg::test::readAll(source), QByteArray("chosen"));
        QVERIFY(!titlesShown().contains(QStringLiteral("Some items could not be processed.")));
    }

    // A folder asked about is bound with what it held: Replace of a folder
    // whose entries changed while the question was open asks again (and
    // "Stop" keeps all of it, also what was never asked about); a folder to
    // be trashed that changed meanwhile is refused, and stays whole.
    void aFolderAskedAboutCoversWhatItHeld_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("meanwhile");
        for (const char *command : {"Replace", "Trash"}) {
            for (const char *meanwhile : {"nothing", "a file written into it", "a file deep inside written to",
                                          "a file taken out", "a file renamed"})
                QTest::addRow("%s, %s", command, meanwhile) << QString::fromLatin1(command)
                                                             << QString::fromLatin1(meanwhile);
        }
    }
    void aFolderAskedAboutCoversWhatItHeld()
    {
        QFETCH(QString, command);
        QFETCH(QString, meanwhile);
        const bool replace = command == QLatin1String("Replace");
        const QString from = lg::test::freshFolder(QStringLiteral("held-from"));
        const QString to = lg::test::freshFolder(QStringLiteral("held-to"));
        const QString album = to + QStringLiteral("/Album");
        lg::test::writeFile(from + QStringLiteral("/Album/new.jpg"), "new");
        const QString deep = lg::test::writeFile(album + QStringLiteral("/Day1/old.jpg"), "old");
        const QString late = album + QStringLiteral("/late.jpg");
        const auto actMeanwhile = [&] {
            if (meanwhile == QLatin1String("a file written into it")) {
                lg::test::writeFile(late, "never asked about");
            } else if (meanwhile == QLatin1String("a file deep inside written to")) {
                QFile file(deep);
                if (file.open(QIODevice::Append))
                    file.write("+");
            } else if (meanwhile == QLatin1String("a file taken out")) {
                QFile::rename(deep, to + QStringLiteral("/old.jpg"));
            } else if (meanwhile == QLatin1String("a file renamed")) {
                QFile::rename(deep, album + QStringLiteral("/Day1/older.jpg"));
            }
        };
        int asked = 0;
        lg::Alert::setResponder([&](const lg::AlertSpec &spec) {
            if (spec.title == QLatin1String("File already exists") || spec.title == QLatin1String("Sure?")) {
                if (++asked > 1)
                    return 2;   // Stop
                actMeanwhile();
            }
            return 0;
        });
        FileCommandRequest request;
        if (replace) {
            request.kind = lg::FileOpKind::Copy;
            request.chosen = chooseItems({from + QStringLiteral("/Album")});
            request.targetFolder = to;
        } else {
            request.kind = lg::FileOpKind::Trash;
            request.chosen = chooseItems({album});
            request.confirmation = lg::AlertSpec{QStringLiteral("Sure?"), {}, {QStringLiteral("Yes")}};
        }
        Screen screen;
        QVERIFY(runToTheEnd(screen, request));
        const bool leftAlone = meanwhile == QLatin1String("nothing");
        if (leftAlone) {
            QCOMPARE(asked, 1);
            if (replace)
                QCOMPARE(filesBelow(album), QStringList{QStringLiteral("new.jpg")});
            else
                QVERIFY(!QFileInfo::exists(album));
            QVERIFY(!titlesShown().contains(QStringLiteral("Some items could not be processed.")));
            return;
        }
        // Nothing of what the folder holds now was removed or moved.
        QVERIFY(QFileInfo(album).isDir());
        if (meanwhile == QLatin1String("a file written into it"))
            QCOMPARE(lg::test::readAll(late), QByteArray("never asked about"));
        QVERIFY(!QFileInfo::exists(album + QStringLiteral("/new.jpg")));
        if (replace) {
            QCOMPARE(asked, 2);   // asked again, and stopped
        } else {
            QCOMPARE(asked, 1);
            const QString said = lg::Alert::shownAlerts().last().text;
            QVERIFY2(said.contains(QStringLiteral("Album")) && said.contains(QStringLiteral("changed since")),
                     qPrintable(said));
        }
    }

    // What a folder holds is read to a bound: beyond it, it cannot be vouched
    // for, and neither a Replace of it nor its Trash goes ahead.
    void aFolderBeyondTheBoundIsRefused()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("bound"));
        for (int i = 0; i < 3; ++i)
            lg::test::writeFile(folder + QStringLiteral("/Sub/%1.jpg").arg(i));
        const std::optional<FolderContents> whole = folderContents(folder, 4);
        QVERIFY(whole && whole->complete);
        QCOMPARE(whole->entries.size(), 4);
        QVERIFY(whole->entries.contains("Sub/2.jpg"));
        QVERIFY(holdsTheSame(*whole, *folderContents(folder)));
        const std::optional<FolderContents> cut = folderContents(folder, 3);
        QVERIFY(cut && !cut->complete);
        QVERIFY(!holdsTheSame(*cut, *cut));
        QVERIFY(!folderContents(folder + QStringLiteral("/Sub/0.jpg")));

        ChosenItem chosen{folder, lg::fileIdentity(folder), cut};
        const SourceNow trashed = sourceNow(chosen, ChosenWhen::ForTrash);
        QVERIFY(trashed.refusal);
        QCOMPARE(trashed.refusal->message, tooManyToCheckMessage());
        QVERIFY(tooManyToCheckMessage().contains(QString::number(folderContentsBound)));

        const QString from = lg::test::freshFolder(QStringLiteral("bound-from"));
        lg::test::writeFile(from + QStringLiteral("/bound/new.jpg"));
        lg::FileBatch batch(lg::FileOpKind::Copy, QFileInfo(folder).absolutePath());
        const QString source = from + QStringLiteral("/bound");
        const Clash clash{{source, lg::fileIdentity(source)}, folder, lg::fileIdentity(folder), cut};
        const FileCommandPass replaced = runTransferPass(batch, {clash}, lg::ConflictPolicy::Replace, false);
        QCOMPARE(replaced.refused.size(), 1);
        QCOMPARE(replaced.refused.first().message, tooManyToCheckMessage());
        QVERIFY(replaced.results.isEmpty());
        QCOMPARE(filesBelow(folder).size(), 3);
    }

    // Right before acting, the chosen file is looked at again: still the
    // same, it is acted on; renamed within its folder, it is followed; also
    // written to, or replaced, or gone, it is refused in the words that say so.
    void theCheckBeforeActingFollowsARenameAndRefusesAChange_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("actedOn");    // the name acted on, empty: refused
        QTest::addColumn<QString>("refusal");
        QTest::newRow("nothing") << "nothing" << "b.jpg" << QString();
        QTest::newRow("renamed") << "renamed" << "b2.jpg" << QString();
        QTest::newRow("renamed and written to") << "renamed and written to" << QString()
                                                << "The item was changed since it was opened.";
        QTest::newRow("replaced") << "replaced" << QString() << "The item was replaced since it was opened.";
        QTest::newRow("gone") << "gone" << QString() << "The item no longer exists.";
    }
    void theCheckBeforeActingFollowsARenameAndRefusesAChange()
    {
        QFETCH(QString, meanwhile);
        QFETCH(QString, actedOn);
        QFETCH(QString, refusal);
        const QString folder = lg::test::freshFolder(QStringLiteral("check"));
        const QString path = lg::test::writeFile(folder + QStringLiteral("/b.jpg"), "picture");
        const ChosenItem chosen{path, lg::fileIdentity(path)};
        QVERIFY(chosen.identity);
        const QString renamed = folder + QStringLiteral("/b2.jpg");
        if (meanwhile.startsWith(QLatin1String("renamed")))
            QVERIFY(QFile::rename(path, renamed));
        if (meanwhile == QLatin1String("renamed and written to")) {
            QFile file(renamed);
            QVERIFY(file.open(QIODevice::Append));
            file.write("+");
        }
        if (meanwhile == QLatin1String("replaced"))
            writeAnew(path, "picture");
        if (meanwhile == QLatin1String("gone"))
            QVERIFY(QFile::remove(path));
        const SourceNow now = sourceNow(chosen, ChosenWhen::ForTrash);
        if (actedOn.isEmpty()) {
            QVERIFY(now.refusal);
            QCOMPARE(now.refusal->message, refusal);
        } else {
            QVERIFY2(!now.refusal, qPrintable(now.refusal ? now.refusal->message : QString()));
            QCOMPARE(now.item.path, folder + QLatin1Char('/') + actedOn);
        }
    }

    // Move to Trash, asked first: the file renamed while the question is open
    // goes under its new name; one replaced meanwhile stays, and the refusal
    // is said in the window with the name that cannot be acted on, in one
    // alert; "No" does nothing.
    void trashAfterItsQuestionFollowsARenameAndSaysEveryRefusal()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("trashflow"));
        const QString renamedOne = lg::test::writeFile(folder + QStringLiteral("/b.jpg"), "b");
        const QString replacedOne = lg::test::writeFile(folder + QStringLiteral("/c.jpg"), "c");
        const QString raw = lg::FileNames::fromNative(lg::FileNames::toNative(folder) + "/caf\xe9.jpg");
        FileCommandRequest request;
        request.kind = lg::FileOpKind::Trash;
        request.chosen = chooseItems({renamedOne, replacedOne, raw});
        QCOMPARE(request.chosen.refused.size(), 1);   // the name that is not text, said first
        lg::AlertSpec question;
        question.title = QStringLiteral("Are you sure?");
        question.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
        request.confirmation = question;
        lg::Alert::setResponder([&](const lg::AlertSpec &spec) {
            if (spec.title == QLatin1String("Are you sure?")) {
                QFile::rename(renamedOne, folder + QStringLiteral("/b2.jpg"));
                writeAnew(replacedOne, "c");
            }
            return 0;
        });
        Screen screen;
        QVERIFY(runToTheEnd(screen, request));
        QCOMPARE(titlesShown(), (QStringList{"Some items could not be processed.", "Are you sure?",
                                             "Some items could not be processed."}));
        QVERIFY(lg::Alert::shownAlerts().first().text.contains(QStringLiteral("caf\uFFFD.jpg")));
        const QString said = lg::Alert::shownAlerts().last().text;
        QVERIFY2(said.contains(QStringLiteral("c.jpg")) && said.contains(QStringLiteral("replaced since")),
                 qPrintable(said));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"c.jpg"});
        QCOMPARE(lg::test::readAll(lg::trashFolderFor(folder) + QStringLiteral("/files/b2.jpg")), QByteArray("b"));
        QCOMPARE(screen.passes, 1);

        // "No": nothing is run, nothing more is said.
        lg::Alert::clearShownAlerts();
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 1; });
        request.chosen = chooseItems({replacedOne});
        Screen declined;
        QVERIFY(runToTheEnd(declined, request));
        QCOMPARE(titlesShown(), QStringList{"Are you sure?"});
        QCOMPARE(declined.passes, 0);
        QVERIFY(QFile::exists(replacedOne));
    }

    // Replace is offered unless every clash is the item itself, told by
    // identity (a folder named two ways is still the same folder).
    void replaceIsOfferedUnlessEveryClashIsTheItemItself()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("offered"));
        const QString path = lg::test::writeFile(folder + QStringLiteral("/x.jpg"));
        const QString other = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("offered2")) + "/x.jpg");
        const Clash itself{{path, lg::fileIdentity(path)}, path, lg::fileIdentity(path)};
        const Clash throughAnotherSpelling{{path, lg::fileIdentity(path)}, folder + QStringLiteral("/./x.jpg"),
                                           lg::fileIdentity(folder + QStringLiteral("/./x.jpg"))};
        const Clash another{{other, lg::fileIdentity(other)}, path, lg::fileIdentity(path)};
        QVERIFY(!offersReplace({itself}));
        QVERIFY(!offersReplace({itself, throughAnotherSpelling}));
        QVERIFY(offersReplace({itself, another}));
    }

    // The words: refusals and failures in one warning; items that arrived
    // without what they held as information; nothing when all went well. A
    // name that is not text is said with U+FFFD.
    void theWordsOfACommand()
    {
        lg::FileOpResult done;
        done.source = QStringLiteral("/p/a.jpg");
        QVERIFY(!commandAlert({done}, lg::FileOpKind::Copy));
        lg::FileOpResult notKept = done;
        notKept.attributesNotKept = {QStringLiteral("/q/a.jpg")};
        const std::optional<lg::AlertSpec> information = commandAlert({notKept}, lg::FileOpKind::Copy);
        QVERIFY(information);
        QCOMPARE(information->style, lg::AlertSpec::Style::Informational);
        lg::FileOpResult refused;
        refused.error = lg::FileOpError::Other;
        refused.source = lg::FileNames::fromNative("/p/caf\xe9.jpg");
        refused.message = QStringLiteral("The item was changed since it was opened.");
        const std::optional<lg::AlertSpec> warning = commandAlert({refused, notKept}, lg::FileOpKind::Move);
        QVERIFY(warning);
        QCOMPARE(warning->style, lg::AlertSpec::Style::Warning);
        QCOMPARE(warning->title, QStringLiteral("Some items could not be processed."));
        QCOMPARE(warning->buttons, QStringList{QStringLiteral("OK")});
        QVERIFY2(warning->text.contains(QStringLiteral("caf\uFFFD.jpg")), qPrintable(warning->text));
    }

    // The command ends quietly when its screen goes while a question is open.
    void aCommandWhoseScreenWentEndsQuietly()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("screenwent"));
        const QString path = lg::test::writeFile(folder + QStringLiteral("/b.jpg"));
        auto screen = std::make_unique<Screen>();
        bool ended = false;
        FileCommandScreen part = screen->part();
        part.ended = [&ended] { ended = true; };
        lg::Alert::setResponder([&screen](const lg::AlertSpec &) {
            screen.reset();
            return 0;
        });
        FileCommandRequest request;
        request.kind = lg::FileOpKind::Trash;
        request.chosen = chooseItems({path});
        request.confirmation = lg::AlertSpec{QStringLiteral("Sure?"), {}, {QStringLiteral("Yes")}};
        runFileCommand(part, request);
        QTRY_VERIFY(ended);
        QVERIFY(QFile::exists(path));
    }
};

LG_TEST(FileCommandFlowTest)
#include "test_filecommandflow.moc"
