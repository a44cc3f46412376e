// GLib names a member "signals": its header comes before any Qt header.
#include <gio/gio.h>

#include "app/ShareMenu.h"

#include "platform/Alert.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QMimeDatabase>
#include <QProcess>
#include <QUrl>
#include <QWidget>

#include <cstdio>

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

void printLine(const QString &text)
{
    std::printf("%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

QString contentTypeOf(const QString &path)
{
    return QMimeDatabase().mimeTypeForFile(path).name();
}

// Calls fn for each application of the file's type until it returns false.
void forEachApplication(const QString &path, const std::function<bool(GAppInfo *)> &fn)
{
    const QByteArray type = contentTypeOf(path).toUtf8();
    GList *list = g_app_info_get_all_for_type(type.constData());
    for (GList *node = list; node; node = node->next) {
        auto *info = static_cast<GAppInfo *>(node->data);
        if (!g_app_info_should_show(info))
            continue;
        if (!fn(info))
            break;
    }
    g_list_free_full(list, g_object_unref);
}

} // namespace

void ShareMenu::setProcessRunner(ProcessRunner r)
{
    runner() = std::move(r);
}

QList<ShareApplication> ShareMenu::applicationsFor(const QString &path)
{
    QList<ShareApplication> applications;
    forEachApplication(path, [&applications](GAppInfo *info) {
        const char *id = g_app_info_get_id(info);
        const char *name = g_app_info_get_display_name(info);
        if (id && name)
            applications.append({QString::fromUtf8(id), QString::fromUtf8(name)});
        return true;
    });
    return applications;
}

bool ShareMenu::openWith(const QString &applicationId, const QString &path)
{
    bool started = false;
    bool found = false;
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
    forEachApplication(path, [&](GAppInfo *info) {
        const char *id = g_app_info_get_id(info);
        if (!id || QString::fromUtf8(id) != applicationId)
            return true;
        found = true;
        GList uris = {const_cast<char *>(uri.constData()), nullptr, nullptr};
        GError *error = nullptr;
        started = g_app_info_launch_uris(info, &uris, nullptr, &error);
        if (error) {
            printLine(QStringLiteral("Could not open ") + path + QStringLiteral(" with ") + applicationId
                      + QStringLiteral(": ") + QString::fromUtf8(error->message));
            g_error_free(error);
        }
        return false;
    });
    if (!found)
        printLine(QStringLiteral("No application ") + applicationId + QStringLiteral(" for ") + path);
    return started;
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
