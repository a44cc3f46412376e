#pragma once
// The desktop around the program: reveal items in the file manager, its
// properties window, opening a file with another application, and the desktop
// picture. Every external call (process or D-Bus) goes through one runner that
// tests replace to see the exact calls. Main thread.
#include <QIcon>
#include <QList>
#include <QString>

#include <optional>
#include <QStringList>
#include <QVariantList>
#include <functional>

class QWidget;

namespace lg {

struct ApplicationInfo
{
    QString id;     // desktop entry id, e.g. "org.gnome.eog.desktop"
    QString name;   // the name the desktop shows
    QString iconName;
};

// One call to the outside world.
struct ExternalCall
{
    // Application: launches the desktop entry whose id is program with the
    // file URIs in arguments (an empty program: each URI's default application).
    enum class Kind { Process, DBus, Application };
    Kind kind = Kind::Process;
    // Process: program and arguments. D-Bus: service, path, interface, method
    // in program/arguments[0..2], then the call's arguments as text.
    QString program;
    QStringList arguments;
    QVariantList dbusArguments;  // D-Bus only, as sent
    // A failure of this call is passed over (e.g. a settings key that older
    // desktops lack).
    bool optional = false;
    // Process: when set, the runner stores the standard output here.
    QString *output = nullptr;
};

class Workspace
{
public:
    // Runs the call and waits for it (processes with a time limit); true when it
    // succeeded (exit code 0 / a reply without error). error gets the reason.
    using Runner = std::function<bool(const ExternalCall &call, QString *error)>;

    // Shows the items selected in the file manager (FileManager1.ShowItems);
    // falls back to opening their folder.
    static bool revealInFileManager(const QStringList &paths, QString *error = nullptr);
    // Reveals the items; when that fails, prints the reason and says it in
    // one alert over parent (e.g. no file manager is installed).
    static void showInFileManager(const QStringList &paths, QWidget *parent);
    // Opens the folder in the file manager.
    static bool openFolder(const QString &folder, QString *error = nullptr);
    // The file manager's properties window (FileManager1.ShowItemProperties);
    // falls back to a small properties window of our own under parent.
    static void showProperties(const QStringList &paths, QWidget *parent);

    // The applications that open the file's content type, in GIO's order; empty
    // when there are none.
    static QList<ApplicationInfo> applicationsFor(const QString &path);
    static bool openWith(const QString &applicationId, const QStringList &paths, QString *error = nullptr);
    // Opens with the default application of its type.
    static bool openWithDefault(const QString &path, QString *error = nullptr);

    // The desktop's icon for the file at path (its type's, from the icon theme
    // or the style); null when it cannot look at the file. Main thread only.
    static QIcon fileIcon(const QString &path);
    // The icon of a plain file; null when the desktop has none.
    static QIcon plainFileIcon();

    // Sets the desktop picture on the running desktop (XDG_CURRENT_DESKTOP):
    // GNOME/Cinnamon/MATE through gsettings, KDE Plasma through plasmashell's
    // scripting call, XFCE through xfconf-query. False with a message when the
    // desktop is not one of these or the call failed.
    static bool setDesktopPicture(const QString &imagePath, QString *error = nullptr);
    // The calls setDesktopPicture would make on the given desktop (for tests and logs).
    // On XFCE this is the listing of xfce4-desktop's properties; the calls that
    // follow come from xfceBackdropCalls on its output.
    static QList<ExternalCall> desktopPictureCalls(const QString &desktop, const QString &imagePath);
    // XFCE: one xfconf-query call per ".../last-image" property in listing (every
    // monitor and workspace); without one, the first monitor's is made.
    static QList<ExternalCall> xfceBackdropCalls(const QString &listing, const QString &imagePath);

    static void setRunnerForTesting(Runner runner);  // empty restores the real one
    // The running desktop as setDesktopPicture sees it, instead of
    // XDG_CURRENT_DESKTOP (none: the environment's again). Tests change no
    // environment variable while other threads may read the environment.
    static void setDesktopForTesting(std::optional<QString> desktop);
};

} // namespace lg
