// The XDG base directories, read once by one rule.
#include "platform/base/XdgDirectories.h"

#include <QDir>

namespace lg {

QString xdgBaseDirectory(XdgKind kind)
{
    const char *variable = "XDG_DATA_HOME";
    QString fallback = QStringLiteral("/.local/share");
    switch (kind) {
    case XdgKind::Data: break;
    case XdgKind::Config: variable = "XDG_CONFIG_HOME"; fallback = QStringLiteral("/.config"); break;
    case XdgKind::Cache: variable = "XDG_CACHE_HOME"; fallback = QStringLiteral("/.cache"); break;
    case XdgKind::State: variable = "XDG_STATE_HOME"; fallback = QStringLiteral("/.local/state"); break;
    }
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(QDir::homePath() + fallback);
}

} // namespace lg
