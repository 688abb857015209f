#pragma once

#include "brumlis/voicecheck/folderreport.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace brumlis {

/// The espeak-ng voice that `voice` speaks with unless it is given another.
inline constexpr char DefaultVoice[] = "sv";

/// Loudness a new recording gets when the folder has none to match.
inline constexpr double DefaultLufs = -23.0;
/// New recordings peak at most this high, so matching loudness never clips.
inline constexpr double MaxPeakDbfs = -1.0;

/// `samples` without the silence before the first and after the last sample at
/// SilenceLevel (mono). Empty when it holds nothing else.
std::vector<float> trimSilence(const std::vector<float>& samples);

/// Scales mono `samples` at `rate` to `targetLufs`, but no higher than MaxPeakDbfs at its peak.
/// Silence stays as it is.
void matchLoudness(std::vector<float>& samples, int rate, double targetLufs);

/// The median loudness of the recordings at `files`, or DefaultLufs when none has one.
double targetLoudness(const QList<QByteArray>& files);

/// The same from recordings measured already: the median of those in `recordings` other
/// than the file at `replacing` (file-system bytes, as RecordingReport::file), so a new
/// take of a word is matched to the rest of the voice and not to its own last take.
double targetLoudness(const std::vector<RecordingReport>& recordings,
                      const QByteArray& replacing = {});

/// A finished recording as voice and the studio write it: mono `samples` at `rate` set to
/// `targetLufs` (see matchLoudness), as a 16-bit PCM WAV file with `software` in its software
/// field. Empty when libsndfile cannot encode it.
QByteArray makeRecording(std::vector<float> samples, int rate, double targetLufs,
                         const char* software);

class SpeechSynth;

/// Makes the recordings a data folder lacks with an espeak-ng voice (the Swedish one unless
/// told otherwise): each word and fixed phrase is spoken, the silence before and after it cut off,
/// its loudness set to the median of the recordings that stay, and it is written under the name the
/// program looks for, marked as made by voice. Nothing is printed: the caller walks wanted() and
/// says what came of each.
class VoiceMaker {
public:
    /// A word that gets no recording because its text cannot be a file name.
    struct Skipped {
        QString text;
        QString why; ///< as fileNameProblem() says it
    };

    /// What came of start() or make().
    struct Result {
        enum class Problem {
            None,
            NoSynth,       ///< espeak-ng could not be started
            UnknownVoice,  ///< espeak-ng has no voice by the name given
            NoSoundFolder, ///< sound/ could not be created
            NoSound,       ///< espeak-ng gave nothing but silence for the word
            NotWritten,    ///< the file could not be encoded or written
        };
        Problem problem = Problem::None;
        /// NoSynth: espeak-ng's reason; UnknownVoice: the name; NoSoundFolder: the folder;
        /// NotWritten: why, when the file system said (empty when libsndfile could not encode the
        /// sound).
        QString detail;

        bool ok() const { return problem == Problem::None; }
    };

    /// Reads the data folder at `dataDir` (empty: the working directory) as the program
    /// reads it and picks the words to make: those without a recording found by any of the
    /// program's rules or, with `remake`, all of them. They are spoken by espeak-ng's voice
    /// `voice`.
    VoiceMaker(const QString& dataDir, bool remake, const QString& voice = DefaultVoice);
    ~VoiceMaker();
    VoiceMaker(const VoiceMaker&) = delete;
    VoiceMaker& operator=(const VoiceMaker&) = delete;

    /// Every list, read or not.
    const std::vector<ListReport>& lists() const { return m_lists; }
    /// The words to make, fixed phrases first, then in list order.
    const std::vector<WordReport>& wanted() const { return m_wanted; }
    const std::vector<Skipped>& skipped() const { return m_skipped; }
    /// The words that have a recording and keep it.
    int present() const { return m_present; }

    /// Whether espeak-ng has the voice `voice` ("sv", "en-us", "en+f3"); nothing when
    /// espeak-ng cannot be started. Asks nothing of a data folder and writes nothing.
    static std::optional<bool> hasVoice(const QString& voice);

    /// Gets ready to make wanted(): checks the voice, measures the recordings that stay for the
    /// loudness to match, loads espeak-ng and creates sound/.
    Result start();
    /// The loudness the new recordings get, once started.
    double targetLufs() const { return m_targetLufs; }

    /// Makes and writes the recording of `word`, one of wanted(), after a start() that
    /// succeeded. The file appears whole or not at all.
    Result make(const WordReport& word);

private:
    QString m_root; ///< the data folder, "." for the working directory
    QString m_voice;
    std::vector<ListReport> m_lists;
    std::vector<WordReport> m_wanted;
    std::vector<Skipped> m_skipped;
    int m_present = 0;
    double m_targetLufs = DefaultLufs;
    std::unique_ptr<SpeechSynth> m_synth;
};

} // namespace brumlis
