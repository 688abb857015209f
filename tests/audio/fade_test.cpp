#include "brumlis/audio/fade.h"

#include <gtest/gtest.h>
#include <vector>

namespace brumlis {
namespace {

// The gains a full-scale clip is left with, frame by frame: the same at both ends, never
// quite 0 or 1, the middle untouched, and a clip too short for two fades faded over half.
TEST(Fade, EdgesOfAClipAreFadedAlikeAndNeverToNothing) {
    constexpr float In = 0.14644661f;  // 0.5 - 0.5 cos(pi / 4)
    constexpr float Out = 0.85355339f; // 0.5 - 0.5 cos(3 pi / 4)
    struct Case {
        const char* name;
        int channels;
        std::int64_t fadeFrames;
        std::vector<float> gains; // one a frame
    };
    const Case cases[] = {
        {"mono, two-frame fades", 1, 2, {In, Out, 1, 1, Out, In}},
        {"stereo, too short for two fades", 2, 4, {In, Out, 1, Out, In}},
        {"one frame", 1, 4, {1}},
        {"no fade", 1, 0, {1, 1, 1}},
        {"nothing", 1, 4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto frames = std::int64_t(c.gains.size());
        std::vector<float> samples(c.gains.size() * std::size_t(c.channels), 1.0f);
        fadeEdges(samples.data(), frames, c.channels, c.fadeFrames);
        for (std::size_t i = 0; i < samples.size(); ++i)
            EXPECT_FLOAT_EQ(samples[i], c.gains[i / std::size_t(c.channels)]) << "sample " << i;
    }
}

} // namespace
} // namespace brumlis
