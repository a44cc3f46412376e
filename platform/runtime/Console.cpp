// The program's lines on standard output.
#include "platform/runtime/Console.h"

#include <cstdio>

namespace lg {

void printLine(const QByteArray &bytes)
{
    // One write of the line and its break, so that lines of two threads do not mix.
    const QByteArray line = bytes + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

void printLine(const QString &text)
{
    printLine(text.toLocal8Bit());
}

void printLine(const char *text)
{
    printLine(QByteArray(text ? text : ""));
}

} // namespace lg
