#pragma once
// The numbered name of an item ("photo 2.jpg", "Album 2", "notes 2"), worked
// out on the name's bytes, so that a name which is not UTF-8 keeps them: the
// one rule behind the file layer's free names and the cleanup's put-backs.
// A file splits at its last dot, unless that dot leads the name or ends it; a
// folder is numbered as a whole. Where the number and extension leave no room,
// the name is numbered as a whole; a stem too long is shortened, never inside
// a UTF-8 character, so that the result fits maxBytes.
//
// Pure; any thread.
#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace lg {

// name numbered n (none: the name itself, shortened to fit), as
// "<stem><separator><n><extension>".
QByteArray numberedNameBytes(const QByteArray &name, std::optional<qint64> number, bool isFolder,
                             const QByteArray &separator = " ", int maxBytes = 255);

} // namespace lg
