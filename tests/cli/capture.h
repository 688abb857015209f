#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <cstdlib>

namespace brumlis::test {

/// A real FILE stream whose bytes stay in memory: what runCli writes to stdout or stderr,
/// captured in the test's own process.
class Capture {
public:
    Capture()
        : m_stream(open_memstream(&m_buffer, &m_size)) {}
    ~Capture() {
        if (m_stream)
            std::fclose(m_stream);
        std::free(m_buffer);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::FILE* stream() const { return m_stream; }
    QByteArray bytes() {
        std::fflush(m_stream);
        return QByteArray(m_buffer, qsizetype(m_size));
    }
    QString text() { return QString::fromUtf8(bytes()); }

private:
    char* m_buffer = nullptr;
    std::size_t m_size = 0;
    std::FILE* m_stream;
};

} // namespace brumlis::test
