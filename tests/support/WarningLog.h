#pragma once
// The warnings the code under test prints while a WarningLog lives, for tests
// of what the log says. Main thread; warnings from other threads are kept too.
#include <QStringList>
#include <QtGlobal>

namespace lg::test {

// Warnings printed while it lives.
struct WarningLog
{
    WarningLog()
    {
        lines().clear();
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtWarningMsg)
                lines() << text;
        });
    }
    ~WarningLog() { qInstallMessageHandler(previous); }
    static QStringList &lines()
    {
        static QStringList list;
        return list;
    }
    QtMessageHandler previous = nullptr;
};

} // namespace lg::test
