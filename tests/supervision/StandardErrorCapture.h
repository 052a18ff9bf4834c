#pragma once

#include <QByteArray>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

namespace Wardlamp::Test {

// Sends this process's standard error (fd 2) to a temporary file while it
// lives, so a test can check exactly what code wrote there; take() restores
// fd 2 and returns the bytes.
class StandardErrorCapture {
public:
    StandardErrorCapture()
    {
        std::fflush(stderr);
        m_file.open();
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StandardErrorCapture() { restore(); }
    StandardErrorCapture(const StandardErrorCapture&) = delete;
    StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;

    QByteArray take()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace Wardlamp::Test
