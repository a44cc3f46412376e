// Alerts and open/save panels: responders, asynchronous answers, and what the
// real dialogs are made of.
#include "platform/Alert.h"
#include "platform/Panels.h"
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

};

LG_TEST(DialogsTest)
#include "test_dialogs.moc"
