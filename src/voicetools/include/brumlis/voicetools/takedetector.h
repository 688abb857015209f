#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brumlis {

/// A sample at or above this (about -0.1 dBFS) for ClipRun samples in a row is clipping: an
/// input driven that hard holds its largest value flat for a while, where ordinary speech
/// only touches a high value for one sample at a peak.
inline constexpr float ClipLevel = 0.99f;
inline constexpr int ClipRun = 3;

/// How a take is found in a stream of sound: levels in dBFS of the RMS of 10 ms windows.
struct TakeSettings {
    int rate = 48000;
    /// An armed detector starts a take when this many windows in a row reach startDbfs.
    double startDbfs = -40.0;
    int startWindows = 2;
    /// Windows below this count as silence towards the end of a take. Lower than the start
    /// level, so a voice that trails off near it does not end the take word by word.
    double stopDbfs = -45.0;
    /// Sound kept from before the voice was noticed: the start of a word is softer than what
    /// set the detector off.
    double preRollSeconds = 0.2;
    /// A take that has heard a voice ends after this much silence.
    double endSilenceSeconds = 0.6;
    /// A take ends at this length, whatever it hears, so memory stays bounded.
    double maxSeconds = 30.0;
};

/// Peak and RMS of the sound fed since the last reading, and whether any of it clipped.
struct LevelReading {
    float peak = 0.0f;
    float rms = 0.0f;
    bool clipped = false;
};

/// Finds takes in mono sound fed in pieces of any size: started by a key or, when armed, by
/// the voice itself, and ended by a key, by silence once a voice was heard, or at the
/// length limit. Deterministic: the same samples give the same takes however they are cut
/// into pieces. Not thread-safe; the caller serialises feeding and commands.
class TakeDetector {
public:
    enum class End { Silence, Key, Limit };

    struct Take {
        std::vector<float> samples;
        int rate = 0;
        /// The frame of `samples` where the voice was first heard, or -1 when it never was.
        std::int64_t voiceAt = -1;
        End endedBy = End::Key;
    };

    /// What one call of feed() did, in this order: takes that ended in the piece, then
    /// whether a take began in it that still runs at its end. A piece longer than a take
    /// can do both.
    struct Events {
        std::vector<Take> ended;
        bool started = false;
    };

    explicit TakeDetector(TakeSettings settings = {});

    const TakeSettings& settings() const { return m_settings; }

    /// When armed, a voice starts a take by itself.
    void setArmed(bool armed);
    bool isArmed() const { return m_armed; }

    /// While not listening (the studio is playing a take back into the room), the voice
    /// starts nothing; a take already running goes on.
    void setListening(bool listening);

    bool isRecording() const { return m_recording; }

    /// Starts a take now, with the sound of the last pre-roll in front of it. Does nothing
    /// while recording.
    void start();
    /// Ends the running take now and hands it over; nothing when none runs.
    std::vector<Take> stop();

    Events feed(const float* samples, std::size_t count);

    /// Peak, RMS and clipping of what was fed since the last call.
    LevelReading takeReading();

private:
    void beginTake(std::size_t fromHistory);
    Take endTake(End why);
    void closeWindow(Events& events);

    TakeSettings m_settings;
    std::size_t m_window;      ///< samples per 10 ms window
    std::size_t m_preRoll;     ///< samples kept in front of a take
    std::size_t m_historyKeep; ///< samples of history needed to start a take
    std::size_t m_endSilenceWindows;
    std::size_t m_maxSamples;
    double m_startPower;
    double m_stopPower;

    bool m_armed = false;
    bool m_listening = true;
    bool m_recording = false;

    std::vector<float> m_history; ///< recent sound while no take runs
    std::vector<float> m_take;
    std::int64_t m_voiceAt = -1;
    std::size_t m_loudWindows = 0;
    std::size_t m_quietWindows = 0;

    double m_windowSquares = 0.0;
    std::size_t m_windowFill = 0;

    float m_readingPeak = 0.0f;
    double m_readingSquares = 0.0;
    std::size_t m_readingCount = 0;
    bool m_readingClipped = false;
    int m_clipRun = 0;
};

} // namespace brumlis
