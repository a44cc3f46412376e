#pragma once
// For tests that run the real program in a child process: where it is, and
// what it saved.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <optional>

namespace lg::test {

// The application built beside the test programs.
inline QString applicationPath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../lumengallery"));
}

// The folder list in a settings file; none when the file or the key is missing.
inline std::optional<QStringList> savedRootsIn(const QString &settingsFile)
{
    QFile file(settingsFile);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject settings = QJsonDocument::fromJson(file.readAll()).object();
    if (!settings.value(QStringLiteral("arrPaths")).isArray())
        return std::nullopt;
    QStringList roots;
    for (const QJsonValue &value : settings.value(QStringLiteral("arrPaths")).toArray())
        roots.append(value.toString());
    return roots;
}

} // namespace lg::test
