#pragma once
// An environment variable set for the life of the object, the old value (or
// its absence) put back after. Main thread only: other threads may read the
// environment meanwhile only where the test starts none.
#include <QByteArray>
#include <QtGlobal>

namespace lg::test {

class ScopedVariable
{
public:
    ScopedVariable(const char *name, const QByteArray &value)
        : m_name(name), m_saved(qgetenv(name)), m_was(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~ScopedVariable()
    {
        if (m_was)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }
    ScopedVariable(const ScopedVariable &) = delete;
    ScopedVariable &operator=(const ScopedVariable &) = delete;

private:
    const char *m_name;
    QByteArray m_saved;
    bool m_was;
};

} // namespace lg::test
