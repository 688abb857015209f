// What every platform's InputFile does the same way, on its read().
#include "brumlis/platform/files.h"

#include <array>

namespace brumlis::platform {

InputFile::Whole InputFile::readAll(std::string& out, std::int64_t limit,
                                    const std::function<void(std::int64_t)>& progress) {
    out.resize(0); // keeps the storage
    if (!isOpen())
        return Whole::Failed;
    if (m_stamp.size > limit)
        return Whole::TooLarge;
    out.reserve(std::size_t(m_stamp.size));
    std::array<char, 64 * 1024> chunk;
    for (;;) {
        const std::int64_t n = read(chunk.data(), std::int64_t(chunk.size()));
        if (n == 0)
            return Whole::Read;
        if (n < 0)
            return Whole::Failed;
        out.append(chunk.data(), std::size_t(n));
        if (std::int64_t(out.size()) > limit)
            return Whole::TooLarge;
        if (progress)
            progress(std::int64_t(out.size()));
    }
}

} // namespace brumlis::platform
