#include "app/ShareMenu.h"

#include "platform/desktop/Alert.h"
#include "platform/desktop/Workspace.h"
#include "platform/runtime/Console.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QWidget>

#include <cstdio>

using lg::printLine;

namespace {

ShareMenu::ProcessRunner &runner()
{
    static ShareMenu::ProcessRunner r;
    return r;
}

bool startProcess(const QString &program, const QStringList &arguments)
{
    if (runner())
        return runner()(program, arguments);
    return QProcess::startDetached(program, arguments);
}

} // namespace

void ShareMenu::setProcessRunner(ProcessRunner r)
{
    runner() = std::move(r);
}

QList<ShareApplication> ShareMenu::applicationsFor(const QString &path)
{
    QList<ShareApplication> applications;
    for (const lg::ApplicationInfo &info : lg::Workspace::applicationsFor(path))
        applications.append({info.id, info.name});
    return applications;
}

bool ShareMenu::openWith(const QString &applicationId, const QString &path)
{
    QString error;
    if (lg::Workspace::openWith(applicationId, {path}, &error))
        return true;
    printLine(QStringLiteral("Could not open ") + path + QStringLiteral(" with ") + applicationId
              + QStringLiteral(": ") + error);
    return false;
}

bool ShareMenu::emailWithAttachment(const QString &path)
{
    return startProcess(QStringLiteral("xdg-email"), {QStringLiteral("--attach"), path});
}

QMenu *ShareMenu::create(const QString &path, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("shareMenu"));
    QAction *email = menu->addAction(QStringLiteral("Email"));
    email->setObjectName(QStringLiteral("shareEmail"));
    QObject::connect(email, &QAction::triggered, menu, [path, parent] {
        if (!emailWithAttachment(path))
            lg::Alert::inform(parent ? parent->window() : nullptr, QStringLiteral("The file could not be shared."),
                              QStringLiteral("No e-mail program could be started (xdg-email is missing)."));
    });

    const QList<ShareApplication> applications = applicationsFor(path);
    if (!applications.isEmpty())
        menu->addSeparator();
    for (const ShareApplication &application : applications) {
        QAction *action = menu->addAction(application.name);
        action->setObjectName(QStringLiteral("shareWith:") + application.id);
        const QString id = application.id;
        QObject::connect(action, &QAction::triggered, menu, [id, path, parent, name = application.name] {
            if (!openWith(id, path))
                lg::Alert::inform(parent ? parent->window() : nullptr,
                                  QStringLiteral("The file could not be shared."),
                                  name + QStringLiteral(" could not be started."));
        });
    }
    return menu;
}

void ShareMenu::popup(const QString &path, QWidget *anchor)
{
    if (!anchor || !QFileInfo::exists(path))
        return;
    QMenu *menu = create(path, anchor);
    // Deleted once closed; a chosen action has run by then.
    QObject::connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    menu->popup(anchor->mapToGlobal(QPoint(0, anchor->height())));
}
