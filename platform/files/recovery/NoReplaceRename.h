#pragma once
// A rename that never replaces, where the file system lacks RENAME_NOREPLACE.
// Any thread.
#include <QByteArray>

namespace lg {

// A rename that cannot replace where the file system lacks RENAME_NOREPLACE
// (a link for a file, a fresh placeholder for a folder); EEXIST when the name
// is taken. Raw paths; any thread.
int renameWithoutReplacingRaw(const QByteArray &from, const QByteArray &to);

} // namespace lg
