#pragma once

#include <QString>
#include <optional>
#include <vector>

namespace brumlis {

/// An espeak-ng voice through its C library, speaking into memory.
///
/// espeak-ng keeps one global state per process: every SpeechSynth shares it, it is started
/// by the first one and kept until the process ends, and it is not thread-safe. Each
/// SpeechSynth sets its own voice again before it speaks, so two of them with different
/// voices may take turns.
class SpeechSynth {
public:
    /// Words per minute: a little slower than espeak-ng's default, as for a child listening.
    static constexpr int WordsPerMinute = 150;

    /// Speaks with espeak-ng's voice `voice`: a language ("sv", "en-us"), with a variant
    /// after "+" if wanted ("en+f3").
    explicit SpeechSynth(const QString& voice = QStringLiteral("sv"));
    ~SpeechSynth();
    SpeechSynth(const SpeechSynth&) = delete;
    SpeechSynth& operator=(const SpeechSynth&) = delete;

    /// False when espeak-ng or the voice could not be loaded; error() says why.
    bool isReady() const { return m_rate > 0; }
    QString error() const { return m_error; }

    /// Mono, at rate().
    int rate() const { return m_rate; }

    /// `text` spoken, as samples in [-1, 1]; empty on failure.
    std::vector<float> speak(const QString& text);

    /// Whether espeak-ng has the voice `voice`; nothing when espeak-ng cannot be started.
    static std::optional<bool> hasVoice(const QString& voice);

private:
    QString m_voice;
    int m_rate = 0;
    QString m_error;
};

} // namespace brumlis
