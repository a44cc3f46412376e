#pragma once
// The XDG base directories (data, config, cache, state): the one reading of
// $XDG_DATA_HOME, $XDG_CONFIG_HOME, $XDG_CACHE_HOME and $XDG_STATE_HOME that
// every layer asks. A value that is empty or not an absolute path is ignored
// (it would name a different folder from every current folder), and the
// default under the home folder is taken. Any thread may call it; it reads the
// environment each time, creates nothing and cannot fail.
#include <QString>

namespace lg {

enum class XdgKind { Data, Config, Cache, State };

// The base directory of kind, cleaned, without a trailing separator:
// the variable's value when it is an absolute path, else ~/.local/share,
// ~/.config, ~/.cache or ~/.local/state under QDir::homePath().
QString xdgBaseDirectory(XdgKind kind);

} // namespace lg
