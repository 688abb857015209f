#pragma once
// bench-playback's measurements, one file each: the engine on SDL's disk driver
// (playback_diskdriver.cpp), the cost of decoding a clip (playback_decoding.cpp) and the
// memory used while a long file streams (playback_streaming.cpp).
#include <QString>
#include <optional>
#include <vector>

namespace brumlis::bench {

/// The rate the device is opened at, and the measurements counted in.
inline constexpr int Rate = 48000;

struct WordFigures {
    double silenceBefore = 0; // samples at 48 kHz inserted before this word
};

/// The sentence of level clips in `dataDir` spoken by the engine on SDL's disk driver,
/// which writes what it is given to `capture`: a device that can never run late, so only
/// the engine's own queue can run dry there.
std::vector<WordFigures> measureDiskDriver(const QString& dataDir, const QString& capture);

struct DecodeFigures {
    double firstChunkMs;
    double wholeClipMs;
};

/// Opening, decoding and converting the clip at `path` into a queue, median of runs.
DecodeFigures measureDecode(const QString& path);

struct StreamFigures {
    long rssBeforeKiB = 0;
    long peakKiB = 0;
    double seconds = 0;
};

/// Peak memory of a process of its own that streams `dataDir`'s sound/`word`.wav through
/// the engine: this program run again with --stream. None when that process failed.
std::optional<StreamFigures> measureStreaming(const QString& dataDir, const char* word);
/// That process: prints its figures for measureStreaming() to read.
int streamChild(const char* dataDir, const char* word);

} // namespace brumlis::bench
