#pragma once

#include <cstdio>
#include <string_view>

namespace brumlis {

/// Thrown by Output when its stream refuses a write (a full disk, a closed pipe): the
/// command stops at once, and runCli reports it in one line and exits non-zero.
struct WriteFailed {
    int error; ///< errno of the failed call
};

/// A checked stdio stream: every write and flush is checked, and the first failure is
/// thrown as WriteFailed instead of being ignored.
class Output {
public:
    explicit Output(std::FILE* stream)
        : m_stream(stream) {}

    /// Writes `text` as UTF-8.
    void write(std::u16string_view text);
    void write(std::string_view bytes);
    /// Hands what is buffered to the system, so a reader sees it now.
    void flush();

    std::FILE* stream() const { return m_stream; }

private:
    std::FILE* m_stream;
};

} // namespace brumlis
