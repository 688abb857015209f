#include "speechsynth.h"

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

struct Engine {
    int rate = 0;
    QString error;
};

// espeak-ng hangs when it is started again after espeak_Terminate, so it is started once
// per process and left running until the process ends.
const Engine& engine() {
    static const Engine started = [] {
        Engine e;
        // DONT_EXIT: without its data espeak-ng would end the whole program.
        const int rate =
            espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
        if (rate <= 0) {
            e.error = QStringLiteral("espeak-ng kunde inte startas");
            return e;
        }
        if (espeak_SetVoiceByName("sv") != EE_OK) {
            e.error = QStringLiteral("espeak-ng har ingen svensk röst (sv)");
            return e;
        }
        espeak_SetParameter(espeakRATE, SpeechSynth::WordsPerMinute, 0);
        espeak_SetSynthCallback(collect);
        e.rate = rate;
        return e;
    }();
    return started;
}

} // namespace

SpeechSynth::SpeechSynth()
    : m_rate(engine().rate)
    , m_error(engine().error) {}

SpeechSynth::~SpeechSynth() = default;

std::vector<float> SpeechSynth::speak(const QString& text) {
    std::vector<float> samples;
    if (!isReady())
        return samples;
    const QByteArray utf8 = text.toUtf8();
    if (espeak_Synth(utf8.constData(), std::size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0,
                     espeakCHARS_UTF8, nullptr, &samples) != EE_OK ||
        espeak_Synchronize() != EE_OK)
        samples.clear();
    return samples;
}

} // namespace brumlis
