#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace brumlis {

/// A 16-bit PCM WAV file with `samples` (interleaved) as its contents, made by libsndfile.
/// Empty when libsndfile refuses the format.
QByteArray encodeWav(const std::vector<std::int16_t>& samples, int rate, int channels);

/// Floats in [-1, 1] to 16-bit samples, rounded, clipped at full scale.
std::vector<std::int16_t> toPcm16(const std::vector<float>& samples);

/// Writes `bytes` to `path` so that the name never shows a half-written file: the bytes go
/// to a temporary file in the same folder, are flushed to disk, and the file is then
/// renamed over `path`. On failure nothing is left behind, an existing `path` is kept as
/// it was, and `error` (when given) says why in Swedish.
bool writeFileAtomically(const QString& path, QByteArrayView bytes, QString* error = nullptr);

} // namespace brumlis
