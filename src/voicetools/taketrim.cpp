#include "brumlis/voicetools/taketrim.h"

#include "brumlis/audio/decibels.h"
#include "brumlis/audio/fade.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/text/swedish.h"
#include "brumlis/voicetools/takedetector.h"

#include <algorithm>

namespace brumlis {

namespace {

constexpr int TrimWindowMs = 5;

std::size_t windowOf(int rate) {
    return std::max<std::size_t>(1, std::size_t(rate) * TrimWindowMs / 1000);
}

// Mean square of each whole window (the last, partial one included).
std::vector<double> windowPowers(const std::vector<float>& samples, int rate) {
    const std::size_t window = windowOf(rate);
    std::vector<double> powers;
    powers.reserve(samples.size() / window + 1);
    for (std::size_t at = 0; at < samples.size(); at += window) {
        const std::size_t end = std::min(samples.size(), at + window);
        double squares = 0.0;
        for (std::size_t i = at; i < end; ++i)
            squares += double(samples[i]) * samples[i];
        powers.push_back(squares / double(end - at));
    }
    return powers;
}

} // namespace

double noiseFloorDbfs(const std::vector<float>& samples, int rate) {
    std::vector<double> powers = windowPowers(samples, rate);
    if (powers.empty())
        return -HUGE_VAL;
    const auto tenth = powers.begin() + std::ptrdiff_t(powers.size() / 10);
    std::nth_element(powers.begin(), tenth, powers.end());
    return powerToDb(*tenth);
}

std::optional<TrimPoints> findSpeech(const std::vector<float>& samples, int rate,
                                     double thresholdDbfs) {
    const std::vector<double> powers = windowPowers(samples, rate);
    const double threshold = dbToPower(thresholdDbfs);
    const auto loud = [threshold](double p) { return p >= threshold; };
    const auto first = std::find_if(powers.begin(), powers.end(), loud);
    if (first == powers.end())
        return std::nullopt;
    const auto last = std::find_if(powers.rbegin(), powers.rend(), loud).base();
    const auto window = std::int64_t(windowOf(rate));
    return TrimPoints{
        std::int64_t(first - powers.begin()) * window,
        std::min(std::int64_t(samples.size()), std::int64_t(last - powers.begin()) * window)};
}

std::optional<TrimPoints> findTrim(const std::vector<float>& take, int rate) {
    const double threshold =
        std::max(noiseFloorDbfs(take, rate) + SpeechOverNoiseDb, QuietestSpeechDbfs);
    const std::optional<TrimPoints> speech = findSpeech(take, rate, threshold);
    if (!speech)
        return std::nullopt;
    const auto margin = std::int64_t(std::llround(TrimMarginSeconds * rate));
    return TrimPoints{std::max<std::int64_t>(0, speech->start - margin),
                      std::min(std::int64_t(take.size()), speech->end + margin)};
}

std::vector<float> applyTrim(const std::vector<float>& take, TrimPoints points, int rate) {
    const std::int64_t start = std::clamp<std::int64_t>(points.start, 0, std::int64_t(take.size()));
    const std::int64_t end = std::clamp<std::int64_t>(points.end, start, std::int64_t(take.size()));
    std::vector<float> clip(take.begin() + start, take.begin() + end);
    fadeEdges(clip.data(), std::int64_t(clip.size()), 1, std::llround(TrimFadeSeconds * rate));
    return clip;
}

bool hasClipping(const float* samples, std::size_t count) {
    int run = 0;
    for (std::size_t i = 0; i < count; ++i) {
        run = std::fabs(samples[i]) >= ClipLevel ? run + 1 : 0;
        if (run >= ClipRun)
            return true;
    }
    return false;
}

TakeFigures measureTake(const std::vector<float>& take, TrimPoints points, int rate) {
    TakeFigures figures;
    const std::vector<float> clip = applyTrim(take, points, rate);
    figures.clip = measureSamples(clip.data(), std::int64_t(clip.size()), rate, 1);
    figures.noiseFloorDbfs = noiseFloorDbfs(take, rate);
    figures.clipped = hasClipping(clip.data(), clip.size());
    return figures;
}

QStringList takeWarnings(const TakeFigures& figures, std::optional<double> medianLufs) {
    QStringList warnings;
    if (figures.clipped)
        warnings << QStringLiteral("överstyrd");
    const double lufs = figures.clip.loudnessLufs;
    if (!std::isfinite(lufs))
        warnings << QStringLiteral("tyst");
    else if (medianLufs && lufs < *medianLufs - TooQuietLu)
        warnings << QStringLiteral("för svag: %1 LU under rösten")
                        .arg(qt(swedishDecimal(*medianLufs - lufs, 1)));
    if (figures.noiseFloorDbfs >= NoisyFloorDbfs)
        warnings << QStringLiteral("brusig");
    return warnings;
}

} // namespace brumlis
