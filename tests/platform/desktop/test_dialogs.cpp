// Alerts and open/save panels: responders, asynchronous answers, and what the
// real dialogs are made of.
#include "platform/desktop/Alert.h"
#include "platform/runtime/Dispatch.h"
#include "platform/desktop/Panels.h"
#include "tests/support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <optional>

namespace {

template <typename T>
QList<T *> visibleTopLevels()
{
    QList<T *> found;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *typed = qobject_cast<T *>(w); typed && typed->isVisible())
            found.append(typed);
    }
    return found;
}

// Button texts from left to right as laid out.
QStringList buttonTextsLeftToRight(QMessageBox *box)
{
    QList<QAbstractButton *> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(), [](QAbstractButton *a, QAbstractButton *b) {
        return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
    });
    QStringList texts;
    for (QAbstractButton *button : buttons)
        texts.append(button->text());
    return texts;
}

QAbstractButton *buttonNamed(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// Presses the panel's Open or Save button.
void pressAccept(QFileDialog *dialog)
{
    auto *box = dialog->findChild<QDialogButtonBox *>();
    QVERIFY(box);
    QPushButton *button = box->button(dialog->acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save
                                                                                       : QDialogButtonBox::Open);
    QVERIFY(button);
    QTRY_VERIFY(button->isEnabled());
    button->click();
}

} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        lg::Alert::setResponder({});
        lg::Alert::closeAll();
        lg::Panels::setOpenResponder({});
        lg::Panels::setSaveResponder({});
        lg::Panels::closeAll();
        lg::resetShutdownForTesting();
        QTest::qWait(0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void responderAnswersLaterAndSeesTheSpec()
    {
        std::optional<lg::AlertSpec> asked;
        lg::Alert::setResponder([&](const lg::AlertSpec &spec) {
            asked = spec;
            return 1;
        });
        lg::AlertSpec spec;
        spec.title = QStringLiteral("Do you want to stop adding folders?");
        spec.text = QStringLiteral("Folders added so far stay.");
        spec.buttons = {QStringLiteral("Continue"), QStringLiteral("Stop")};
        spec.style = lg::AlertSpec::Style::Critical;
        int answer = -1;
        lg::Alert::show(nullptr, spec, [&](int index) { answer = index; });

        QCOMPARE(answer, -1);  // never inside show()
        QVERIFY(asked);
        QCOMPARE(asked->title, spec.title);
        QCOMPARE(asked->buttons, spec.buttons);
        const QList<lg::AlertSpec> shown = lg::Alert::shownAlerts();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().text, spec.text);
        QCOMPARE(shown.first().style, lg::AlertSpec::Style::Critical);
        QTRY_COMPARE(answer, 1);
        QVERIFY(visibleTopLevels<QMessageBox>().isEmpty());
    }

    void realAlertIsWindowModalWithButtonsInOrder()
    {
        QWidget window;
        window.resize(600, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        lg::AlertSpec spec;
        spec.title = QStringLiteral("Move to <Trash>?");
        spec.text = QStringLiteral("You can't undo this action.");
        spec.buttons = {QStringLiteral("Move"), QStringLiteral("Keep"), QStringLiteral("Cancel")};
        int answer = -1;
        lg::Alert::show(&window, spec, [&](int index) { answer = index; });

        auto *box = window.findChild<QMessageBox *>();
        QVERIFY(box);
        QVERIFY(box->isVisible());
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QCOMPARE(box->textFormat(), Qt::PlainText);   // the title holds "<Trash>"
        QCOMPARE(buttonTextsLeftToRight(box), spec.buttons);
        QCOMPARE(box->defaultButton()->text(), QStringLiteral("Move"));
        QCOMPARE(box->escapeButton()->text(), QStringLiteral("Cancel"));

        QPointer<QMessageBox> guard(box);
        buttonNamed(box, QStringLiteral("Keep"))->click();
        QCOMPARE(answer, 1);
        QVERIFY(!box->isVisible());
        QTRY_VERIFY(guard.isNull());  // deleted once closed
    }

    void closeAllEndsAlertsAndPanelsWithoutAnswering()
    {
        int calls = 0;
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::Alert::show(nullptr, {QStringLiteral("t"), QString(), {}, {}}, [&](int) { ++calls; });
        lg::Alert::closeAll();   // the answer not yet delivered is dropped
        lg::Alert::setResponder({});

        QWidget window;
        window.show();
        lg::Alert::show(&window, {QStringLiteral("a"), QString(), {QStringLiteral("Yes"), QStringLiteral("No")}, {}},
                        [&](int) { ++calls; });
        QPointer<QMessageBox> box = window.findChild<QMessageBox *>();
        QVERIFY(box && box->isVisible());
        // With two buttons and none of them "Cancel", Escape does not end it.
        QTest::keyClick(box, Qt::Key_Escape);
        QVERIFY(box->isVisible());
        lg::Panels::open(nullptr, {}, [&](const QList<QUrl> &) { ++calls; });
        QPointer<QFileDialog> dialog = visibleTopLevels<QFileDialog>().value(0);
        QVERIFY(dialog);

        lg::Alert::closeAll();
        lg::Panels::closeAll();
        QTRY_VERIFY(box.isNull() && dialog.isNull());
        QTest::qWait(10);
        QCOMPARE(calls, 0);
    }

    void openResponderAnswersLater()
    {
        std::optional<lg::OpenPanelSpec> asked;
        const QList<QUrl> chosen{QUrl::fromLocalFile(QStringLiteral("/a/b.jpg")), QUrl::fromLocalFile(QStringLiteral("/a/c"))};
        lg::Panels::setOpenResponder([&](const lg::OpenPanelSpec &spec) {
            asked = spec;
            return chosen;
        });
        lg::OpenPanelSpec spec;
        spec.chooseFiles = false;
        spec.chooseDirectories = true;
        spec.prompt = QStringLiteral("Move");
        std::optional<QList<QUrl>> answer;
        lg::Panels::open(nullptr, spec, [&](const QList<QUrl> &urls) { answer = urls; });
        QVERIFY(!answer);
        QVERIFY(asked && asked->chooseDirectories && !asked->chooseFiles);
        QCOMPARE(asked->prompt, QStringLiteral("Move"));
        QTRY_VERIFY(answer);
        QCOMPARE(*answer, chosen);
        QVERIFY(visibleTopLevels<QFileDialog>().isEmpty());
    }

    void saveResponderAnswersLaterAndReleasesTheAccessory()
    {
        const QUrl target = QUrl::fromLocalFile(lg::test::homeFolder() + QStringLiteral("/Untitled.png"));
        lg::Panels::setSaveResponder([&](const lg::SavePanelSpec &spec) {
            return spec.fileName == QStringLiteral("Untitled") ? target : QUrl();
        });
        QPointer<QLabel> accessory = new QLabel(QStringLiteral("Format"));
        bool accessoryAliveInCallback = false;
        std::optional<QUrl> answer;
        lg::SavePanelSpec spec;
        spec.fileName = QStringLiteral("Untitled");
        spec.accessory = accessory;
        lg::Panels::save(nullptr, spec, [&](const QUrl &url) {
            answer = url;
            accessoryAliveInCallback = !accessory.isNull();
        });
        QVERIFY(!answer);
        QTRY_VERIFY(answer);
        QCOMPARE(*answer, target);
        QVERIFY(accessoryAliveInCallback);
        QTRY_VERIFY(accessory.isNull());
    }

    void packageIsChosenLikeAFile()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("pictures"));
        const QString library = folder + QStringLiteral("/Photos Library.photoslibrary");
        QDir().mkpath(library);
        lg::OpenPanelSpec spec;
        spec.directory = folder;
        spec.nameFilters = {QStringLiteral("Photos libraries (*.photoslibrary)")};
        spec.packageExtensions = {QStringLiteral("photoslibrary")};
        std::optional<QList<QUrl>> answer;
        lg::Panels::open(nullptr, spec, [&](const QList<QUrl> &urls) { answer = urls; });
        QFileDialog *dialog = visibleTopLevels<QFileDialog>().value(0);
        QVERIFY(dialog);
        dialog->selectFile(library);
        QTRY_COMPARE(dialog->selectedFiles(), QStringList{library});
        pressAccept(dialog);
        QTRY_VERIFY(answer);
        QCOMPARE(*answer, QList<QUrl>{QUrl::fromLocalFile(library)});
    }


    // The answer that changes nothing, which a quit gives: named, found by
    // name, the only button, or none at all.
    void theDoNothingButtonIsFoundByName_data()
    {
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<int>("given");
        QTest::addColumn<int>("expected");
        QTest::newRow("Replace, Make a Copy, Stop") << QStringList{"Replace", "Make a Copy", "Stop"} << -1 << 2;
        QTest::newRow("Yes, No") << QStringList{"Yes", "No"} << -1 << 1;
        QTest::newRow("No, Yes") << QStringList{"No", "Yes"} << -1 << 0;
        QTest::newRow("Copy, Move, Cancel") << QStringList{"Copy", "Move", "Cancel"} << -1 << 2;
        QTest::newRow("Don't Save, Save") << QStringList{"Don\u2019t Save", "Save"} << -1 << 0;
        QTest::newRow("OK alone") << QStringList{"OK"} << -1 << 0;
        QTest::newRow("no buttons: OK") << QStringList{} << -1 << 0;
        QTest::newRow("none") << QStringList{"Quit & Retry", "Skip Photos Library"} << -1 << -1;
        QTest::newRow("named") << QStringList{"Install Update", "Remind Me Later"} << 1 << 1;
        QTest::newRow("named out of range") << QStringList{"Yes", "No"} << 2 << -1;
    }
    void theDoNothingButtonIsFoundByName()
    {
        QFETCH(QStringList, buttons);
        QFETCH(int, given);
        QFETCH(int, expected);
        lg::AlertSpec spec;
        spec.buttons = buttons;
        spec.doNothingButton = given;
        QCOMPARE(lg::Alert::doNothingIndex(spec), expected);
    }

    // At quit every open alert closes as its do-nothing button (one without
    // one closes unanswered), every panel as cancelled, and an answer still
    // on its way becomes the do-nothing one: nothing asked is acted on.
    void aQuitAnswersEverythingOpenWithItsDoNothingAnswer()
    {
        QWidget window;
        window.resize(500, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QList<int> replaceAnswers, trashAnswers, photosAnswers;
        lg::AlertSpec replace;
        replace.title = QStringLiteral("File already exists");
        replace.buttons = {QStringLiteral("Replace"), QStringLiteral("Make a Copy"), QStringLiteral("Stop")};
        lg::Alert::show(&window, replace, [&](int button) { replaceAnswers.append(button); });
        lg::AlertSpec photos;
        photos.title = QStringLiteral("Photos App is running.");
        photos.buttons = {QStringLiteral("Quit & Retry"), QStringLiteral("Skip Photos Library")};
        lg::Alert::show(nullptr, photos, [&](int button) { photosAnswers.append(button); });
        QList<QList<QUrl>> opened;
        lg::OpenPanelSpec openSpec;
        lg::Panels::open(&window, openSpec, [&](const QList<QUrl> &urls) { opened.append(urls); });
        // A responder's "Yes" to the trash question, not yet delivered.
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::AlertSpec trash;
        trash.title = QStringLiteral("Are you sure you want to delete the selected files?");
        trash.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
        lg::Alert::show(&window, trash, [&](int button) { trashAnswers.append(button); });
        QCOMPARE(lg::Alert::openCount(), 2);
        QCOMPARE(lg::Panels::openCount(), 1);

        lg::beginShutdown();
        lg::Alert::answerAllForQuit();
        lg::Panels::answerAllForQuit();
        QCOMPARE(replaceAnswers, QList<int>{2});   // at once, not later
        QCOMPARE(trashAnswers, QList<int>{1});
        QVERIFY(photosAnswers.isEmpty());
        QCOMPARE(opened, QList<QList<QUrl>>{QList<QUrl>()});
        QCOMPARE(lg::Alert::openCount(), 0);
        QCOMPARE(lg::Panels::openCount(), 0);
        QTest::qWait(20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(visibleTopLevels<QMessageBox>().isEmpty());
        QVERIFY(visibleTopLevels<QFileDialog>().isEmpty());
        // Nothing is answered twice, and nothing later is asked.
        QCOMPARE(trashAnswers, QList<int>{1});
        lg::Alert::show(&window, trash, [&](int button) { trashAnswers.append(button); });
        QCOMPARE(lg::Alert::openCount(), 0);
        QTRY_COMPARE(trashAnswers, (QList<int>{1, 1}));
        QVERIFY(visibleTopLevels<QMessageBox>().isEmpty());
    }

    // A click that comes once the shutdown has begun (the quit's own answers
    // not yet given) says only "do nothing".
    void aClickAfterTheQuitRequestIsTheDoNothingAnswer()
    {
        QWidget window;
        window.resize(500, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QList<int> answers;
        lg::AlertSpec move;
        move.title = QStringLiteral("Moving a folder into another folder will physically move it.");
        move.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
        lg::Alert::show(&window, move, [&](int button) { answers.append(button); });
        QTRY_COMPARE(visibleTopLevels<QMessageBox>().size(), 1);
        QMessageBox *box = visibleTopLevels<QMessageBox>().first();
        lg::beginShutdown();
        buttonNamed(box, QStringLiteral("Yes"))->click();
        QTRY_COMPARE(answers, QList<int>{1});
    }

    // An answer that itself starts the quit ("No" to "Save changes?" from the
    // Quit command) is given once: the alert it came from is not answered again.
    void anAnswerThatStartsTheQuitIsGivenOnce()
    {
        QWidget window;
        window.resize(500, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QList<int> answers;
        lg::AlertSpec save;
        save.title = QStringLiteral("Save changes?");
        save.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
        lg::Alert::show(&window, save, [&](int button) {
            answers.append(button);
            lg::beginShutdown();
            lg::Alert::answerAllForQuit();
        });
        QTRY_COMPARE(visibleTopLevels<QMessageBox>().size(), 1);
        buttonNamed(visibleTopLevels<QMessageBox>().first(), QStringLiteral("Yes"))->click();
        QTest::qWait(50);
        QCOMPARE(answers, QList<int>{0});
    }
};

LG_TEST(DialogsTest)
#include "test_dialogs.moc"
