#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace brumlis {

/// A 16-bit PCM WAV file with `samples` (interleaved) as its contents, made by libsndfile,
/// with `software` (when given) in its software field. Empty when libsndfile refuses the
/// format.
QByteArray encodeWav(const std::vector<std::int16_t>& samples, int rate, int channels,
                     const char* software = nullptr);

/// A mono 32-bit float WAV file holding `samples` exactly, as a raw take is kept.
QByteArray encodeFloatWav(const std::vector<float>& samples, int rate, const char* software);

/// What a sound file's header says.
struct SoundFileInfo {
    int rate = 0;
    int channels = 0;
    std::int64_t frames = 0;
    QByteArray software; ///< the software field; empty when there is none
};

/// The header of the sound file at `path` (file-system bytes); nothing when it is not a
/// regular file libsndfile can open. Never blocks on a FIFO or device.
std::optional<SoundFileInfo> soundFileInfo(const QByteArray& path);

/// The software field of the recording at `path`; empty when it has none or cannot be read.
QByteArray recordingSoftware(const QByteArray& path);

/// Floats in [-1, 1] to 16-bit samples, rounded, clipped at full scale.
std::vector<std::int16_t> toPcm16(const std::vector<float>& samples);

} // namespace brumlis
