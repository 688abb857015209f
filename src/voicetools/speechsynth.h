#pragma once

#include <QString>
#include <vector>

namespace brumlis {

/// espeak-ng's Swedish voice through its C library, speaking into memory.
///
/// espeak-ng keeps one global state per process: every SpeechSynth shares it, it is started
/// by the first one and kept until the process ends, and it is not thread-safe.
class SpeechSynth {
public:
    /// Words per minute: a little slower than espeak-ng's default, as for a child listening.
    static constexpr int WordsPerMinute = 150;

    SpeechSynth();
    ~SpeechSynth();
    SpeechSynth(const SpeechSynth&) = delete;
    SpeechSynth& operator=(const SpeechSynth&) = delete;

    /// False when espeak-ng or its Swedish voice could not be loaded; error() says why.
    bool isReady() const { return m_rate > 0; }
    QString error() const { return m_error; }

    /// Mono, at rate().
    int rate() const { return m_rate; }

    /// `text` spoken, as samples in [-1, 1]; empty on failure.
    std::vector<float> speak(const QString& text);

private:
    int m_rate = 0;
    QString m_error;
};

} // namespace brumlis
