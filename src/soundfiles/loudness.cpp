#include "brumlis/soundfiles/loudness.h"

#include "brumlis/audio/decibels.h"

#include <algorithm>
#include <cmath>
#include <ebur128.h>

namespace brumlis {

namespace {

// EBU R128 measures in blocks of 400 ms. Most words are shorter than that, and a
// recording shorter than one block would have no loudness at all.
constexpr int BlockMs = 400;

ebur128_state* stateOf(void* state) {
    return static_cast<ebur128_state*>(state);
}

} // namespace

LoudnessMeter::LoudnessMeter(int rate, int channels)
    : m_rate(rate)
    , m_channels(channels)
    , m_state(ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                           EBUR128_MODE_I)) {
    m_measure.rate = rate;
    m_measure.channels = channels;
}

LoudnessMeter::~LoudnessMeter() {
    if (ebur128_state* state = stateOf(m_state))
        ebur128_destroy(&state);
}

void LoudnessMeter::add(const float* samples, std::int64_t frames) {
    if (frames <= 0)
        return;
    for (std::int64_t f = 0; f < frames; ++f) {
        bool sound = false;
        float edge = 0.0f;
        for (int c = 0; c < m_channels; ++c) {
            const float level = std::fabs(samples[f * m_channels + c]);
            m_peak = std::max(m_peak, level);
            edge = std::max(edge, level);
            sound |= level >= SilenceLevel;
        }
        if (m_measure.frames + f == 0)
            m_measure.firstEdge = edge;
        m_measure.lastEdge = edge;
        if (sound) {
            if (m_lastSound < 0)
                m_measure.leadingSilence = m_measure.frames + f;
            m_lastSound = m_measure.frames + f;
        }
    }
    const std::int64_t blockFrames = std::int64_t(m_rate) * BlockMs / 1000;
    if (m_measure.frames < blockFrames) {
        const std::int64_t keep = std::min(frames, blockFrames - m_measure.frames);
        m_opening.insert(m_opening.end(), samples, samples + keep * m_channels);
    }
    m_measure.frames += frames;
    if (m_state)
        ebur128_add_frames_float(stateOf(m_state), samples, std::size_t(frames));
}

ClipMeasure LoudnessMeter::finish() {
    ClipMeasure result = m_measure;
    if (m_lastSound < 0) {
        result.leadingSilence = result.frames;
        result.trailingSilence = 0;
    } else {
        result.trailingSilence = result.frames - 1 - m_lastSound;
    }
    result.peakDbfs = amplitudeToDb(m_peak);

    // A clip shorter than one block is measured as if it played over and over, which
    // keeps its level: padding it with silence would make short words seem quieter.
    const std::int64_t blockFrames = std::int64_t(m_rate) * BlockMs / 1000;
    if (m_state && result.frames > 0 && result.frames < blockFrames) {
        const std::int64_t openingFrames = std::int64_t(m_opening.size()) / m_channels;
        for (std::int64_t fed = result.frames; fed < blockFrames; fed += openingFrames)
            ebur128_add_frames_float(stateOf(m_state), m_opening.data(),
                                     std::size_t(openingFrames));
    }
    double lufs = -HUGE_VAL;
    if (m_state && ebur128_loudness_global(stateOf(m_state), &lufs) == EBUR128_SUCCESS)
        result.loudnessLufs = lufs;
    return result;
}

std::optional<ClipMeasure> measureClip(const QByteArray& path, ClipDecoder::Problem* problem) {
    ClipDecoder decoder;
    const bool opened = decoder.open(std::filesystem::path(path.toStdString()));
    if (problem)
        *problem = decoder.problem();
    if (!opened)
        return std::nullopt;
    LoudnessMeter meter(decoder.sampleRate(), decoder.channels());
    constexpr std::int64_t Chunk = 4096;
    std::vector<float> buffer(std::size_t(Chunk * decoder.channels()));
    while (const std::int64_t got = decoder.read(buffer.data(), Chunk))
        meter.add(buffer.data(), got);
    return meter.finish();
}

ClipMeasure measureSamples(const float* samples, std::int64_t frames, int rate, int channels) {
    LoudnessMeter meter(rate, channels);
    meter.add(samples, frames);
    return meter.finish();
}

std::optional<double> median(std::vector<double> values) {
    if (values.empty())
        return std::nullopt;
    const std::size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(mid), values.end());
    const double upper = values[mid];
    if (values.size() % 2 == 1)
        return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + std::ptrdiff_t(mid));
    return (lower + upper) / 2.0;
}

} // namespace brumlis
