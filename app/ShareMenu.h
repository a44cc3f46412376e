#pragma once
// The share menu of a file: send it by e-mail as an attachment (xdg-email) or
// hand it to one of the applications that open its type (lg::Workspace). Processes are
// started without a shell. Main thread.
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QMenu;
class QWidget;

struct ShareApplication
{
    QString id;    // the desktop entry's id, e.g. "org.gnome.eog.desktop"
    QString name;  // what the menu shows
};

class ShareMenu
{
public:
    // Starts a program with arguments, without a shell; true when it started.
    using ProcessRunner = std::function<bool(const QString &program, const QStringList &arguments)>;

    // The menu for the file, owned by parent; the caller pops it up.
    static QMenu *create(const QString &path, QWidget *parent);
    // Pops the menu up under the anchor (the share button).
    static void popup(const QString &path, QWidget *anchor);

    // The applications registered for the file's type, in GIO's order.
    static QList<ShareApplication> applicationsFor(const QString &path);
    // Opens the file with the application; false when it could not be started.
    static bool openWith(const QString &applicationId, const QString &path);
    // Starts a new e-mail with the file attached; false when that failed.
    static bool emailWithAttachment(const QString &path);

    // Replaces QProcess::startDetached (tests record the call); empty restores it.
    static void setProcessRunner(ProcessRunner runner);
};
