#pragma once
// Shared pieces of the test programs. Each tests/<folder>/test_*.cpp defines one
// QObject test class and registers it with LG_TEST; the shared main gives the run
// a temporary HOME and XDG folders before the application object exists.
#include <QObject>
#include <QString>
#include <QtTest>
#include <functional>

namespace lg::test {
using TestFactory = std::function<QObject *()>;
int registerTest(const char *name, TestFactory factory);
// The temporary folder that stands in for the home folder during this run.
QString homeFolder();
// A fresh, empty folder inside the temporary home.
QString freshFolder(const QString &name);
// Writes a file (and its parent folders) and returns its path.
QString writeFile(const QString &path, const QByteArray &bytes = QByteArray("x"));
// The file's bytes, or none when it cannot be read.
QByteArray readAll(const QString &path);
// Lets the main thread deliver queued calls, deferred deletes and pending
// inotify events (a few rounds, never waiting).
void settle();
}

#define LG_TEST(Class) \
    static const int lg_registered_##Class = ::lg::test::registerTest(#Class, [] { return new Class; });
