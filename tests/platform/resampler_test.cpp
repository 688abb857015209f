// The resamplers: the platform's (libsoxr on Linux, the sinc filter on Windows) and the sinc
// filter itself on every platform. Each must keep a word's length and timing, pass speech
// at its level, and keep what the lower rate cannot hold from folding back into it.
#include "brumlis/platform/sound.h"
#include "sincresampler.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace brumlis {
namespace {

constexpr double Pi = 3.14159265358979323846;

struct Maker {
    std::string name;
    std::function<std::unique_ptr<platform::Resampler>(int, int, int)> make;
};

void PrintTo(const Maker& maker, std::ostream* out) {
    *out << maker.name;
}

std::vector<Maker> makers() {
    return {{"platform", &platform::Resampler::create},
            {"sinc", [](int in, int out, int channels) -> std::unique_ptr<platform::Resampler> {
                 return platform::SincResampler::create(in, out, channels);
             }}};
}

// `input` through a resampler in the pieces given (their sizes in frames, the rest in one),
// the last call with `last`.
std::vector<float> resample(platform::Resampler& resampler, const std::vector<float>& input,
                            int channels, const std::vector<std::int64_t>& pieces = {}) {
    std::vector<float> out;
    const std::int64_t frames = std::int64_t(input.size()) / channels;
    std::int64_t at = 0;
    for (std::int64_t piece : pieces) {
        piece = std::min(piece, frames - at);
        EXPECT_TRUE(resampler.process(input.data() + at * channels, piece, out, false));
        at += piece;
    }
    EXPECT_TRUE(resampler.process(input.data() + at * channels, frames - at, out, true));
    return out;
}

std::vector<float> tone(double hertz, int rate, int frames, double amplitude = 0.5) {
    std::vector<float> out(std::size_t(frames), 0.0f);
    for (int i = 0; i < frames; ++i)
        out[std::size_t(i)] = float(amplitude * std::sin(2 * Pi * hertz * i / rate));
    return out;
}

struct Fit {
    double amplitude = 0;
    double phase = 0;    // radians, against a sine that starts at frame 0
    double residual = 0; // RMS of what the sine leaves
};

// The sine of `hertz` nearest to frames [from, to) of `y` at `rate`, by least squares.
Fit fitTone(const std::vector<float>& y, double hertz, int rate, std::size_t from, std::size_t to) {
    double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
    for (std::size_t n = from; n < to; ++n) {
        const double w = 2 * Pi * hertz * double(n) / rate;
        const double s = std::sin(w), c = std::cos(w);
        ss += s * s;
        sc += s * c;
        cc += c * c;
        ys += y[n] * s;
        yc += y[n] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det;
    const double b = (yc * ss - ys * sc) / det;
    double left = 0;
    for (std::size_t n = from; n < to; ++n) {
        const double w = 2 * Pi * hertz * double(n) / rate;
        const double e = y[n] - (a * std::sin(w) + b * std::cos(w));
        left += e * e;
    }
    return {std::hypot(a, b), std::atan2(b, a), std::sqrt(left / double(to - from))};
}

double rms(const std::vector<float>& y, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t n = from; n < to; ++n)
        sum += double(y[n]) * y[n];
    return std::sqrt(sum / double(to - from));
}

class Resampling : public testing::TestWithParam<Maker> {
protected:
    std::unique_ptr<platform::Resampler> make(int in, int out, int channels = 1) {
        auto resampler = GetParam().make(in, out, channels);
        EXPECT_NE(resampler, nullptr) << in << " -> " << out;
        return resampler;
    }
};

// After the last frame, the output is the input's length at the new rate.
TEST_P(Resampling, KeepsTheLength) {
    struct Case {
        int in, out;
        std::int64_t frames;
    };
    for (const Case c :
         {Case{22050, 48000, 22050}, Case{22050, 48000, 1}, Case{8000, 44100, 1234},
          Case{48000, 22050, 12345}, Case{44100, 48000, 999}, Case{16000, 48000, 7},
          Case{48000, 8000, 100}, Case{11025, 44100, 5000}, Case{44101, 48000, 3000},
          Case{48000, 44101, 3001}, Case{96000, 44100, 20000}, Case{22050, 48000, 0}}) {
        SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out << ", " << c.frames);
        auto resampler = make(c.in, c.out);
        ASSERT_NE(resampler, nullptr);
        const std::vector<float> out =
            resample(*resampler, tone(440, c.in, int(c.frames)), 1, {c.frames / 3});
        const double expected = std::round(double(c.frames) * c.out / c.in);
        EXPECT_NEAR(double(out.size()), expected, 1.0);
    }
}

// A click at input frame `at` comes out at the same time, at `at * out / in`, and the filter
// around it is symmetric: no shift of a whole frame nor of part of one.
TEST_P(Resampling, ClickStaysInTime) {
    struct Case {
        int in, out, at;
    };
    for (const Case c :
         {Case{22050, 48000, 1470}, Case{48000, 44100, 4800}, Case{8000, 48000, 800},
          Case{48000, 16000, 4800}, Case{44100, 48000, 4410}, Case{16000, 44100, 1600},
          Case{44100, 22050, 4410}, Case{22050, 48000, 0}}) {
        SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out << ", click at " << c.at);
        auto resampler = make(c.in, c.out);
        ASSERT_NE(resampler, nullptr);
        std::vector<float> input(std::size_t(2 * c.at + c.in / 10), 0.0f);
        input[std::size_t(c.at)] = 1.0f;
        const std::vector<float> out = resample(*resampler, input, 1, {333});
        const std::int64_t expected = std::int64_t(c.at) * c.out / c.in;
        ASSERT_GT(std::int64_t(out.size()), expected + 1);
        std::size_t peak = 0;
        for (std::size_t n = 1; n < out.size(); ++n)
            if (std::abs(out[n]) > std::abs(out[peak]))
                peak = n;
        EXPECT_EQ(std::int64_t(peak), expected);
        const auto e = std::size_t(expected);
        const float p = out[e];
        EXPECT_GT(p, 0.0f);
        if (e > 0) {
            EXPECT_NEAR(out[e - 1], out[e + 1], 0.01f * p);
        }
    }
}

// A tone in the pass band keeps its level and its phase (its timing) to the sample.
TEST_P(Resampling, PassesSpeechBand) {
    struct Case {
        int in, out;
        double hertz;
    };
    for (const Case c :
         {Case{22050, 48000, 1000}, Case{22050, 48000, 0.45 * 22050}, Case{8000, 44100, 3500},
          Case{48000, 22050, 0.45 * 22050}, Case{44100, 48000, 15000},
          Case{48000, 44100, 0.45 * 44100}, Case{16000, 48000, 200}, Case{44101, 48000, 9000},
          Case{48000, 8000, 3000}}) {
        SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out << ", " << c.hertz << " Hz");
        auto resampler = make(c.in, c.out);
        ASSERT_NE(resampler, nullptr);
        const std::vector<float> out = resample(*resampler, tone(c.hertz, c.in, c.in), 1, {4096});
        const auto from = std::size_t(c.out / 10), to = std::size_t(c.out - c.out / 10);
        ASSERT_GE(out.size(), to);
        const Fit fit = fitTone(out, c.hertz, c.out, from, to);
        EXPECT_NEAR(20 * std::log10(fit.amplitude / 0.5), 0.0, 0.1) << "dB";
        EXPECT_NEAR(fit.phase, 0.0, 0.005) << "radians";
        // What is not the tone: the filter's images and folds, down by 80 dB.
        EXPECT_LT(fit.residual, 0.5e-4);
    }
}

// A tone above the output's Nyquist frequency does not fold back into what is heard.
TEST_P(Resampling, StopsWhatTheOutputCannotHold) {
    struct Case {
        int in, out;
        double hertz;
    };
    for (const Case c :
         {Case{48000, 22050, 13000}, Case{48000, 22050, 11600}, Case{44100, 16000, 8500},
          Case{48000, 8000, 4400}, Case{48000, 44101, 23000}, Case{96000, 44100, 30000}}) {
        SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out << ", " << c.hertz << " Hz");
        auto resampler = make(c.in, c.out);
        ASSERT_NE(resampler, nullptr);
        const std::vector<float> out = resample(*resampler, tone(c.hertz, c.in, c.in), 1, {4096});
        const auto from = std::size_t(c.out / 10), to = std::size_t(c.out - c.out / 10);
        ASSERT_GE(out.size(), to);
        // 80 dB under the tone's 0.5.
        EXPECT_LT(rms(out, from, to), 0.5e-4);
    }
}

// Fed in pieces of every size, one frame or none among them, the output is the same as
// from one call.
TEST_P(Resampling, PiecesGiveTheSameAsOneCall) {
    struct Case {
        int in, out, channels;
    };
    std::mt19937 random(42);
    for (const Case c : {Case{22050, 48000, 1}, Case{48000, 22050, 2}, Case{44101, 48000, 1},
                         Case{8000, 44100, 2}}) {
        SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out << " x" << c.channels);
        std::vector<float> input;
        std::normal_distribution<float> noise(0.0f, 0.2f);
        for (int i = 0; i < c.in / 2 * c.channels; ++i)
            input.push_back(noise(random));
        auto whole = make(c.in, c.out, c.channels);
        auto pieces = make(c.in, c.out, c.channels);
        ASSERT_TRUE(whole && pieces);
        std::vector<std::int64_t> sizes;
        std::uniform_int_distribution<int> size(0, 3000);
        for (std::int64_t total = 0; total < c.in / 2;) {
            sizes.push_back(sizes.size() % 5 == 1 ? sizes.size() % 2 : size(random));
            total += sizes.back();
        }
        const std::vector<float> once = resample(*whole, input, c.channels);
        const std::vector<float> many = resample(*pieces, input, c.channels, sizes);
        ASSERT_EQ(once.size(), many.size());
        for (std::size_t i = 0; i < once.size(); ++i)
            ASSERT_NEAR(once[i], many[i], 1e-6f) << "sample " << i;
    }
}

// Each channel is resampled on its own: a silent channel stays silent beside a loud one.
TEST_P(Resampling, KeepsChannelsApart) {
    const std::vector<float> left = tone(1000, 22050, 22050);
    std::vector<float> stereo;
    for (float v : left) {
        stereo.push_back(v);
        stereo.push_back(0.0f);
    }
    auto mono = make(22050, 48000, 1);
    auto two = make(22050, 48000, 2);
    ASSERT_TRUE(mono && two);
    const std::vector<float> alone = resample(*mono, left, 1);
    const std::vector<float> both = resample(*two, stereo, 2);
    ASSERT_EQ(both.size(), 2 * alone.size());
    for (std::size_t n = 0; n < alone.size(); ++n) {
        ASSERT_NEAR(both[2 * n], alone[n], 1e-6f) << "frame " << n;
        ASSERT_NEAR(both[2 * n + 1], 0.0f, 1e-7f) << "frame " << n;
    }
}

TEST_P(Resampling, RefusesWhatIsNoRate) {
    for (const auto& [in, out, channels] :
         {std::tuple{0, 48000, 1}, std::tuple{44100, 0, 1}, std::tuple{-8000, 48000, 1},
          std::tuple{44100, 48000, 0}, std::tuple{44100, 48000, -2}}) {
        EXPECT_EQ(GetParam().make(in, out, channels), nullptr)
            << in << " " << out << " " << channels;
    }
}

INSTANTIATE_TEST_SUITE_P(Each, Resampling, testing::ValuesIn(makers()),
                         [](const auto& info) { return info.param.name; });

// Down by more than 1024 the filter would be too long to run.
TEST(SincResampler, RefusesRatiosBeyondItsFilter) {
    EXPECT_EQ(platform::SincResampler::create(768000, 700, 1), nullptr);
    EXPECT_NE(platform::SincResampler::create(768000, 750, 1), nullptr);
    EXPECT_NE(platform::SincResampler::create(700, 768000, 1), nullptr);
}

// After its last frame the sinc filter starts over: a second word comes out as the first.
TEST(SincResampler, StartsOverAfterTheLast) {
    auto resampler = platform::SincResampler::create(22050, 48000, 1);
    ASSERT_NE(resampler, nullptr);
    const std::vector<float> input = tone(700, 22050, 5000);
    const std::vector<float> first = resample(*resampler, input, 1, {100});
    const std::vector<float> second = resample(*resampler, input, 1, {2000});
    EXPECT_EQ(first, second);
}

} // namespace
} // namespace brumlis
