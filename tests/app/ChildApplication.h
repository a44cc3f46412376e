#pragma once
// For tests that run the real program in a child process: where it is, and
// what it saved.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStringList>

#include <optional>

namespace lg::test {

// The application built beside the test programs, with the hooks that let a
// test drive it (quit after a delay, press Ctrl+Q, ask or paste).
inline QString applicationPath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../lumengallery_testhooks"));
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

// The environment of the program run in a home of its own, headless.
inline QProcessEnvironment childEnvironment(const QString &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/.local/state"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/.runtime"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    return environment;
}

} // namespace lg::test
