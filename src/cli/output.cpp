#include "output.h"

#include "brumlis/platform/console.h"
#include "brumlis/text/text.h"

#include <cerrno>

namespace brumlis {

void Output::write(std::u16string_view text) {
    write(std::string_view(toUtf8(text)));
}

void Output::write(std::string_view bytes) {
    if (bytes.empty())
        return;
    if (bool failed = false; platform::writeToConsole(m_stream, bytes, &failed)) {
        if (failed)
            throw WriteFailed{EIO};
        return;
    }
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), m_stream) != bytes.size())
        throw WriteFailed{errno != 0 ? errno : EIO};
}

void Output::flush() {
    errno = 0;
    if (std::fflush(m_stream) != 0 || std::ferror(m_stream))
        throw WriteFailed{errno != 0 ? errno : EIO};
}

} // namespace brumlis
