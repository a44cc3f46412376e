#pragma once
// Saved settings. Values keep their types across runs (Int, Bool, String, lists),
// stored as JSON in $XDG_CONFIG_HOME/lumengallery/lumengallery.json (one member a
// key). Safe from any thread. A damaged file reads as empty, with one printed
// line, and is kept as lumengallery.json.corrupt before the next write replaces it.
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace lg {

class Settings
{
public:
    // The value stored under the key, with its stored type; invalid when absent.
    static QVariant value(const QString &key);
    static bool contains(const QString &key);
    // Written to disk before it returns (atomically: a new file renamed over the
    // old). The value is kept in its file form, so it reads back the same now and
    // after a restart: a whole number is an Int, other numbers a Double, a date
    // or URL its string form.
    static void setValue(const QString &key, const QVariant &value);
    static void remove(const QString &key);

    // Typed reads: a value is returned only when the stored value has that type
    // (an Int is a whole JSON number, never a Bool or a String).
    static std::optional<int> intValue(const QString &key);
    static std::optional<bool> boolValue(const QString &key);
    static std::optional<QString> stringValue(const QString &key);
    static std::optional<QStringList> stringListValue(const QString &key);

    // Writes pending changes to disk (each write is already there when setValue
    // or remove returns) and looks at the file again.
    static void sync();
    // The settings file in use.
    static QString filePath();
    // Drops every cached value and starts over from the file (tests use it
    // after changing HOME or removing the file). Every call already opens the
    // file of that moment; Qt rereads a file whose size or time has changed.
    static void reload();
};

} // namespace lg
