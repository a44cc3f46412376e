#pragma once
// The program's lines on standard output: what it did and why something was
// not done, one line each, as tests and a person at a terminal read them.
// Any thread may call these; each line is written whole and flushed at once.
// A failed write is not reported (there is nobody to tell).
#include <QByteArray>
#include <QString>

namespace lg {

// text in the locale's encoding, then a line break.
void printLine(const QString &text);
// bytes as they are (a path that is not valid UTF-8 stays byte for byte).
void printLine(const QByteArray &bytes);
void printLine(const char *text);

} // namespace lg
