#include "output.h"

#include <QByteArray>
#include <cerrno>

namespace brumlis {

void Output::write(QStringView text) {
    write(QByteArrayView(text.toUtf8()));
}

void Output::write(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, std::size_t(bytes.size()), m_stream) !=
        std::size_t(bytes.size()))
        throw WriteFailed{errno != 0 ? errno : EIO};
}

void Output::flush() {
    errno = 0;
    if (std::fflush(m_stream) != 0 || std::ferror(m_stream))
        throw WriteFailed{errno != 0 ? errno : EIO};
}

} // namespace brumlis
