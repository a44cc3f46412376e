#pragma once
// Path rules by the spelling alone: the cleaned absolute form of a path and
// containment by whole components. No file system access (canonicalize first
// where links matter); any thread; nothing fails.
#include <QString>

namespace lg {

class LexicalPaths
{
public:
    // True when path is the folder base or lies inside it, compared by whole
    // path components ("Trip 2" is not inside "Trip"), case-sensitively, after
    // clean() (no file system access: canonicalize first where links matter).
    static bool isInside(const QString &path, const QString &base);
    // Lexically cleaned absolute path without a trailing separator.
    static QString clean(const QString &path);
};

} // namespace lg
