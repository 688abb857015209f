#include "speaker.h"

#include "sentence/sentencebuffer.h"
#include "soundplayer.h"

namespace brumlis {

bool SpeakSentence(const SentenceBuffer& buffer, SentenceView& view, SoundPlayer& player) {
    view.showCaption(QString());
    for (int i = 0; i < SentenceBuffer::SpokenSlots; ++i) {
        if (view.speakingAborted())
            return false;
        // The word goes on screen when its clip is about to be heard, not earlier: the
        // clip before it may still be playing until then.
        player.prepare(buffer.SoundFile(i));
        if (view.speakingAborted())
            return false;
        view.showCaption(view.caption() + buffer.WordText(i) + u' ');
        player.play(buffer.SoundFile(i));
    }
    player.drain();
    if (view.speakingAborted())
        return false;
    view.setRepeatEnabled(true);
    view.setGenerateEnabled(true);
    view.focusGenerate();
    return true;
}

} // namespace brumlis
