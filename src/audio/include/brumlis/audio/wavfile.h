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

/// Writes `bytes` to `path` so that the name never shows a half-written file: the bytes go
/// to a temporary file in the same folder, are flushed to disk, and the file is then
/// renamed over `path` (over the file it names, when `path` is a link to one). On failure
/// nothing is left behind, an existing `path` is kept as it was, and `error` (when given)
/// says why in Swedish. A `path` that is not a regular file (a device, a FIFO, /dev/stdout
/// on a pipe or terminal) cannot be replaced by one: it is written in place, and a device
/// that refuses the bytes (a full disk) is a failure too.
bool writeFileAtomically(const QString& path, QByteArrayView bytes, QString* error = nullptr);

/// True when `path`, followed through links, exists and is not a regular file.
bool isSpecialFile(const QString& path);

/// Writes the bytes of the file at `source` into `path` as it stands: for output that goes
/// to a device or FIFO, where writeFileAtomically() would write in place too.
bool copyInPlace(const QString& source, const QString& path, QString* error = nullptr);

} // namespace brumlis
