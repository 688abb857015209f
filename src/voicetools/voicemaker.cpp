#include "brumlis/voicetools/voicemaker.h"

#include "brumlis/audio/decibels.h"
#include "brumlis/qtbridge/files.h"
#include "brumlis/soundfiles/loudness.h"
#include "brumlis/soundfiles/wavfile.h"
#include "speechsynth.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QSet>
#include <algorithm>
#include <cmath>

namespace brumlis {

std::vector<float> trimSilence(const std::vector<float>& samples) {
    const auto loud = [](float s) { return std::fabs(s) >= SilenceLevel; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    if (first == samples.end())
        return {};
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
    return std::vector<float>(first, last);
}

void matchLoudness(std::vector<float>& samples, int rate, double targetLufs) {
    const ClipMeasure measure =
        measureSamples(samples.data(), std::int64_t(samples.size()), rate, 1);
    if (!std::isfinite(measure.loudnessLufs) || !std::isfinite(measure.peakDbfs))
        return;
    const double gainDb =
        std::min(targetLufs - measure.loudnessLufs, MaxPeakDbfs - measure.peakDbfs);
    const float gain = float(dbToAmplitude(gainDb));
    for (float& s : samples)
        s *= gain;
}

double targetLoudness(const QList<QByteArray>& files) {
    std::vector<double> levels;
    for (const QByteArray& file : files)
        if (const auto measure = measureClip(file); measure && std::isfinite(measure->loudnessLufs))
            levels.push_back(measure->loudnessLufs);
    return median(std::move(levels)).value_or(DefaultLufs);
}

double targetLoudness(const std::vector<RecordingReport>& recordings, const QByteArray& replacing) {
    std::vector<double> levels;
    for (const RecordingReport& recording : recordings)
        if (recording.measure && std::isfinite(recording.measure->loudnessLufs) &&
            (replacing.isEmpty() || recording.file != replacing))
            levels.push_back(recording.measure->loudnessLufs);
    return median(std::move(levels)).value_or(DefaultLufs);
}

QByteArray makeRecording(std::vector<float> samples, int rate, double targetLufs,
                         const char* software) {
    matchLoudness(samples, rate, targetLufs);
    return encodeWav(toPcm16(samples), rate, 1, software);
}

VoiceMaker::VoiceMaker(const QString& dataDir, bool remake, const QString& voice)
    : m_root(dataDir.isEmpty() ? QStringLiteral(".") : dataDir)
    , m_voice(voice) {
    const std::vector<WordReport> words = collectWords(dataDir, &m_lists);
    const FileResolver resolver(corePath(dataDir));
    for (const WordReport& word : words) {
        // A phrase's file name is fixed by the program; a word's is the word itself.
        if (const QString why = word.isPhrase() ? QString() : fileNameProblem(word.text);
            !why.isEmpty()) {
            m_skipped.push_back({word.text, why});
            continue;
        }
        if (!remake && resolver.find(core(word.soundPath)).match != FileResolver::Match::None) {
            ++m_present;
            continue;
        }
        m_wanted.push_back(word);
    }
}

VoiceMaker::~VoiceMaker() = default;

std::optional<bool> VoiceMaker::hasVoice(const QString& voice) {
    return SpeechSynth::hasVoice(voice);
}

VoiceMaker::Result VoiceMaker::start() {
    // Before anything is measured or created: a voice that is not there makes nothing.
    if (hasVoice(m_voice) == false)
        return {Result::Problem::UnknownVoice, m_voice};
    // Matched to the recordings this run keeps, so that a remade voice does not drift
    // towards its own last run.
    QSet<QString> targets;
    for (const WordReport& word : m_wanted)
        targets.insert(QDir::cleanPath(m_root + u'/' + word.soundPath));
    QList<QByteArray> kept;
    for (const QByteArray& file : recordingFiles(m_root))
        if (!targets.contains(QDir::cleanPath(QFile::decodeName(file))))
            kept << file;
    m_targetLufs = targetLoudness(kept);

    m_synth = std::make_unique<SpeechSynth>(m_voice);
    if (!m_synth->isReady())
        return {Result::Problem::NoSynth, m_synth->error()};
    const QString soundFolder = m_root + u'/' + dataSubfolder(m_root, QStringLiteral("sound")).name;
    if (!QDir().mkpath(soundFolder))
        return {Result::Problem::NoSoundFolder, soundFolder};
    return {};
}

VoiceMaker::Result VoiceMaker::make(const WordReport& word) {
    std::vector<float> samples = trimSilence(m_synth->speak(word.text));
    if (samples.empty())
        return {Result::Problem::NoSound, {}};
    // Marked, so that check and the studio tell it from a person's recording.
    const QByteArray wav =
        makeRecording(std::move(samples), m_synth->rate(), m_targetLufs, VoiceSoftware);
    QString why;
    if (wav.isEmpty() || !writeFileAtomically(recordingTarget(m_root, word.soundPath), wav, &why))
        return {Result::Problem::NotWritten, why};
    return {};
}

} // namespace brumlis
