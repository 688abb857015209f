#include "brumlis/audio/clipdecoder.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brumlis {

ClipDecoder::~ClipDecoder() {
    close();
}

void ClipDecoder::close() {
    if (m_file)
        sf_close(m_file);
    if (m_fd >= 0)
        ::close(m_fd);
    m_file = nullptr;
    m_fd = -1;
    m_held.reset();
    m_heldAt = 0;
    m_rate = 0;
    m_channels = 0;
}

bool ClipDecoder::open(const QByteArray& path) {
    close();
    m_problem = Problem::Missing;
    if (path.isEmpty())
        return false;

    // Look before opening: opening a FIFO may block and opening a device may do things.
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return false;
    m_problem = S_ISREG(st.st_mode) ? Problem::Undecodable : Problem::NotRegular;
    if (!S_ISREG(st.st_mode) || st.st_size == 0)
        return false;
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    // The name may have been replaced between the two calls; trust only what was opened.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_problem = Problem::NotRegular;
        ::close(fd);
        return false;
    }

    // The descriptor stays ours on every path, so it is closed exactly once.
    m_fd = fd;
    SF_INFO info{};
    m_file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    if (!m_file || info.channels < 1 || info.channels > MaxChannels || info.samplerate < MinRate ||
        info.samplerate > MaxRate) {
        const bool decodable = m_file != nullptr;
        close();
        m_problem = decodable ? Problem::Refused : Problem::Undecodable;
        return false;
    }
    m_problem = Problem::None;
    m_rate = info.samplerate;
    m_channels = info.channels;
    return true;
}

bool ClipDecoder::open(std::shared_ptr<const std::vector<float>> samples, int rate) {
    close();
    m_problem = Problem::Undecodable;
    if (!samples || samples->empty())
        return false;
    if (rate < MinRate || rate > MaxRate) {
        m_problem = Problem::Refused;
        return false;
    }
    m_problem = Problem::None;
    m_held = std::move(samples);
    m_rate = rate;
    m_channels = 1;
    return true;
}

std::int64_t ClipDecoder::read(float* out, std::int64_t frames) {
    if (frames <= 0)
        return 0;
    if (m_held) {
        const std::size_t n = std::min(std::size_t(frames), m_held->size() - m_heldAt);
        std::memcpy(out, m_held->data() + m_heldAt, n * sizeof(float));
        m_heldAt += n;
        return std::int64_t(n);
    }
    if (!m_file)
        return 0;
    const sf_count_t got = sf_readf_float(m_file, out, frames);
    return got > 0 ? got : 0;
}

} // namespace brumlis
