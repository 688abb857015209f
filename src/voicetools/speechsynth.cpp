#include "speechsynth.h"

#include <algorithm>
#include <espeak-ng/speak_lib.h>

namespace brumlis {

namespace {

int collect(short* samples, int count, espeak_EVENT* events) {
    auto* out = static_cast<std::vector<float>*>(events ? events->user_data : nullptr);
    if (out && samples)
        for (int i = 0; i < count; ++i)
            out->push_back(float(samples[i]) / 32768.0f);
    return 0;
}

// espeak-ng hangs when it is started again after espeak_Terminate, so it is started once
// per process and left running until the process ends. Its sample rate, or 0.
int engineRate() {
    static const int rate = [] {
        // DONT_EXIT: without its data espeak-ng would end the whole program.
        const int r =
            espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
        if (r <= 0)
            return 0;
        espeak_SetSynthCallback(collect);
        return r;
    }();
    return rate;
}

// The voice espeak-ng speaks with now, as last set through selectVoice.
QString& currentVoice() {
    static QString voice;
    return voice;
}

// A name is handed to espeak-ng only when it can be nothing but a voice's name: espeak-ng
// also takes paths below its voices folder, and a name that climbs out of it would have
// any file read as a voice.
bool isVoiceName(const QString& voice) {
    return !voice.isEmpty() && voice.size() <= 64 &&
           std::all_of(voice.begin(), voice.end(), [](QChar c) {
               return (c.unicode() < 128 && c.isLetterOrNumber()) || c == u'-' || c == u'_' ||
                      c == u'+';
           });
}

bool selectVoice(const QString& voice) {
    if (!isVoiceName(voice))
        return false;
    if (currentVoice() == voice)
        return true;
    if (espeak_SetVoiceByName(voice.toUtf8().constData()) != EE_OK)
        return false;
    // The rate stays with a change of voice, but is set again should a voice bring its own.
    espeak_SetParameter(espeakRATE, SpeechSynth::WordsPerMinute, 0);
    currentVoice() = voice;
    return true;
}

} // namespace

SpeechSynth::SpeechSynth(const QString& voice)
    : m_voice(voice) {
    const int rate = engineRate();
    if (rate <= 0)
        m_error = QStringLiteral("espeak-ng kunde inte startas");
    else if (!selectVoice(voice))
        m_error = QStringLiteral("espeak-ng har ingen röst som heter \"%1\"").arg(voice);
    else
        m_rate = rate;
}

SpeechSynth::~SpeechSynth() = default;

std::optional<bool> SpeechSynth::hasVoice(const QString& voice) {
    if (engineRate() <= 0)
        return std::nullopt;
    return selectVoice(voice);
}

std::vector<float> SpeechSynth::speak(const QString& text) {
    std::vector<float> samples;
    if (!isReady() || !selectVoice(m_voice))
        return samples;
    const QByteArray utf8 = text.toUtf8();
    if (espeak_Synth(utf8.constData(), std::size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0,
                     espeakCHARS_UTF8, nullptr, &samples) != EE_OK ||
        espeak_Synchronize() != EE_OK)
        samples.clear();
    return samples;
}

} // namespace brumlis
