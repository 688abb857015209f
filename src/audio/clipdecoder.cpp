#include "brumlis/audio/clipdecoder.h"

#include <algorithm>
#include <cstring>

namespace brumlis {

ClipDecoder::~ClipDecoder() {
    close();
}

void ClipDecoder::close() {
    m_sound.reset();
    m_file.close();
    m_held.reset();
    m_heldAt = 0;
    m_rate = 0;
    m_channels = 0;
}

bool ClipDecoder::open(const std::filesystem::path& path) {
    close();
    m_problem = Problem::Missing;
    if (path.empty())
        return false;
    if (!m_file.open(path)) {
        using FileProblem = platform::InputFile::Problem;
        const FileProblem why = m_file.problem();
        m_problem = why == FileProblem::Missing      ? Problem::Missing
                    : why == FileProblem::NotRegular ? Problem::NotRegular
                                                     : Problem::Undecodable;
        return false;
    }
    m_problem = Problem::Undecodable;
    if (m_file.stamp().size == 0) {
        close();
        return false;
    }
    m_sound = platform::SoundDecoder::open(m_file);
    if (!m_sound || m_sound->channels() < 1 || m_sound->channels() > MaxChannels ||
        m_sound->rate() < MinRate || m_sound->rate() > MaxRate) {
        const bool decodable = m_sound != nullptr;
        close();
        m_problem = decodable ? Problem::Refused : Problem::Undecodable;
        return false;
    }
    m_problem = Problem::None;
    m_rate = m_sound->rate();
    m_channels = m_sound->channels();
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
    return m_sound ? m_sound->read(out, frames) : 0;
}

} // namespace brumlis
