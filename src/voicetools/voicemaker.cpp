#include "voicemaker.h"

#include "loudness.h"
#include "wavfile.h"

#include <QList>
#include <algorithm>
#include <cmath>

namespace brumlis {

std::vector<float> trimSilence(const std::vector<float>& samples) {
    const auto loud = [](float s) { return std::fabs(s) >= SilenceLevel; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    if (first == samples.end())
        return {};
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
    return std::vector<float>(first, last);
}

void matchLoudness(std::vector<float>& samples, int rate, double targetLufs) {
    const ClipMeasure measure =
        measureSamples(samples.data(), std::int64_t(samples.size()), rate, 1);
    if (!std::isfinite(measure.loudnessLufs) || !std::isfinite(measure.peakDbfs))
        return;
    const double gainDb =
        std::min(targetLufs - measure.loudnessLufs, MaxPeakDbfs - measure.peakDbfs);
    const float gain = float(std::pow(10.0, gainDb / 20.0));
    for (float& s : samples)
        s *= gain;
}

double targetLoudness(const QList<QByteArray>& files) {
    std::vector<double> levels;
    for (const QByteArray& file : files)
        if (const auto measure = measureClip(file); measure && std::isfinite(measure->loudnessLufs))
            levels.push_back(measure->loudnessLufs);
    return median(std::move(levels)).value_or(DefaultLufs);
}

double targetLoudness(const std::vector<RecordingReport>& recordings, const QByteArray& replacing) {
    std::vector<double> levels;
    for (const RecordingReport& recording : recordings)
        if (recording.measure && std::isfinite(recording.measure->loudnessLufs) &&
            (replacing.isEmpty() || recording.file != replacing))
            levels.push_back(recording.measure->loudnessLufs);
    return median(std::move(levels)).value_or(DefaultLufs);
}

QByteArray makeRecording(std::vector<float> samples, int rate, double targetLufs,
                         const char* software) {
    matchLoudness(samples, rate, targetLufs);
    return encodeWav(toPcm16(samples), rate, 1, software);
}

} // namespace brumlis
