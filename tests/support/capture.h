#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

namespace brumlis::test {

/// The index of the level in `levels` nearest to `value`.
inline int nearestLevel(float value, const std::vector<float>& levels) {
    int nearest = 0;
    for (int c = 1; c < int(levels.size()); ++c)
        if (std::fabs(value - levels[std::size_t(c)]) <
            std::fabs(value - levels[std::size_t(nearest)]))
            nearest = c;
    return nearest;
}

/// What a capture of constant-level clips holds: each clip's run in order, and the frames
/// of silence between the first and the last clip.
struct Heard {
    struct Run {
        int clip;
        long frames; ///< sound only: silence inside the run is not counted
        long start;  ///< index in the capture of its first frame
    };
    std::vector<Run> runs;
    long zerosInside = 0;
    /// Where silence was found, as the index of the run it came before.
    std::vector<std::size_t> silenceBefore;
};

/// "clip:frames@start ..." for a test's failure message.
inline std::string describe(const Heard& heard) {
    std::string text;
    for (const Heard::Run& r : heard.runs)
        text += std::to_string(r.clip) + ":" + std::to_string(r.frames) + "@" +
                std::to_string(r.start) + " ";
    return text + "silence " + std::to_string(heard.zerosInside);
}

/// Cuts a capture into the clips at `levels` (index = clip) it holds. A frame within
/// `tolerance` of a level is that clip's; frames of silence (exact zeros) before the first
/// and after the last clip are left out. Every clip is faded in and out as the program
/// converts it, so between two clips the level passes close to nothing: the frames between
/// two clips' levels are split where they come closest to it. Clips must be longer than a
/// few dozen frames.
inline Heard analyse(const std::vector<float>& left, const std::vector<float>& levels,
                     float tolerance = 0.02f) {
    Heard heard;
    std::size_t first = 0, last = left.size();
    while (first < last && left[first] == 0.0f)
        ++first;
    while (last > first && left[last - 1] == 0.0f)
        --last;
    // Runs of frames at one clip's level: [begin, end).
    struct Plateau {
        int clip;
        std::size_t begin, end;
    };
    std::vector<Plateau> plateaus;
    for (std::size_t i = first; i < last; ++i) {
        const float v = left[i];
        if (v == 0.0f)
            continue;
        const int c = nearestLevel(v, levels);
        if (std::fabs(v - levels[std::size_t(c)]) > tolerance)
            continue;
        if (!plateaus.empty() && plateaus.back().clip == c && plateaus.back().end == i)
            plateaus.back().end = i + 1;
        else
            plateaus.push_back({c, i, i + 1});
    }
    // A fade passes other clips' levels on its way: only a clip holds its level for long.
    // What is left of one clip, past silence inside it, is one run.
    constexpr std::size_t MinPlateau = 24;
    std::vector<Plateau> held;
    for (const Plateau& p : plateaus) {
        if (p.end - p.begin < MinPlateau)
            continue;
        if (!held.empty() && held.back().clip == p.clip)
            held.back().end = p.end;
        else
            held.push_back(p);
    }
    plateaus = held;
    if (plateaus.empty())
        return heard;
    // Each clip reaches back to where the one before came closest to silence.
    std::vector<std::size_t> starts{first};
    for (std::size_t p = 1; p < plateaus.size(); ++p) {
        std::size_t split = plateaus[p].begin;
        float quietest = HUGE_VALF;
        for (std::size_t i = plateaus[p - 1].end; i < plateaus[p].begin; ++i)
            if (left[i] != 0.0f && std::fabs(left[i]) < quietest) {
                quietest = std::fabs(left[i]);
                split = i;
            }
        starts.push_back(split);
    }
    starts.push_back(last);
    for (std::size_t p = 0; p < plateaus.size(); ++p) {
        Heard::Run run{plateaus[p].clip, 0, long(starts[p])};
        long zeros = 0;
        for (std::size_t i = starts[p]; i < starts[p + 1]; ++i)
            (left[i] == 0.0f ? zeros : run.frames) += 1;
        if (zeros > 0) {
            heard.zerosInside += zeros;
            heard.silenceBefore.push_back(p);
        }
        heard.runs.push_back(run);
    }
    return heard;
}

} // namespace brumlis::test
