#include "take.h"

#include "brumlis/qtbridge/text.h"
#include "brumlis/text/swedish.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace brumlis {

namespace {

// Seconds as the cut is shown: to the hundredth, which is the step it moves by.
QString cutSeconds(std::int64_t frames, int rate) {
    return qt(swedishDecimal(double(frames) / rate, 2));
}

} // namespace

std::vector<float> takeOutline(const std::vector<float>& samples, int rate) {
    const auto window = std::max<std::size_t>(1, std::size_t(std::lround(OutlineSeconds * rate)));
    std::vector<float> peaks;
    peaks.reserve(samples.size() / window + 1);
    for (std::size_t at = 0; at < samples.size(); at += window) {
        const auto end = samples.begin() + std::ptrdiff_t(std::min(samples.size(), at + window));
        float peak = 0.0f;
        for (auto s = samples.begin() + std::ptrdiff_t(at); s != end; ++s)
            peak = std::max(peak, std::fabs(*s));
        peaks.push_back(peak);
    }
    return peaks;
}

void measureCut(StudioSession::Take& take, std::optional<double> median) {
    take.figures = measureTake(take.raw, take.trim, take.rate);
    take.warnings = takeWarnings(take.figures, median);
    if (!take.voiced)
        take.warnings.prepend(QStringLiteral("ingen röst hittad"));
}

StudioSession::Take analyseTake(std::vector<float> raw, int rate, std::optional<double> median,
                                std::optional<TrimPoints> kept) {
    StudioSession::Take take;
    take.rate = rate;
    const std::optional<TrimPoints> found = findTrim(raw, rate);
    take.voiced = found.has_value();
    take.autoTrim = found.value_or(TrimPoints{0, std::int64_t(raw.size())});
    take.trim = kept.value_or(take.autoTrim);
    take.outline = takeOutline(raw, rate);
    take.raw = std::move(raw);
    measureCut(take, median);
    take.trimFile = std::make_shared<StudioSession::TrimFile>();
    return take;
}

std::vector<float> cutClip(const StudioSession::Take& take) {
    return applyTrim(take.raw, take.trim, take.rate);
}

QString takeRowText(const StudioSession::Take& take, int index) {
    QString text = QStringLiteral("Tagning %1: %2 LUFS, topp %3 dBFS, %4 s")
                       .arg(take.number > 0 ? take.number : index + 1)
                       .arg(qt(swedishDecimal(take.figures.clip.loudnessLufs, 1)))
                       .arg(qt(swedishDecimal(take.figures.clip.peakDbfs, 1)))
                       .arg(qt(swedishDecimal(take.figures.clip.seconds(), 2)));
    if (!take.warnings.isEmpty())
        text += QStringLiteral(" – ") + take.warnings.join(QStringLiteral(", "));
    return text;
}

QString takeFiguresText(const StudioSession::Take& take, std::optional<double> median) {
    QString text = QStringLiteral("Ljudstyrka %1 LUFS (rösten: %2 LUFS), topp %3 dBFS, brusgolv "
                                  "%4 dBFS, %5.")
                       .arg(qt(swedishDecimal(take.figures.clip.loudnessLufs, 1)),
                            median ? qt(swedishDecimal(*median, 1)) : QStringLiteral("-"),
                            qt(swedishDecimal(take.figures.clip.peakDbfs, 1)),
                            qt(swedishDecimal(take.figures.noiseFloorDbfs, 0)),
                            take.figures.clipped ? QStringLiteral("överstyrd")
                                                 : QStringLiteral("inte överstyrd"));
    if (!take.warnings.isEmpty())
        text += QStringLiteral(" Obs: ") + take.warnings.join(QStringLiteral(", ")) + u'.';
    return text;
}

QString takeCutText(const StudioSession::Take& take) {
    return QStringLiteral("Klipp %1–%2 s av %3 s, %4")
        .arg(cutSeconds(take.trim.start, take.rate), cutSeconds(take.trim.end, take.rate),
             cutSeconds(std::int64_t(take.raw.size()), take.rate),
             take.trim == take.autoTrim ? QStringLiteral("automatiskt")
                                        : QStringLiteral("flyttat"));
}

} // namespace brumlis
