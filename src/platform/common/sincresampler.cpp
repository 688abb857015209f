#include "sincresampler.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <numeric>
#include <utility>

namespace brumlis::platform {

namespace {

// The filter, in terms of the lower of the two rates: flat to 0.45 of it, fully down
// (about 100 dB) from 0.5 of it, where the lower rate's Nyquist frequency folds.
constexpr double PassEdge = 0.45;
constexpr double StopEdge = 0.5;
constexpr double Cutoff = (PassEdge + StopEdge) / 2;
// Kaiser's estimate for 100 dB over that transition wants 128 taps at the lower rate.
constexpr double Radius = 64.0; // half the filter's length, in samples of the lower rate
constexpr double Beta = 9.9;    // 0.1102 * (100 - 8.7)
// Rates whose ratio has more phases than this are served by interpolating between rows.
constexpr std::int64_t MaxExactTable = std::int64_t(1) << 18;
constexpr double Pi = 3.14159265358979323846;
// Going down, the filter grows with the ratio: at 1024 it is 131072 taps an output frame.
constexpr std::int64_t MaxDownRatio = 1024;

// The zeroth modified Bessel function of the first kind, by its series.
double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    const double quarter = x * x / 4.0;
    for (int k = 1; k < 64; ++k) {
        term *= quarter / (double(k) * double(k));
        sum += term;
        if (term < sum * 1e-17)
            break;
    }
    return sum;
}

float dot(const float* a, const float* b, int n) {
    // Eight sums side by side: no chain of additions waits on the one before, and the
    // compiler can keep them in vector registers.
    float s[8] = {};
    for (int i = 0; i < n; i += 8)
        for (int j = 0; j < 8; ++j)
            s[j] += a[i + j] * b[i + j];
    return ((s[0] + s[4]) + (s[1] + s[5])) + ((s[2] + s[6]) + (s[3] + s[7]));
}

} // namespace

std::unique_ptr<SincResampler> SincResampler::create(int inputRate, int outputRate, int channels) {
    if (inputRate <= 0 || outputRate <= 0 || channels <= 0 ||
        std::int64_t(inputRate) > MaxDownRatio * outputRate)
        return nullptr;
    return std::unique_ptr<SincResampler>(new SincResampler(inputRate, outputRate, channels));
}

SincResampler::SincResampler(int inputRate, int outputRate, int channels)
    : m_channels(channels) {
    const std::int64_t common = std::gcd(std::int64_t(inputRate), std::int64_t(outputRate));
    m_up = outputRate / common;
    m_down = inputRate / common;
    // Going down, the filter is the lower rate's, stretched over more input samples.
    const double stretch = std::max(1.0, double(inputRate) / double(outputRate));
    m_half = int(std::ceil(Radius * stretch)) + 1;
    m_taps = (2 * m_half + 7) / 8 * 8;
    m_exact = m_up * std::int64_t(m_taps) <= MaxExactTable;
    // Interpolating linearly between rows errs by about (pi f / rows)^2 / 8 of a tap for a
    // signal of f cycles per input sample: at 256 rows per cycle, -94 dB.
    m_rows = m_exact ? m_up : std::max<std::int64_t>(16, std::int64_t(std::ceil(256.0 / stretch)));
    m_table = tableFor(stretch);
    m_history.resize(std::size_t(channels));
    restart();
}

std::shared_ptr<const std::vector<float>> SincResampler::tableFor(double stretch) const {
    // A few pairs of rates in a run: the recordings' and the device's. Rates that keep
    // changing (a folder of odd files) only ever keep the last few tables. The cache is
    // never destroyed, as a thread left behind at exit may still open a resampler.
    using Tables =
        std::map<std::pair<std::int64_t, std::int64_t>, std::shared_ptr<const std::vector<float>>>;
    static auto* const mutex = new std::mutex;
    static auto* const tables = new Tables;
    const std::lock_guard lock(*mutex);
    const auto key = std::pair(m_up, m_down);
    if (const auto found = tables->find(key); found != tables->end())
        return found->second;
    if (tables->size() >= 8)
        tables->clear();
    auto table = std::make_shared<const std::vector<float>>(buildTable(stretch));
    tables->emplace(key, table);
    return table;
}

std::vector<float> SincResampler::buildTable(double stretch) const {
    const auto taps = std::size_t(m_taps);
    const std::int64_t rows = m_exact ? m_rows : m_rows + 1;
    std::vector<float> table(std::size_t(rows) * taps, 0.0f);
    const double cutoff = Cutoff / stretch; // cycles per input sample
    const double radius = Radius * stretch;
    const double norm = besselI0(Beta);
    std::vector<double> row(taps);
    for (std::int64_t r = 0; r < rows; ++r) {
        // This row serves output times `fraction` of an input sample past the base frame.
        const double fraction = double(r) / double(m_rows);
        double sum = 0.0;
        for (std::size_t k = 0; k < taps; ++k) {
            const double d = fraction + double(m_half - 1) - double(k);
            double h = 0.0;
            if (std::abs(d) < radius) {
                const double x = d / radius;
                const double window = besselI0(Beta * std::sqrt(1.0 - x * x)) / norm;
                const double arg = 2.0 * cutoff * d;
                const double sinc = arg == 0.0 ? 1.0 : std::sin(Pi * arg) / (Pi * arg);
                h = 2.0 * cutoff * sinc * window;
            }
            row[k] = h;
            sum += h;
        }
        // Each phase passes a constant as it is: no ripple at the rate of the phases.
        for (std::size_t k = 0; k < taps; ++k)
            table[std::size_t(r) * taps + k] = float(row[k] / sum);
    }
    return table;
}

void SincResampler::restart() {
    // Before the first frame the input is silence: the first output frame needs half a
    // filter of it.
    for (std::vector<float>& channel : m_history)
        channel.assign(std::size_t(m_half - 1), 0.0f);
    m_historyStart = -(m_half - 1);
    m_received = 0;
    m_produced = 0;
    m_base = 0;
    m_phase = 0;
}

bool SincResampler::process(const float* in, std::int64_t frames, std::vector<float>& out,
                            bool last) {
    if (frames < 0 || (frames > 0 && !in))
        return false;
    const auto channels = std::size_t(m_channels);
    for (std::size_t c = 0; c < channels; ++c) {
        std::vector<float>& history = m_history[c];
        const std::size_t at = history.size();
        history.resize(at + std::size_t(frames));
        for (std::int64_t f = 0; f < frames; ++f)
            history[at + std::size_t(f)] = in[std::size_t(f) * channels + c];
    }
    m_received += frames;
    if (!last) {
        run(out, -1);
        return true;
    }
    // round(received * out / in), every frame of it: past the input, silence.
    const std::int64_t total = (2 * m_received * m_up + m_down) / (2 * m_down);
    for (std::vector<float>& history : m_history)
        history.resize(history.size() + std::size_t(m_taps) + 1, 0.0f);
    run(out, total);
    restart();
    return true;
}

void SincResampler::run(std::vector<float>& out, std::int64_t until) {
    const auto channels = std::size_t(m_channels);
    const auto taps = std::size_t(m_taps);
    const std::int64_t available = m_historyStart + std::int64_t(m_history[0].size());
    for (;;) {
        if (until >= 0 ? m_produced >= until
                       : m_base - m_half + m_taps >= m_received) // its last tap not yet given
            break;
        const auto from = std::size_t(m_base - m_half + 1 - m_historyStart);
        if (m_base - m_half + m_taps >= available)
            break; // cannot happen: the silence after the end covers the filter
        const std::size_t at = out.size();
        out.resize(at + channels);
        if (m_exact) {
            const float* row = m_table->data() + std::size_t(m_phase) * taps;
            for (std::size_t c = 0; c < channels; ++c)
                out[at + c] = dot(row, m_history[c].data() + from, m_taps);
        } else {
            const std::int64_t scaled = m_phase * m_rows;
            const std::int64_t r = scaled / m_up;
            const float weight = float(double(scaled - r * m_up) / double(m_up));
            const float* row = m_table->data() + std::size_t(r) * taps;
            for (std::size_t c = 0; c < channels; ++c) {
                const float* x = m_history[c].data() + from;
                const float a = dot(row, x, m_taps);
                const float b = dot(row + taps, x, m_taps);
                out[at + c] = a + weight * (b - a);
            }
        }
        ++m_produced;
        m_phase += m_down;
        m_base += m_phase / m_up;
        m_phase %= m_up;
    }
    // What no later frame reaches goes.
    const std::int64_t needed = m_base - m_half + 1;
    const std::int64_t drop =
        std::min<std::int64_t>(needed - m_historyStart, std::int64_t(m_history[0].size()));
    if (drop > 0) {
        for (std::vector<float>& history : m_history)
            history.erase(history.begin(), history.begin() + std::ptrdiff_t(drop));
        m_historyStart += drop;
    }
}

} // namespace brumlis::platform
