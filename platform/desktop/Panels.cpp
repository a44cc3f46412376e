// Open and save panels over QFileDialog, answered by a responder in tests.
#include "platform/desktop/Panels.h"

#include "platform/desktop/DialogTracker.h"
#include "platform/runtime/Dispatch.h"
#include "platform/desktop/Paths.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QBoxLayout>


namespace lg {

namespace {

// Main-thread state.
struct PanelState
{
    Panels::OpenResponder openResponder;
    Panels::SaveResponder saveResponder;
    detail::DialogTracker dialogs;
};

PanelState &state()
{
    static PanelState s;
    return s;
}

// QFileDialog enters a folder where the panel should choose it: a folder when
// both files and folders can be chosen, several folders, or a package.
class PanelDialog : public QFileDialog
{
public:
    PanelDialog(QWidget *parent, const QString &title, const QString &directory)
        : QFileDialog(parent, title, directory)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setAttribute(Qt::WA_DeleteOnClose);
    }

    bool acceptsFolders = false;
    QStringList packageExtensions;

    void accept() override
    {
        if (acceptsFolders || !packageExtensions.isEmpty()) {
            const QStringList chosen = selectedFiles();
            bool anyFolder = false;
            bool allChoosable = !chosen.isEmpty();
            for (const QString &path : chosen) {
                const QFileInfo info(path);
                if (!info.exists()) {
                    allChoosable = false;
                } else if (info.isDir()) {
                    anyFolder = true;
                    allChoosable = allChoosable
                        && (acceptsFolders
                            || packageExtensions.contains(info.suffix(), Qt::CaseInsensitive));
                }
            }
            if (anyFolder && allChoosable) {
                QDialog::accept();
                return;
            }
        }
        QFileDialog::accept();
    }
};

QString startFolder(const QString &directory)
{
    return directory.isEmpty() ? Paths::home() : directory;
}

// An open panel answered by the tests' responder, where one is set (never
// once the quit has begun): true when it was, done then called in turn.
bool answeredByResponder(PanelState &s, const OpenPanelSpec &spec, const Panels::OpenCallback &done)
{
    if (!s.openResponder || isShuttingDown())
        return false;
    s.dialogs.deliver(
        [urls = s.openResponder(spec), done] {
            if (done)
                done(urls);
        },
        [done] {
            if (done)
                done({});
        });
    return true;
}

} // namespace

void Panels::open(QWidget *parent, const OpenPanelSpec &spec, OpenCallback done)
{
    PanelState &s = state();
    const auto cancelled = [done] {
        if (done)
            done({});
    };
    if (answeredByResponder(s, spec, done))
        return;

    auto *dialog = new PanelDialog(parent, spec.title, startFolder(spec.directory));
    dialog->setObjectName(QStringLiteral("lgOpenPanel"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (spec.showsHiddenFiles)
        dialog->setFilter(dialog->filter() | QDir::Hidden);
    if (!spec.chooseFiles && spec.chooseDirectories && !spec.allowsMultipleSelection) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog->setFileMode(spec.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                         : QFileDialog::ExistingFile);
        if (!spec.chooseFiles)
            dialog->setOption(QFileDialog::ShowDirsOnly);
        dialog->acceptsFolders = spec.chooseDirectories;
        if (spec.chooseFiles)
            dialog->packageExtensions = spec.packageExtensions;
    }
    if (!spec.nameFilters.isEmpty())
        dialog->setNameFilters(spec.nameFilters);
    if (!spec.prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, spec.prompt);

    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, done](int result) {
        if (done)
            done(result == QDialog::Accepted && !isShuttingDown() ? dialog->selectedUrls() : QList<QUrl>());
    });
    s.dialogs.present(parent, dialog, cancelled);
}

void Panels::openOwn(QWidget *parent, const OpenPanelSpec &spec, PanelMaker make, ChosenOf chosen,
                     OpenCallback done)
{
    PanelState &s = state();
    const auto cancelled = [done] {
        if (done)
            done({});
    };
    if (answeredByResponder(s, spec, done))
        return;
    QDialog *dialog = make(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, chosen = std::move(chosen), done](int result) {
        if (done)
            done(result == QDialog::Accepted && !isShuttingDown() ? chosen(dialog) : QList<QUrl>());
    });
    s.dialogs.present(parent, dialog, cancelled);
}

void Panels::save(QWidget *parent, const SavePanelSpec &spec, SaveCallback done)
{
    PanelState &s = state();
    QPointer<QWidget> accessory(spec.accessory);
    // The accessory is read in the callback, so it goes only after it.
    const auto cancelled = [accessory, done] {
        if (done)
            done(QUrl());
        if (accessory)
            accessory->deleteLater();
    };
    if (s.saveResponder && !isShuttingDown()) {
        s.dialogs.deliver([url = s.saveResponder(spec), accessory, done = std::move(done)] {
            if (done)
                done(url);
            if (accessory)
                accessory->deleteLater();
        }, cancelled);
        return;
    }

    auto *dialog = new PanelDialog(parent, spec.title, startFolder(spec.directory));
    dialog->setObjectName(QStringLiteral("lgSavePanel"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    if (!spec.nameFilters.isEmpty())
        dialog->setNameFilters(spec.nameFilters);
    if (!spec.fileName.isEmpty())
        dialog->selectFile(spec.fileName);
    if (!spec.message.isEmpty()) {
        auto *message = new QLabel(spec.message, dialog);
        message->setObjectName(QStringLiteral("panelMessage"));
        message->setWordWrap(true);
        if (auto *grid = qobject_cast<QGridLayout *>(dialog->layout()))
            grid->addWidget(message, grid->rowCount(), 0, 1, grid->columnCount());
        else if (auto *box = qobject_cast<QBoxLayout *>(dialog->layout()))
            box->insertWidget(0, message);
    }
    if (spec.accessory) {
        // Qt's own dialog lays itself out on a grid: the accessory takes a row
        // of its own under everything else.
        if (auto *grid = qobject_cast<QGridLayout *>(dialog->layout())) {
            grid->addWidget(spec.accessory, grid->rowCount(), 0, 1, grid->columnCount());
        } else if (auto *box = qobject_cast<QBoxLayout *>(dialog->layout())) {
            box->addWidget(spec.accessory);
        } else {
            spec.accessory->setParent(dialog);
        }
        spec.accessory->show();
    }

    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, done](int result) {
        if (done)
            done(result == QDialog::Accepted && !isShuttingDown() ? dialog->selectedUrls().value(0) : QUrl());
    });
    // At quit the dialog (and the accessory in it) goes after the callback.
    const auto cancelledWithDialog = [done] {
        if (done)
            done(QUrl());
    };
    s.dialogs.present(parent, dialog, cancelledWithDialog);
}

void Panels::setOpenResponder(OpenResponder responder)
{
    state().openResponder = std::move(responder);
}

void Panels::setSaveResponder(SaveResponder responder)
{
    state().saveResponder = std::move(responder);
}

void Panels::closeAll()
{
    state().dialogs.closeAll();
}

void Panels::answerAllForQuit()
{
    state().dialogs.answerAllForQuit();
}

int Panels::openCount()
{
    return state().dialogs.openCount();
}

} // namespace lg
