// The audio engine without a sound server: what SDL's disk driver shows, the cost of
// decoding a clip, the memory used while a long file streams. Each is measured in a file
// of its own (playback_bench.h); here they run in turn and are held to their goals. Exits
// non-zero when a goal is missed. The figures on real sound servers are bench-servers'.
#include "playback_bench.h"

#include "benchkit.h"
#include "brumlis/playback/audioengine.h"
#include "goaltable.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sndfile.h>
#include <string>

using namespace brumlis::bench;
using brumlis::AudioEngine;

int main(int argc, char* argv[]) {
    if (argc == 4 && std::strcmp(argv[1], "--stream") == 0)
        return streamChild(argv[2], argv[3]);
    // The speech controller runs in an event loop, as in the window.
    QCoreApplication app(argc, argv);

    QTemporaryDir dir;
    const QString sound = dir.filePath(QStringLiteral("sound"));
    if (!dir.isValid() || !QDir().mkpath(sound))
        return 1;
    writeWords(sound);

    const int bufferFrames = AudioEngine::WantedBufferFrames;
    const auto engine = measureDiskDriver(dir.path(), dir.filePath(QStringLiteral("capture.raw")));

    std::printf("Speaking %d words through SDL's disk driver (48 kHz stereo float, device buffer "
                "%d frames).\n",
                WordCount, bufferFrames);
    std::printf("silence = samples inserted before the word\n\n");
    std::printf("%-12s %-14s | %14s\n", "word", "recording", "engine silence");
    double worstSilence = 0;
    for (int w = 0; w < WordCount; ++w) {
        char rec[32];
        std::snprintf(rec, sizeof rec, "%d Hz %dch", Words[w].rate, Words[w].channels);
        // Pad by characters, not bytes: "är" is three bytes wide.
        const QString name = QString::fromUtf8(Words[w].name).leftJustified(12);
        std::printf("%s %-14s | %14.0f\n", name.toUtf8().constData(), rec, engine[w].silenceBefore);
        worstSilence = std::max(worstSilence, engine[w].silenceBefore);
    }

    const QString oneSecond = dir.filePath(QStringLiteral("sound/en sekund.wav"));
    writeLevelClip(oneSecond, SF_FORMAT_PCM_16, 22050, 1, 22050, 0.3f);
    const DecodeFigures decode = measureDecode(oneSecond);
    const QString oneSecondCd = dir.filePath(QStringLiteral("sound/en sekund cd.wav"));
    writeLevelClip(oneSecondCd, SF_FORMAT_PCM_16, 44100, 2, 44100, 0.3f);
    const DecodeFigures decodeCd = measureDecode(oneSecondCd);

    writeLevelClip(dir.filePath(QStringLiteral("sound/tio sekunder.wav")), SF_FORMAT_PCM_16, 44100,
                   2, 44100L * 10, 0.3f);
    writeLevelClip(dir.filePath(QStringLiteral("sound/tio minuter.wav")), SF_FORMAT_PCM_16, 44100,
                   2, 44100L * 600, 0.3f);
    const auto shortStream = measureStreaming(dir.path(), "tio sekunder");
    const auto longStream = measureStreaming(dir.path(), "tio minuter");
    std::optional<double> growth;
    if (shortStream && longStream)
        growth = double(longStream->peakKiB - shortStream->peakKiB);
    std::string unthrottled;
    if (longStream) {
        char text[128];
        std::snprintf(text, sizeof text, "streamed in %.1f s with the disk driver unthrottled",
                      longStream->seconds);
        unthrottled = text;
    }

    // A clip's first chunk must be ready before the device has played out the piece
    // before it: one device buffer.
    const double period = 1000.0 * bufferFrames / Rate;
    constexpr Unit Samples{"sa", 0};
    constexpr Unit KiB{"KiB", 0};
    GoalTable table;
    table.goal("disk driver: most silence between two words", worstSilence, Samples,
               Goal::exactly(0));
    table.goal("decode+convert+queue, first chunk of a 1 s clip (22 kHz)", decode.firstChunkMs,
               {"ms", 3}, Goal::atMost(period), "one device buffer");
    table.report("decode+convert+queue, whole 1 s clip (22 kHz mono)", decode.wholeClipMs,
                 {"ms", 3});
    table.report("decode+convert+queue, whole 1 s clip (44.1 kHz stereo)", decodeCd.wholeClipMs,
                 {"ms", 3});
    table.report("peak memory streaming a 10 s file (44.1 kHz stereo)",
                 shortStream ? std::optional<double>(shortStream->peakKiB) : std::nullopt, KiB);
    table.report("peak memory streaming a 10 min file (101 MiB)",
                 longStream ? std::optional<double>(longStream->peakKiB) : std::nullopt, KiB,
                 unthrottled);
    table.goal("growth from 10 s to 10 min", growth, KiB, Goal::atMost(1024));
    return table.print() ? 0 : 1;
}
