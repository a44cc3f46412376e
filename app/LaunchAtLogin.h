#pragma once
// Launch at login through the XDG autostart entry "lumengallery.desktop" in
// $XDG_CONFIG_HOME/autostart. The entry starts the executable given by its path;
// entries of other programs are never touched.
#include <QString>
#include <QUrl>
#include <optional>

// The holder of the login-item functions; it has no fields.
class LaunchOnStartup
{
public:
    // The file name of the application's autostart entry.
    static QString entryFileName();
    // The full path of the autostart entry.
    static QString entryPath();
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
