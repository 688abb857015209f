#pragma once
// What the playback benchmarks share: a sentence of level clips, a view that notes when
// each word is shown, and speaking through the controller as the window does.
#include "brumlis/playback/speechcontroller.h"
#include "brumlis/qtbridge/qtspeechloop.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/sentence/sentencebuffer.h"
#include "support/levelclip.h"

#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sndfile.h>
#include <vector>

namespace brumlis::bench {

using Clock = std::chrono::steady_clock;

inline double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

inline void writeLevelClip(const QString& path, int format, int rate, int channels, long frames,
                           float level) {
    if (!test::writeLevelClip(path, format, rate, channels, frames, level)) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), sf_strerror(nullptr));
        std::exit(1);
    }
}

// A sentence of word-length clips in the encodings a Windows recorder might use. Each
// clip holds one level in every sample (but for the fades the program puts at its ends),
// so silence between them is a run of zeros and every frame can be told apart.
struct Word {
    const char* name;
    int format;
    int rate;
    int channels;
    double seconds;
    float level;
};
inline const Word Words[] = {
    {"Kalle", SF_FORMAT_PCM_16, 22050, 1, 0.34, 0.20f},
    {"tycker_att", SF_FORMAT_PCM_16, 22050, 1, 0.67, 0.25f},
    {"Lisa", SF_FORMAT_PCM_24, 44100, 2, 0.38, 0.30f},
    // Not ADPCM, whose last block decodes to a tail at another level: every frame of a
    // level clip must hold its level, or the capture cannot be judged.
    {"är", SF_FORMAT_PCM_16, 22050, 1, 0.35, 0.35f},
    {"glad", SF_FORMAT_FLOAT, 48000, 2, 0.41, 0.40f},
    {"och", SF_FORMAT_PCM_U8, 11025, 1, 0.22, 0.45f},
    {"sjunger", SF_FORMAT_ULAW, 8000, 1, 0.52, 0.50f},
    {"hemma", SF_FORMAT_PCM_16, 48000, 2, 0.45, 0.55f},
};
inline constexpr int WordCount = int(std::size(Words));

inline const std::vector<float>& wordLevels() {
    static const std::vector<float> levels = [] {
        std::vector<float> v;
        for (const Word& w : Words)
            v.push_back(w.level);
        return v;
    }();
    return levels;
}

/// Writes the words' clips into `soundDir`.
inline void writeWords(const QString& soundDir) {
    for (const Word& w : Words)
        writeLevelClip(soundDir + QStringLiteral("/%1.wav").arg(QString::fromUtf8(w.name)),
                       w.format, w.rate, w.channels, std::lround(w.seconds * w.rate), w.level);
}

/// Frames of word `w` at 48 kHz.
inline long wordFrames(int w) {
    return std::lround(Words[w].seconds * Words[w].rate) * 48000 / Words[w].rate;
}

inline SentenceBuffer sentence() {
    SentenceBuffer buffer;
    for (int i = 0; i < WordCount; ++i) {
        buffer.WordText(i) = core(QString::fromUtf8(Words[i].name));
        buffer.SoundFile(i) = u"sound\\" + buffer.WordText(i) + u".wav";
    }
    return buffer;
}

/// Notes when each word appears.
class TimingView final : public SentenceView {
public:
    void sentenceStarted() override {}
    void wordShown(int, const std::u16string& word) override {
        if (!word.empty())
            shown.push_back(Clock::now());
    }
    void sentenceEnded() override {
        if (ended)
            ended();
    }

    std::vector<Clock::time_point> shown;
    std::function<void()> ended;
};

/// A controller as the window has one: on the Qt loop of the thread that made it.
struct Speaking {
    explicit Speaking(std::unique_ptr<SoundPlayer> player)
        : speech(view, std::move(player), loop) {}
    QtSpeechLoop loop;
    TimingView view;
    SpeechController speech;
};

/// Speaks `buffer` as the window does, in an event loop of its own, and returns once it has
/// been heard (false when that took more than a minute).
inline bool speakThrough(Speaking& speaking, const SentenceBuffer& buffer) {
    QEventLoop loop;
    speaking.view.ended = [&loop] { loop.quit(); };
    QTimer::singleShot(60000, &loop, [&loop] { loop.exit(1); });
    speaking.speech.SpeakSentence(buffer);
    const bool heard = loop.exec() == 0;
    speaking.view.ended = {};
    return heard;
}

inline double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

} // namespace brumlis::bench
