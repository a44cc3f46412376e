#pragma once
// Collects what the code under test prints to standard output, for the
// diagnostic lines. Keep the captured span short: test failures reported
// inside it end up in the capture too.
#include <QByteArray>
#include <cstdio>
#include <unistd.h>

namespace lg::test {

class CaptureStdout
{
public:
    CaptureStdout()
    {
        std::fflush(stdout);
        m_file = std::tmpfile();
        m_saved = ::dup(STDOUT_FILENO);
        if (m_file && m_saved >= 0)
            ::dup2(::fileno(m_file), STDOUT_FILENO);
    }
    ~CaptureStdout() { finish(); }
    CaptureStdout(const CaptureStdout &) = delete;
    CaptureStdout &operator=(const CaptureStdout &) = delete;

    // Stops capturing and returns everything printed since the start.
    QByteArray finish()
    {
        if (!m_file)
            return m_text;
        std::fflush(stdout);
        if (m_saved >= 0) {
            ::dup2(m_saved, STDOUT_FILENO);
            ::close(m_saved);
            m_saved = -1;
        }
        std::rewind(m_file);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
            m_text.append(buffer, qsizetype(n));
        std::fclose(m_file);
        m_file = nullptr;
        return m_text;
    }

private:
    std::FILE *m_file = nullptr;
    int m_saved = -1;
    QByteArray m_text;
};

} // namespace lg::test
