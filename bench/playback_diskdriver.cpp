#include "benchkit.h"
#include "brumlis/linuxaudio/playerfactory.h"
#include "brumlis/playback/audioengine.h"
#include "brumlis/playback/speechcontroller.h"
#include "playback_bench.h"
#include "support/capture.h"

#include <QByteArray>
#include <QFile>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace brumlis::bench {

std::vector<WordFigures> measureDiskDriver(const QString& dataDir, const QString& capture) {
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", QFile::encodeName(capture).constData(), 1);
    auto speaking = std::make_unique<Speaking>(createSystemPlayer(corePath(dataDir)));
    // The first sentence waits for the device, which opens meanwhile.
    speakThrough(*speaking, sentence());
    std::vector<WordFigures> figures(WordCount);
    speaking.reset(); // closing the device writes out the capture

    // Inserted silence, straight from the captured stream.
    QFile file(capture);
    if (!file.open(QIODevice::ReadOnly))
        std::exit(1);
    const QByteArray bytes = file.readAll();
    const std::size_t frames = std::size_t(bytes.size()) / 8;
    const auto* samples = reinterpret_cast<const float*>(bytes.constData());
    int current = -1;
    long zeros = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const float left = samples[2 * i];
        if (left == 0.0f) {
            if (current >= 0)
                ++zeros;
            continue;
        }
        const int nearest = test::nearestLevel(left, wordLevels());
        if (nearest != current) {
            if (current >= 0 && nearest < WordCount)
                figures[nearest].silenceBefore = double(zeros);
            current = nearest;
        }
        zeros = 0;
    }
    return figures;
}

} // namespace brumlis::bench
