#pragma once

#include "folderreport.h"

#include <QByteArray>
#include <vector>

namespace brumlis {

/// Loudness a new recording gets when the folder has none to match.
inline constexpr double DefaultLufs = -23.0;
/// New recordings peak at most this high, so matching loudness never clips.
inline constexpr double MaxPeakDbfs = -1.0;

/// `samples` without the silence before the first and after the last sample at
/// SilenceLevel (mono). Empty when it holds nothing else.
std::vector<float> trimSilence(const std::vector<float>& samples);

/// Scales mono `samples` at `rate` to `targetLufs`, but no higher than MaxPeakDbfs at its peak.
/// Silence stays as it is.
void matchLoudness(std::vector<float>& samples, int rate, double targetLufs);

/// The median loudness of the recordings at `files`, or DefaultLufs when none has one.
double targetLoudness(const QList<QByteArray>& files);

/// The same from recordings measured already: the median of those in `recordings` other
/// than the file at `replacing` (file-system bytes, as RecordingReport::file), so a new
/// take of a word is matched to the rest of the voice and not to its own last take.
double targetLoudness(const std::vector<RecordingReport>& recordings,
                      const QByteArray& replacing = {});

/// A finished recording as voice and the studio write it: mono `samples` at `rate` set to
/// `targetLufs` (see matchLoudness), as a 16-bit PCM WAV file with `software` in its software
/// field. Empty when libsndfile cannot encode it.
QByteArray makeRecording(std::vector<float> samples, int rate, double targetLufs,
                         const char* software);

} // namespace brumlis
