#pragma once
// Launch at login through an XDG autostart entry in $XDG_CONFIG_HOME/autostart.
// The entry starts the executable given by its path and is named after that
// path ("lumengallery-" and a hash of it), so copies of the program at other
// paths keep entries of their own. An entry is ours when its Exec names our
// executable; entries of other programs and other copies are never touched.
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// The holder of the login-item functions; it has no fields.
class LaunchOnStartup
{
public:
    // The file name of the autostart entry of the program at that path (the
    // running one when none is given).
    static QString entryFileName(const QString &program = {});
    // The full path of that autostart entry.
    static QString entryPath(const QString &program = {});
    // The autostart entries that may be ours, by name, in name order.
    static QStringList candidateEntries();
    // The Exec= value that starts program with no arguments, quoted and escaped as
    // desktop entries require.
    static QString execValue(const QString &program);
    // The program that an Exec= value starts (its first argument, unquoted), or
    // nothing when the value cannot be read.
    static std::optional<QString> programOfExecValue(const QString &value);
    // The program that the autostart entry at path starts, or nothing.
    static std::optional<QString> programOfEntry(const QString &path);
    // True when two paths name the same program (symbolic links resolved).
    static bool samePath(const QString &a, const QString &b);
};

// What the autostart folder holds for an application.
struct LoginItemReferences
{
    // The entry that starts the application, if there is one.
    std::optional<QString> existingItem;
};

// Finds the autostart entry that starts the application at appUrl.
LoginItemReferences loginItemReferences(const QUrl &appUrl);

// Adds the autostart entry for the application (once) or removes it. The entry is
// written whole or not at all.
void setLaunchAtLogin(bool enable, const QUrl &appUrl);

// Finds the running application's own autostart entry, by the path of its
// executable, and removes it.
class addLoginitem
{
public:
    static addLoginitem &shared();
    // Returns the removed entry's path, or nothing when there was none.
    std::optional<QString> itemRefInLoginItems();
};
