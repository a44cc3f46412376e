// Path rules by the spelling alone.
#include "platform/base/LexicalPaths.h"

#include <QDir>

namespace lg {

bool LexicalPaths::isInside(const QString &path, const QString &base)
{
    const QString p = clean(path);
    const QString b = clean(base);
    if (p.isEmpty() || b.isEmpty())
        return false;
    if (p == b)
        return true;
    // The root is the one cleaned path that ends in a separator.
    const QString prefix = b.endsWith(QLatin1Char('/')) ? b : b + QLatin1Char('/');
    return p.startsWith(prefix);
}

QString LexicalPaths::clean(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const QString absolute = QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path;
    return QDir::cleanPath(absolute);
}

} // namespace lg
