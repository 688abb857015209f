#pragma once

#include <QFile>
#include <QString>
#include <algorithm>
#include <sndfile.h>
#include <vector>

namespace brumlis::test {

/// Writes a WAV clip that holds `level` in every sample, so that any silence inserted
/// around it shows up as zeros in a captured stream and every frame can be counted; after
/// `silenceBefore` frames of zeros, if asked for. Written in pieces, so even a ten-minute
/// clip needs little memory. False on failure.
inline bool writeLevelClip(const QString& path, int format, int rate, int channels, long frames,
                           float level, long silenceBefore = 0) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    const auto put = [file, channels](float value, long count) {
        constexpr long Piece = 4096;
        const std::vector<float> samples(std::size_t(Piece) * std::size_t(channels), value);
        for (long done = 0; done < count;) {
            const long n = std::min(Piece, count - done);
            if (sf_writef_float(file, samples.data(), n) != n)
                return false;
            done += n;
        }
        return true;
    };
    const bool written = put(0.0f, silenceBefore) && put(level, frames);
    return sf_close(file) == 0 && written;
}

} // namespace brumlis::test
