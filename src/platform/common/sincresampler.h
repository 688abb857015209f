#pragma once
// A resampler in standard C++ for the platforms without one of their own: a windowed-sinc
// filter in polyphase form, linear in phase and centred, so that output frame n is the
// input's value at time n * inputRate / outputRate. A click stays where it was.
#include "brumlis/platform/sound.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace brumlis::platform {

class SincResampler final : public Resampler {
public:
    /// Null when a rate or the channels are not positive, or the input rate is more than
    /// 1024 times the output's.
    static std::unique_ptr<SincResampler> create(int inputRate, int outputRate, int channels);

    /// After `last` the output holds round(frames * outputRate / inputRate) frames in all,
    /// and the resampler starts over with the next call.
    bool process(const float* in, std::int64_t frames, std::vector<float>& out, bool last) override;

    /// Input frames the filter reaches on either side of the time it is computed for.
    int reach() const { return m_half; }

private:
    SincResampler(int inputRate, int outputRate, int channels);
    std::vector<float> buildTable(double stretch) const;
    // The table for these rates: made once for each pair, as every word opens a resampler.
    std::shared_ptr<const std::vector<float>> tableFor(double stretch) const;
    void restart();
    // Output frames while the input they need is there; with `until` set, up to that many
    // frames in all, the input past what was given being silence.
    void run(std::vector<float>& out, std::int64_t until);

    int m_channels;
    std::int64_t m_up;   // output rate over the rates' greatest common divisor
    std::int64_t m_down; // input rate over it
    int m_half;          // the filter's taps reach from base - half + 1 ...
    int m_taps;          // ... to base - half + taps, a multiple of 8
    // Either one row of taps per phase (m_up rows, exact), or `m_rows + 1` rows at even steps
    // with the taps between two rows interpolated, for rates whose ratio has many phases.
    bool m_exact = true;
    std::int64_t m_rows = 0;
    std::shared_ptr<const std::vector<float>> m_table;

    std::vector<std::vector<float>> m_history; // per channel, from input frame m_historyStart
    std::int64_t m_historyStart = 0;
    std::int64_t m_received = 0; // input frames given since the start
    std::int64_t m_produced = 0; // output frames made since the start
    std::int64_t m_base = 0;     // floor(m_produced * m_down / m_up)
    std::int64_t m_phase = 0;    // m_produced * m_down mod m_up
};

} // namespace brumlis::platform
